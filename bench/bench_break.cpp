// How soon a click on "Cancel" takes effect during a download: the click is
// due 300 ms into the transfer; prints how late it ran and when the request
// had ended (the "HTTP Fehler: 3" line).
//   bench_break URL FOLDER
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QTimer>

#include "app/MainUnit.h"
#include "ui/NoticeBridge.h"
#include "ui/ScriptedResponder.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_break URL FOLDER\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    TNoticeBridge::InstallForThisThread();
    TScriptedResponder responder;
    TResponderScope scope(responder);
    TMainFormSetup setup;
    setup.UseOptionsFile = false;
    TMainForm form(setup);
    form.DirectoryEdit1->Text = argv[2];
    form.FoundImageList().Assign({argv[1]});
    form.ListBoxChanged();

    using Clock = std::chrono::steady_clock;
    Clock::time_point due, clicked, ended;
    form.OnMemoLine = [&](const std::string& line) {
        if (line.rfind("HTTP Fehler: ", 0) == 0 && ended == Clock::time_point())
            ended = Clock::now();
    };
    QTimer click;
    click.setSingleShot(true);
    QObject::connect(&click, &QTimer::timeout, [&] {
        clicked = Clock::now();
        form.BreakBtn2->Click();
    });
    // Armed once the body streams, so the click lands in the middle of it.
    form.HttpCli1.OnHeaderData = [&](THttpCli&) {
        if (due == Clock::time_point()) {
            due = Clock::now() + std::chrono::milliseconds(300);
            click.start(300);
        }
    };
    form.DownAllBtnClick();
    auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    if (ended == Clock::time_point() || clicked == Clock::time_point()) {
        std::printf("click_late_ms -1\neffect_ms -1\n");
        return 1;
    }
    std::printf("click_late_ms %.1f\neffect_ms %.1f\n", ms(clicked - due), ms(ended - due));
    return 0;
}
