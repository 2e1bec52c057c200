// The one seam through which every modal interaction of the program passes:
// message boxes, file and folder dialogs and forms shown modally. The program
// installs TQtResponder (real dialogs); tests install TScriptedResponder
// (ui/ScriptedResponder.h), which answers from a queue and records what was
// asked; the command-line front end answers on the terminal.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ui/Types.h"

class TForm;
class QPrinter;
class QDialog;
class QWidget;

struct TMessageRequest {
    std::string Text;
    std::string Caption;
    TMsgIcon Icon = TMsgIcon::None;
    TMsgButtons Buttons = mbOK;
};

enum class TFileDialogKind { Open, Save };

struct TFileDialogRequest {
    TFileDialogKind Kind = TFileDialogKind::Open;
    std::string Title;
    // "Description|pattern|Description|pattern ...": what is shown, then what it matches.
    std::string Filter;
    std::string DefaultExt;
    std::string InitialDir;
    std::string FileName;
};

struct TFolderRequest {
    std::string Title;
    std::string InitialDir;
};

class TResponder {
public:
    virtual ~TResponder() = default;
    // The button pressed: mrOk, mrCancel, mrYes, mrNo ...
    virtual TModalResult MessageBox(const TMessageRequest& request) = 0;
    // The name the user chose, as typed (the default extension and the
    // overwrite question are the dialog components' business); none on cancel.
    virtual std::optional<std::string> FileDialog(const TFileDialogRequest& request) = 0;
    virtual std::optional<std::string> SelectFolder(const TFolderRequest& request) = 0;
    // Runs the form modally and returns its modal result.
    virtual TModalResult ShowModal(TForm& form) = 0;
    // The printer set-up dialog on `printer` (printer, paper, orientation, or
    // a PDF file instead of a printer); true when the user confirmed, and only
    // then is `printer` changed.
    virtual bool PrinterSetup(QPrinter& printer) = 0;
};

// A filter "Description|pattern;pattern|..." in the form Qt's file dialogs
// read: "Description (pattern pattern);;...".
std::string QtFilterText(const std::string& filter);

// The responder in force: the one installed last, else the real dialogs.
TResponder& Responder();
// Installs r (not owned); null goes back to the real dialogs.
void SetResponder(TResponder* r);

// Installs a responder for a scope and puts the previous one back after it.
class TResponderScope {
public:
    explicit TResponderScope(TResponder& r);
    ~TResponderScope();
    TResponderScope(const TResponderScope&) = delete;
    TResponderScope& operator=(const TResponderScope&) = delete;

private:
    TResponder* previous_;
};

// A message box through the responder.
TModalResult MessageDlg(const std::string& text, const std::string& caption, TMsgIcon icon,
                        TMsgButtons buttons);

// The program's responder: real Qt dialogs.
class TQtResponder : public TResponder {
public:
    TModalResult MessageBox(const TMessageRequest& request) override;
    std::optional<std::string> FileDialog(const TFileDialogRequest& request) override;
    std::optional<std::string> SelectFolder(const TFolderRequest& request) override;
    TModalResult ShowModal(TForm& form) override;
    bool PrinterSetup(QPrinter& printer) override;
    // The set-up dialog as PrinterSetup shows it: the printer's settings,
    // and a button that says it takes them ("Übernehmen"), for nothing is
    // printed from it.
    static std::unique_ptr<QDialog> MakePrinterSetupDialog(QPrinter& printer, QWidget* parent);
};
