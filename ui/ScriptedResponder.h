// A responder for tests: answers modal interactions from a queue, in order, and
// records every question. An interaction whose kind does not match the next
// queued answer, or that finds the queue empty, is answered "cancel" and
// counted in Unanswered(), so a test can see a question it did not expect.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/Responder.h"

enum class TAskKind { Message, OpenFile, SaveFile, Folder, Form, PrinterSetup };

struct TAsked {
    TAskKind Kind = TAskKind::Message;
    std::string Text;        // message text, dialog or form caption
    std::string Caption;     // message caption, dialog title
    TMsgIcon Icon = TMsgIcon::None;
    TMsgButtons Buttons = 0;
    std::string Filter;
    std::string DefaultExt;
    std::string InitialDir;
    std::string FormName;
    bool Answered = false;
};

class TScriptedResponder : public TResponder {
public:
    using TFormScript = std::function<TModalResult(TForm&)>;

    void AnswerMessage(TModalResult r);
    // A file name, or none for "cancelled".
    void AnswerFile(std::optional<std::string> name);
    void AnswerFolder(std::optional<std::string> folder);
    // The script acts on the form (fills fields, presses buttons) and returns its
    // result; mrNone takes the ModalResult the pressed buttons left (Cancel if none).
    void AnswerForm(TFormScript script);
    void AnswerForm(TModalResult r);
    // The script plays the user in the printer set-up dialog (may change the
    // printer) and returns whether OK was pressed.
    using TPrinterScript = std::function<bool(QPrinter&)>;
    void AnswerPrinterSetup(TPrinterScript script);

    const std::vector<TAsked>& Asked() const { return asked_; }
    int Unanswered() const { return unanswered_; }
    std::size_t Pending() const { return queue_.size(); }
    void Reset();

    TModalResult MessageBox(const TMessageRequest& request) override;
    std::optional<std::string> FileDialog(const TFileDialogRequest& request) override;
    std::optional<std::string> SelectFolder(const TFolderRequest& request) override;
    TModalResult ShowModal(TForm& form) override;
    bool PrinterSetup(QPrinter& printer) override;

private:
    struct Answer {
        enum { Message, File, Folder, Form, Printer } Kind;
        TModalResult Result = mrNone;
        std::optional<std::string> Name;
        TFormScript Script;
        TPrinterScript PrinterScript;
    };
    std::optional<Answer> Take(int kind, TAsked asked);

    std::deque<Answer> queue_;
    std::vector<TAsked> asked_;
    int unanswered_ = 0;
};
