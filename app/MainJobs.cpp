// The window's side of the two jobs: the buttons that start them, and what
// the engine reports to and reads from the window while they run.
#include "app/MainUnit.h"

// system
#include <string>
#include <vector>

// ours
#include "engine/DownloadNames.h"
#include "ui/StringListModel.h"

// Qt
#include <QWidget>

namespace {

// Puts the window back however a job is left.
class TJobWindowGuard {
public:
    explicit TJobWindowGuard(TMainForm& f) : f_(f) {}
    ~TJobWindowGuard() { f_.SetIdleState(); }
    TJobWindowGuard(const TJobWindowGuard&) = delete;
    TJobWindowGuard& operator=(const TJobWindowGuard&) = delete;

private:
    TMainForm& f_;
};

}  // namespace

void TMainForm::GoBtnClick()
{
    if (URLEdit->Text().empty())
        return;
    // Jobs share HttpCli1: never one inside another's wait.
    if (JobRunning)
        return;
    SetScanState();
    {
        TJobWindowGuard restore(*this);
        Memo1->Clear();
        Engine.Scan(URLEdit->Text());
        FoundFlush();
    }
    // What was found is what the user works on next.
    if (FoundImageList().Count() > 0 && Widget()->isVisible()) {
        PageControl2->SetActivePage(TabSheet2);
        ListBox1->Widget()->setFocus();
    }
}

std::string TMainForm::TargetDir() const
{
    return dlnames::TargetDirOf(DirectoryEdit1->Text());
}

std::string TMainForm::UrlFileName(const std::string& Address)
{
    return dlnames::SaveFileName(Address);
}

void TMainForm::DownAllBtnClick()
{
    if (JobRunning)
        return;
    std::vector<std::string> work = FoundImageList().ToVector();
    if (!work.empty())
        DownloadList(work);
}

void TMainForm::DownBtnClick()
{
    if (JobRunning)
        return;
    const std::vector<bool> marked = ListBox1->SelectionFlags();
    TStrings& list = FoundImageList();
    std::vector<std::string> work;
    for (int i = 0; i < list.Count(); ++i)
        if (static_cast<std::size_t>(i) < marked.size() && marked[static_cast<std::size_t>(i)])
            work.push_back(list.Get(i));
    if (!work.empty())
        DownloadList(work);
}

void TMainForm::DownloadList(const std::vector<std::string>& WorkList)
{
    if (JobRunning)
        return;
    SetDownloadState();
    TJobWindowGuard restore(*this);
    Engine.Download(WorkList);
}

TFollowAnswer TMainForm::AskFollow(const std::string& question)
{
    HoldJobWait(true);
    const TModalResult answer =
        MessageDlg(question, "Frage", TMsgIcon::Question, mbYes | mbNo | mbYesToAll | mbNoToAll);
    HoldJobWait(false);
    switch (answer) {
    case mrYes: return TFollowAnswer::Yes;
    case mrYesToAll: return TFollowAnswer::YesToAll;
    case mrNoToAll: return TFollowAnswer::NoToAll;
    default: return TFollowAnswer::No;
    }
}

void TMainForm::ErrorBox(const std::string& text, const std::string& caption)
{
    MessageDlg(text, caption, TMsgIcon::Error, mbOK);
}

bool TMainForm::FoundAddress(const std::string& address)
{
    // One redraw of the list per page, not per picture.
    if (!foundBatch_) {
        FoundImageList().BeginUpdate();
        foundBatch_ = true;
    }
    const bool added = AddFoundImage(address);
    foundAdded_ = foundAdded_ || added;
    return added;
}

void TMainForm::FoundFlush()
{
    if (!foundBatch_)
        return;
    foundBatch_ = false;
    FoundImageList().EndUpdate();
    if (foundAdded_)
        ListBoxChanged();
    foundAdded_ = false;
}

void TMainForm::DataArrived(int bytes, int filePercent)
{
    NoteJobData(bytes);
    if (ProgressBar1->Position() != filePercent)
        ProgressBar1->Position = filePercent;
}

std::vector<std::string> TMainForm::FileTypes()
{
    return FileTypeList().ToVector();
}

std::string TMainForm::Proxy()
{
    return ProxyEdit->Text();
}

bool TMainForm::AutoMode()
{
    return Autosaug->Checked();
}

bool TMainForm::ModernMarkup()
{
    return ModernCheck->Checked();
}

std::string TMainForm::TargetFolder()
{
    return DirectoryEdit1->Text();
}

bool TMainForm::SkipExisting()
{
    return OverJumpCheck->Checked();
}
