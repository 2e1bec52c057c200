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
    std::string InitialDir;
    std::string FileName;     // the chosen file after a successful Execute

    // True when the user chose a file; FileName then holds it, with DefaultExt
    // appended when the name was typed without an extension.
    virtual bool Execute();

protected:
    TFileDialogKind kind_ = TFileDialogKind::Open;
    std::string WithDefaultExt(const std::string& name) const;
};

class TSaveDialog : public TOpenDialog {
public:
    TSaveDialog() { kind_ = TFileDialogKind::Save; }
    // Ask before a chosen file that exists is replaced; "No" opens the dialog again.
    bool OverwritePrompt = true;
    bool Execute() override;
};
