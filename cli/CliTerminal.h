// The terminal side of weblumifang-cli: answers the form's modal questions,
// mirrors the status memo to standard output and shows progress on standard
// error when that is a terminal.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "ui/Responder.h"

// Keeps one progress line at the bottom of a terminal; anything else written
// to the terminal first clears it.
class TProgressLine {
public:
    explicit TProgressLine(bool enabled) : enabled_(enabled) {}
    bool Enabled() const { return enabled_; }
    void Show(const std::string& text);
    void Clear();

private:
    bool enabled_;
    std::string shown_;
};

class TCliResponder : public TResponder {
public:
    // in: the terminal's descriptor; interruptFd: readable once the user
    // pressed Ctrl+C, which answers a pending question with No.
    TCliResponder(int in, bool inIsTerminal, int interruptFd, TProgressLine& progress)
        : in_(in), inIsTerminal_(inIsTerminal), interruptFd_(interruptFd), progress_(progress)
    {
    }

    // The name the next file dialog answers with (the -l and -s files).
    std::optional<std::string> NextFile;
    // An error box was shown: the run ends with status 1.
    bool ErrorShown = false;

    TModalResult MessageBox(const TMessageRequest& request) override;
    std::optional<std::string> FileDialog(const TFileDialogRequest& request) override;
    std::optional<std::string> SelectFolder(const TFolderRequest& request) override;
    TModalResult ShowModal(TForm& form) override;
    // No printer set-up on a terminal: the printer stays as it is.
    bool PrinterSetup(QPrinter& printer) override;

private:
    // forAll: the question also takes "a" (alle) and "k" (keine).
    TModalResult AskYesNo(const std::string& text, bool forAll);

    int in_;
    bool inIsTerminal_;
    int interruptFd_;
    TProgressLine& progress_;
};

// "j", "ja", "y", "yes" in any letter case, blanks around ignored.
bool IsYesAnswer(const std::string& line);
// A typed answer: Yes as IsYesAnswer, with forAll also "a"/"alle" (Yes to
// all) and "k"/"keine" (No to all); anything else is No.
TModalResult ParseAnswer(const std::string& line, bool forAll);
