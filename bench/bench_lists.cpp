// The found-image list at 100,000 rows and the start-up of the windows, on
// Qt's offscreen platform. Prints "lists.<case>_ms <value> ms" lines; each
// result is checked against the list rules before its time is printed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QWidget>
#include <QWindow>

#include "app/AddTypeBtn.h"
#include "app/MainUnit.h"
#include "browser/BrowserFUnit.h"
#include "ui/AboutBoxUnit.h"
#include "ui/ScriptedResponder.h"
#include "viewer/PrintFUnit.h"
#include "viewer/ViewPicFUnit.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 100000;

double Ms(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void Fail(const char* what)
{
    std::fprintf(stderr, "lists: result check failed: %s\n", what);
    std::exit(1);
}

std::string Address(int i)
{
    return "http://bench.example/pics/" + std::to_string(i % 97) + "/picture" + std::to_string(i) + ".jpg";
}

} // namespace

int main(int argc, char** argv)
{
    const auto t0 = Clock::now();
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::string tmpl = (fs::temp_directory_path() / "wl-bench-lists-XXXXXX").string();
    const fs::path dir = ::mkdtemp(tmpl.data());
    TScriptedResponder responder;
    TResponderScope scope(responder);

    // Start-up: the six windows in their order, then the main window on screen.
    TMainFormSetup setup;
    setup.OptionsDir = dir.string();
    MainForm = new TMainForm(setup);
    AboutBox = new TAboutBox();
    BrowserForm = new TBrowserForm();
    ViewPicForm = new TViewPicForm();
    PrintForm = new TPrintForm();
    AddTypeForm = new TAddTypeForm();
    MainForm->Show();
    while (!MainForm->Widget()->windowHandle() || !MainForm->Widget()->windowHandle()->isExposed())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    QApplication::processEvents();
    const auto shown = Clock::now();
    std::printf("lists.startup_ms %.1f ms\n", Ms(t0, shown));

    TMainForm& f = *MainForm;
    f.PageControl2->SetActivePage(f.TabSheet2);   // the list view on screen
    QApplication::processEvents();

    // Appending through the duplicate test, as the scan does (with the button rule after each).
    auto a = Clock::now();
    for (int i = 0; i < kRows; ++i) {
        if (!f.AddFoundImage(Address(i)))
            Fail("distinct address refused");
        f.ListBoxChanged();
    }
    if (f.AddFoundImage("HTTP://BENCH.EXAMPLE/PICS/5/PICTURE5.JPG"))
        Fail("folded duplicate accepted");
    QApplication::processEvents();
    auto b = Clock::now();
    if (f.FoundImageList().Count() != kRows || f.FoundImageList()[kRows - 1] != Address(kRows - 1))
        Fail("append");
    std::printf("lists.append_100k_ms %.1f ms\n", Ms(a, b));

    // "Markierte löschen" with every second row marked.
    std::vector<bool> marks(kRows);
    for (int i = 0; i < kRows; ++i)
        marks[static_cast<std::size_t>(i)] = i % 2 == 1;
    a = Clock::now();
    f.ListBox1->SetSelection(marks);
    b = Clock::now();
    std::printf("lists.mark_every_2nd_100k_ms %.1f ms\n", Ms(a, b));
    a = Clock::now();
    f.DelBtnClick();
    QApplication::processEvents();
    b = Clock::now();
    if (f.FoundImageList().Count() != kRows / 2)
        Fail("delete count");
    for (int i = 0; i < kRows / 2; ++i) {
        if (f.FoundImageList()[i] != Address(2 * i))
            Fail("delete order");
    }
    if (f.FoundImageListHas(Address(1)) || !f.FoundImageListHas(Address(2)))
        Fail("index after delete");
    std::printf("lists.delete_marked_100k_ms %.1f ms\n", Ms(a, b));

    // Loading a 100,000-line image-list file into an empty list; every tenth
    // line repeats an earlier one in another letter case and must be dropped.
    f.ClearBtnClick();
    const fs::path list = dir / "big.bls";
    {
        std::ofstream out(list, std::ios::binary);
        for (int i = 0; i < kRows; ++i) {
            std::string line = Address(i);
            if (i % 10 == 9) {
                line = Address(i - 5);
                for (char& c : line)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            out << line << "\r\n";
        }
    }
    responder.AnswerFile(list.string());
    a = Clock::now();
    f.OpenLBtnClick();
    QApplication::processEvents();
    b = Clock::now();
    if (f.FoundImageList().Count() != kRows - kRows / 10)
        Fail("load count");
    if (f.FoundImageList()[9] != Address(10))
        Fail("load order");
    std::printf("lists.load_100k_ms %.1f ms\n", Ms(a, b));

    delete AddTypeForm;
    delete PrintForm;
    delete ViewPicForm;
    delete BrowserForm;
    delete AboutBox;
    delete MainForm;
    fs::remove_all(dir);
    return 0;
}
