#include "ui/Language.h"

// Qt
#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool InstallQtGerman()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    const QString name = QStringLiteral("QtGerman");
    if (app->findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly))
        return true;
    // A child of the application: a translator removed or freed takes its
    // texts with it, so it lives exactly as long as the application.
    auto* t = new QTranslator(app);
    t->setObjectName(name);
    // qtbase holds the texts of the widgets and dialogs; the "qt" catalogue
    // would pull in modules the program does not use.
    if (!t->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(t);
    return true;
}
