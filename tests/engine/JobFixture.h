// The scan and the downloads without a window: a front end that plays the
// user from a script, and a fixture that owns the client and the jobs the way
// the command line does, with helpers that act while a job waits.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "engine/JobFrontend.h"
#include "engine/PictureJobs.h"
#include "net/NoticeTimer.h"
#include "support/JobLines.h"
#include "support/NetFixtures.h"

// A question or an error box the engine put to the user.
struct TPrompt {
    bool Question = false;
    std::string Text;
    std::string Caption;  // empty for a question
};

class TScriptedFrontend : public TJobFrontend {
public:
    // ---- what the user chose, read by the engine whenever it asks
    std::vector<std::string> Types = DefaultFileTypes();
    std::string ProxyText;
    bool Auto = false;
    bool Modern = false;
    std::string Folder;
    bool Skip = false;

    // ---- the script: answers to the follow questions, in order. A question
    // that finds none is answered No and counted in Unanswered().
    void Answer(TFollowAnswer a) { answers_.push_back(a); }
    int Unanswered() const { return unanswered_; }
    // Forgets the prompts seen, the answers left and the unanswered count.
    void Reset()
    {
        answers_.clear();
        Asked.clear();
        unanswered_ = 0;
    }

    // ---- what the engine showed
    std::vector<std::string> Lines;
    // Hears every memo line as it is added (after it is in Lines).
    std::function<void(const std::string&)> OnLine;
    std::vector<TPrompt> Asked;
    std::vector<std::string> Questions() const
    {
        std::vector<std::string> out;
        for (const TPrompt& p : Asked)
            if (p.Question)
                out.push_back(p.Text);
        return out;
    }
    // The found list, in the order found, one row per FoundListKey.
    const std::vector<std::string>& Found() const { return found_; }
    // Sets the list as the user may have left it (duplicates by key dropped).
    void SetFound(const std::vector<std::string>& rows)
    {
        found_.clear();
        keys_.clear();
        for (const std::string& r : rows)
            Append(r);
    }
    // The last progress reported: the run's share in percent, the file's.
    int TotalPercent = 0;
    int FilePercent = 0;
    std::optional<TScanProgress> LastScan;

    void MemoLine(const std::string& line) override
    {
        Lines.push_back(line);
        if (OnLine)
            OnLine(line);
    }
    TFollowAnswer AskFollow(const std::string& question) override
    {
        Asked.push_back({true, question, ""});
        if (answers_.empty()) {
            ++unanswered_;
            return TFollowAnswer::No;
        }
        const TFollowAnswer a = answers_.front();
        answers_.pop_front();
        return a;
    }
    void ErrorBox(const std::string& text, const std::string& caption) override
    {
        Asked.push_back({false, text, caption});
    }
    bool FoundAddress(const std::string& address) override { return Append(address); }
    void FoundFlush() override {}
    void ScanProgress(const TScanProgress& progress) override
    {
        LastScan = progress;
    }
    void DownloadProgress(std::size_t, std::size_t) override {}
    void DataArrived(int, int filePercent) override { FilePercent = filePercent; }
    void TotalProgress(int percent) override { TotalPercent = percent; }
    std::vector<std::string> FileTypes() override { return Types; }
    std::string Proxy() override { return ProxyText; }
    bool AutoMode() override { return Auto; }
    bool ModernMarkup() override { return Modern; }
    std::string TargetFolder() override { return Folder; }
    bool SkipExisting() override { return Skip; }

private:
    bool Append(const std::string& address)
    {
        if (!keys_.insert(FoundListKey(address)).second)
            return false;
        found_.push_back(address);
        return true;
    }

    std::deque<TFollowAnswer> answers_;
    int unanswered_ = 0;
    std::vector<std::string> found_;
    std::unordered_set<std::string> keys_;
};

// One client and the jobs on it, set up as the window sets them up by
// default: keep-alive, six requests in flight, a minute's idle limit.
class TEngineJobFixture : public ::testing::Test {
protected:
    TEngineJobFixture()
    {
        SetupJobClient(Cli);
        Cli.IdleTimeout = 60;
        Cli.KeepAlive = true;
        Cli.OnDocData = [this](THttpCli& Sender, const char*, int Len) { Jobs.DocData(Sender, Len); };
        Cli.OnRequestDone = [this](THttpCli& Sender, THttpRequest, std::uint16_t Error) {
            Jobs.RequestDone(Sender.StatusCode(), Error);
        };
        Jobs.UseChoices();
    }

    void TearDown() override { Watch.reset(); }

    // A scan of the typed address, with the memo lines of this scan only.
    void Scan(const std::string& typed)
    {
        Lines.clear();
        Running = true;
        Jobs.Scan(typed);
        Running = false;
    }
    // A download run of the addresses, as the window starts one: nothing for
    // an empty list; the memo lines of this run only.
    void Download(const std::vector<std::string>& addresses)
    {
        Lines.clear();
        if (addresses.empty())
            return;
        Running = true;
        Jobs.Download(addresses);
        Running = false;
    }

    // While the next job waits: checks `when` every few milliseconds and runs
    // `action` once as soon as it holds. If the job is still running after the
    // deadline, it is broken off so that a broken test fails instead of hanging.
    void DuringJob(std::function<bool()> when, std::function<void()> action,
                   std::chrono::milliseconds deadline = std::chrono::seconds(15))
    {
        Watch = std::make_unique<TWatch>();
        TWatch* w = Watch.get();
        w->Poll = std::make_unique<TNoticeTimer>([this, w, when, action] {
            if (w->Done)
                return;
            if (!when()) {
                w->Poll->Start(TNoticeClock::now() + std::chrono::milliseconds(2));
                return;
            }
            w->Done = true;
            action();
        });
        w->Deadline = std::make_unique<TNoticeTimer>([this, w] {
            if (Running) {
                w->TimedOut = true;
                Jobs.Break();
            }
        });
        w->Poll->Start(TNoticeClock::now() + std::chrono::milliseconds(2));
        w->Deadline->Start(TNoticeClock::now() + deadline);
    }
    bool ActionRan() const { return Watch && Watch->Done; }
    bool TimedOut() const { return Watch && Watch->TimedOut; }

    std::vector<std::string> Found() const { return Front.Found(); }
    std::vector<std::string> Questions() const { return Front.Questions(); }

    THttpCli Cli;
    TScriptedFrontend Front;
    TPictureJobs Jobs{Cli, Front};
    std::vector<std::string>& Lines = Front.Lines;
    std::function<void(const std::string&)>& OnLine = Front.OnLine;
    bool Running = false;

private:
    struct TWatch {
        std::unique_ptr<TNoticeTimer> Poll;
        std::unique_ptr<TNoticeTimer> Deadline;
        bool Done = false;
        bool TimedOut = false;
    };
    std::unique_ptr<TWatch> Watch;
};
