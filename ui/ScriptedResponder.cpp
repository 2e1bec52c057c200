#include "ui/ScriptedResponder.h"

#include "ui/Form.h"

void TScriptedResponder::AnswerMessage(TModalResult r)
{
    queue_.push_back(Answer{Answer::Message, r, std::nullopt, {}, {}});
}

void TScriptedResponder::AnswerFile(std::optional<std::string> name)
{
    queue_.push_back(Answer{Answer::File, mrNone, std::move(name), {}, {}});
}

void TScriptedResponder::AnswerFolder(std::optional<std::string> folder)
{
    queue_.push_back(Answer{Answer::Folder, mrNone, std::move(folder), {}, {}});
}

void TScriptedResponder::AnswerForm(TFormScript script)
{
    queue_.push_back(Answer{Answer::Form, mrNone, std::nullopt, std::move(script), {}});
}

void TScriptedResponder::AnswerForm(TModalResult r)
{
    AnswerForm([r](TForm&) { return r; });
}

void TScriptedResponder::AnswerPrinterSetup(TPrinterScript script)
{
    Answer a{Answer::Printer, mrNone, std::nullopt, {}, {}};
    a.PrinterScript = std::move(script);
    queue_.push_back(std::move(a));
}

void TScriptedResponder::Reset()
{
    queue_.clear();
    asked_.clear();
    unanswered_ = 0;
}

std::optional<TScriptedResponder::Answer> TScriptedResponder::Take(int kind, TAsked asked)
{
    std::optional<Answer> answer;
    if (!queue_.empty() && queue_.front().Kind == kind) {
        answer = std::move(queue_.front());
        queue_.pop_front();
    } else {
        ++unanswered_;
    }
    asked.Answered = answer.has_value();
    asked_.push_back(std::move(asked));
    return answer;
}

TModalResult TScriptedResponder::MessageBox(const TMessageRequest& request)
{
    TAsked a;
    a.Kind = TAskKind::Message;
    a.Text = request.Text;
    a.Caption = request.Caption;
    a.Icon = request.Icon;
    a.Buttons = request.Buttons;
    auto answer = Take(Answer::Message, std::move(a));
    if (!answer)
        return (request.Buttons & mbCancel) ? mrCancel : (request.Buttons & mbNo) ? mrNo : mrCancel;
    return answer->Result;
}

std::optional<std::string> TScriptedResponder::FileDialog(const TFileDialogRequest& request)
{
    TAsked a;
    a.Kind = request.Kind == TFileDialogKind::Save ? TAskKind::SaveFile : TAskKind::OpenFile;
    a.Text = request.FileName;
    a.Caption = request.Title;
    a.Filter = request.Filter;
    a.DefaultExt = request.DefaultExt;
    a.InitialDir = request.InitialDir;
    auto answer = Take(Answer::File, std::move(a));
    return answer ? answer->Name : std::nullopt;
}

std::optional<std::string> TScriptedResponder::SelectFolder(const TFolderRequest& request)
{
    TAsked a;
    a.Kind = TAskKind::Folder;
    a.Caption = request.Title;
    a.InitialDir = request.InitialDir;
    auto answer = Take(Answer::Folder, std::move(a));
    return answer ? answer->Name : std::nullopt;
}

TModalResult TScriptedResponder::ShowModal(TForm& form)
{
    TAsked a;
    a.Kind = TAskKind::Form;
    a.Text = form.Caption();
    a.FormName = form.Name;
    auto answer = Take(Answer::Form, std::move(a));
    if (!answer)
        return mrCancel;
    // The form is not shown: the script plays the user on its controls.
    form.ModalResult = mrNone;
    TModalResult r = answer->Script(form);
    // mrNone: whatever the buttons the script pressed left in ModalResult.
    if (r == mrNone)
        r = form.ModalResult() != mrNone ? static_cast<TModalResult>(form.ModalResult()) : mrCancel;
    form.ModalResult = r;
    return r;
}

bool TScriptedResponder::PrinterSetup(QPrinter& printer)
{
    TAsked a;
    a.Kind = TAskKind::PrinterSetup;
    auto answer = Take(Answer::Printer, std::move(a));
    return answer && answer->PrinterScript && answer->PrinterScript(printer);
}
