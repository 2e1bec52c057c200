#include "ui/Dialogs.h"

// system
#include <sys/stat.h>

// Qt
#include <QDir>

std::string TOpenDialog::LastFolder;

TFileDialogRequest TOpenDialog::Request() const
{
    std::string dir = InitialDir;
    if (dir.empty())
        dir = LastFolder;
    // Not the working folder: started from a menu that is the program's own
    // folder, where nobody keeps lists.
    if (dir.empty())
        dir = QDir::homePath().toStdString();
    return TFileDialogRequest{kind_, Title, Filter, DefaultExt, dir, FileName};
}

void TOpenDialog::Remember(const std::string& chosen)
{
    const std::size_t slash = chosen.find_last_of('/');
    if (slash != std::string::npos)
        LastFolder = slash == 0 ? std::string("/") : chosen.substr(0, slash);
}

bool TOpenDialog::Execute()
{
    auto chosen = Responder().FileDialog(Request());
    if (!chosen || chosen->empty())
        return false;
    Remember(*chosen);
    FileName = WithDefaultExt(*chosen);
    // A file picked from the listing that has no extension is opened as it is,
    // unless a file with the default extension stands beside it.
    struct stat st {};
    if (FileName != *chosen && ::stat(FileName.c_str(), &st) != 0 && ::stat(chosen->c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
        FileName = *chosen;
    return true;
}

std::string TOpenDialog::WithDefaultExt(const std::string& name) const
{
    if (DefaultExt.empty())
        return name;
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return name;
    return name + "." + DefaultExt;
}

bool ConfirmReplace(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string shown = slash == std::string::npos ? path : path.substr(slash + 1);
    return MessageDlg(shown + " ist bereits vorhanden.\nMöchten Sie sie ersetzen?", "Speichern unter bestätigen",
                      TMsgIcon::Warning, mbYes | mbNo) == mrYes;
}

bool TSaveDialog::Execute()
{
    for (;;) {
        auto chosen = Responder().FileDialog(Request());
        if (!chosen || chosen->empty())
            return false;
        Remember(*chosen);
        const std::string name = WithDefaultExt(*chosen);
        struct stat st {};
        if (OverwritePrompt && ::stat(name.c_str(), &st) == 0 && !ConfirmReplace(name))
            continue;
        FileName = name;
        return true;
    }
}
