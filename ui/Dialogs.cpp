#include "ui/Dialogs.h"

// system
#include <sys/stat.h>

bool TOpenDialog::Execute()
{
    TFileDialogRequest request{kind_, Title, Filter, DefaultExt, InitialDir, FileName};
    auto chosen = Responder().FileDialog(request);
    if (!chosen || chosen->empty())
        return false;
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

bool TSaveDialog::Execute()
{
    for (;;) {
        TFileDialogRequest request{kind_, Title, Filter, DefaultExt, InitialDir, FileName};
        auto chosen = Responder().FileDialog(request);
        if (!chosen || chosen->empty())
            return false;
        const std::string name = WithDefaultExt(*chosen);
        struct stat st {};
        if (OverwritePrompt && ::stat(name.c_str(), &st) == 0) {
            const std::string shown = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
            const TModalResult answer = MessageDlg(shown + " ist bereits vorhanden.\nMöchten Sie sie ersetzen?",
                                                   "Speichern unter bestätigen", TMsgIcon::Warning, mbYes | mbNo);
            if (answer != mrYes)
                continue;
        }
        FileName = name;
        return true;
    }
}
