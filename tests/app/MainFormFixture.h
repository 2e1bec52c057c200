// A main window built as the program builds it, with its options file in a
// fresh temporary folder and every question answered by a scripted responder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include "app/AddTypeBtn.h"
#include "app/MainUnit.h"
#include "browser/BrowserFUnit.h"
#include "ui/AboutBoxUnit.h"
#include "ui/ScriptedResponder.h"

namespace wltest {

namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class TempFolder {
public:
    TempFolder()
    {
        std::string tmpl = (fs::temp_directory_path() / "wl-form-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempFolder()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }
    std::string Dir() const { return path_.string() + "/"; }

private:
    fs::path path_;
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Closing the main window in a test must not end the test program.
        QApplication::setQuitOnLastWindowClosed(false);
        scope_ = std::make_unique<TResponderScope>(responder);
        CreateForms();
    }
    void TearDown() override
    {
        DestroyForms();
        scope_.reset();
    }

    void CreateForms()
    {
        TMainFormSetup setup;
        setup.OptionsDir = folder.Dir();
        setup.StartAddress = StartAddress;
        form = std::make_unique<TMainForm>(setup);
        MainForm = form.get();
        about = std::make_unique<TAboutBox>();
        AboutBox = about.get();
        // The browser's first pass runs in the test's folder, never in the user's home.
        TBrowserFormSetup browserSetup;
        browserSetup.InitialFolder = folder.Dir();
        browserSetup.UseFormStorage = false;
        browser = std::make_unique<TBrowserForm>(browserSetup);
        BrowserForm = browser.get();
        addType = std::make_unique<TAddTypeForm>();
        AddTypeForm = addType.get();
    }
    void DestroyForms()
    {
        AddTypeForm = nullptr;
        BrowserForm = nullptr;
        AboutBox = nullptr;
        MainForm = nullptr;
        addType.reset();
        browser.reset();
        about.reset();
        form.reset();
    }
    // A program start after the previous one ended: same options folder.
    void Restart()
    {
        DestroyForms();
        CreateForms();
    }

    fs::path OptionsFile() const { return folder.Path() / "options.dat"; }
    std::string OptionsBytes() const { return ReadBytes(OptionsFile()); }

    // A mouse event through the window, so Qt routes it as it routes a real
    // one (including the implicit grab of the widget that got the press).
    void Mouse(QEvent::Type type, TControl* target, QPoint local, Qt::MouseButtons held)
    {
        QWidget* top = form->Widget();
        QWindow* window = top->windowHandle();
        ASSERT_NE(window, nullptr);
        const QPoint inWindow = target->Widget()->mapTo(top, local);
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, QPointF(inWindow), QPointF(inWindow), QPointF(top->mapToGlobal(inWindow)), button, held,
                      Qt::NoModifier);
        QApplication::sendEvent(window, &e);
    }

    TempFolder folder;
    // What the next CreateForms hands over as the command line's address.
    std::optional<std::string> StartAddress;
    TScriptedResponder responder;
    std::unique_ptr<TResponderScope> scope_;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TAboutBox> about;
    std::unique_ptr<TBrowserForm> browser;
    std::unique_ptr<TAddTypeForm> addType;
};

} // namespace wltest
