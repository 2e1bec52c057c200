#include "ui/ProgramIcon.h"

// Qt
#include <QFile>
#include <QString>

// The icons live in a static library; naming its resource here links it in.
static void InitProgramIconResource()
{
    Q_INIT_RESOURCE(wl_program_icons);
}

QIcon ProgramIcon()
{
    static const QIcon icon = [] {
        InitProgramIconResource();
        QIcon i;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString file = QString(":/icons/program-%1.png").arg(size);
            if (QFile::exists(file))
                i.addFile(file, QSize(size, size));
        }
        return i;
    }();
    return icon;
}
