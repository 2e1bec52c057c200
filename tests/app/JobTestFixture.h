// A main window for the job tests: no options file, a scripted responder, the
// memo lines collected in order, and helpers that act while a job waits.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QTimer>

#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "support/JobLines.h"
#include "support/NetFixtures.h"
#include "ui/NoticeBridge.h"
#include "ui/ScriptedResponder.h"

class TJobFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        TNoticeBridge::InstallForThisThread();
        Scope.emplace(Responder);
        TMainFormSetup setup;
        setup.UseOptionsFile = false;
        Form = std::make_unique<TMainForm>(setup);
        MainForm = Form.get();
        Form->OnMemoLine = [this](const std::string& line) {
            Lines.push_back(line);
            if (OnLine)
                OnLine(line);
        };
    }

    void TearDown() override
    {
        Watch.reset();
        MainForm = nullptr;
        Form.reset();
        Scope.reset();
    }

    // The questions asked so far (message texts), in order.
    std::vector<std::string> Questions() const
    {
        std::vector<std::string> out;
        for (const TAsked& a : Responder.Asked())
            if (a.Kind == TAskKind::Message)
                out.push_back(a.Text);
        return out;
    }

    std::vector<std::string> Found() { return Form->FoundImageList().ToVector(); }

    // While the next job waits: checks `when` every few milliseconds and runs
    // `action` once as soon as it holds. If the job is still running after the
    // deadline, Cancel is pressed so that a broken test fails instead of hanging.
    void DuringJob(std::function<bool()> when, std::function<void()> action,
                   std::chrono::milliseconds deadline = std::chrono::seconds(15))
    {
        Watch = std::make_unique<TWatch>();
        Watch->Poll.setInterval(2);
        QObject::connect(&Watch->Poll, &QTimer::timeout, [this, when, action] {
            if (Watch->Done || !when())
                return;
            Watch->Done = true;
            Watch->Poll.stop();
            action();
        });
        Watch->Poll.start();
        Watch->Deadline.setSingleShot(true);
        Watch->Deadline.setInterval(static_cast<int>(deadline.count()));
        QObject::connect(&Watch->Deadline, &QTimer::timeout, [this] {
            if (Form->JobRunning) {
                Watch->TimedOut = true;
                Form->BreakBtnClick();
            }
        });
        Watch->Deadline.start();
    }
    bool ActionRan() const { return Watch && Watch->Done; }
    bool TimedOut() const { return Watch && Watch->TimedOut; }

    TScriptedResponder Responder;
    std::optional<TResponderScope> Scope;
    std::unique_ptr<TMainForm> Form;
    std::vector<std::string> Lines;
    std::function<void(const std::string&)> OnLine;

private:
    struct TWatch {
        QTimer Poll;
        QTimer Deadline;
        bool Done = false;
        bool TimedOut = false;
    };
    std::unique_ptr<TWatch> Watch;
};
