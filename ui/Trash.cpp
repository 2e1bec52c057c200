#include "ui/Trash.h"

// Qt
#include <QFile>

// ours
#include "ui/HostWidget.h"

namespace {

TTrashFunction& Override()
{
    static TTrashFunction f;
    return f;
}

}  // namespace

bool MoveToTrash(const std::string& path)
{
    if (Override())
        return Override()(path);
    // moveToTrash fails (rather than deleting) where no trash can be used.
    return QFile::moveToTrash(ToQString(path));
}

void SetTrashFunction(TTrashFunction f)
{
    Override() = std::move(f);
}
