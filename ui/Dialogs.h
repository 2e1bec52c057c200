// The common file dialogs as components of a form, driven through the responder.
#pragma once

#include <string>

#include "ui/Responder.h"

class TOpenDialog {
public:
    virtual ~TOpenDialog() = default;
    std::string Title;
    std::string Filter;       // "Bildliste (*.bls)|*.bls"
    std::string DefaultExt;   // without the dot
    // Where the dialog opens; empty: in LastFolder.
    std::string InitialDir;
    std::string FileName;     // the chosen file after a successful Execute

    // The folder of the file chosen last in any file dialog of the program,
    // so that saving a list and loading it again start in the same place;
    // empty until a file was chosen, and then the dialogs open in the home folder.
    static std::string LastFolder;

    // True when the user chose a file; FileName then holds it, with DefaultExt
    // appended when the name was typed without an extension.
    virtual bool Execute();

protected:
    TFileDialogKind kind_ = TFileDialogKind::Open;
    std::string WithDefaultExt(const std::string& name) const;
    TFileDialogRequest Request() const;
    static void Remember(const std::string& chosen);
};

// Asks whether the existing file at path may be replaced; true for "Yes".
bool ConfirmReplace(const std::string& path);

class TSaveDialog : public TOpenDialog {
public:
    TSaveDialog() { kind_ = TFileDialogKind::Save; }
    // Ask before a chosen file that exists is replaced; "No" opens the dialog again.
    bool OverwritePrompt = true;
    bool Execute() override;
};
