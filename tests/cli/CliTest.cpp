// weblumifang-cli run as a user would: a separate process against nginx or the
// scripted server; its standard output, standard error, exit status and the
// files it leaves are checked.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QColor>
#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "browser/BrowserFUnit.h"
#include "support/NetFixtures.h"

namespace fs = std::filesystem;
using namespace wltest;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

struct TRun {
    int Status = -1;
    bool Finished = false;
    std::string Out;
    std::string Err;
    std::vector<std::string> OutLines() const
    {
        std::vector<std::string> lines;
        std::string::size_type start = 0;
        while (start < Out.size()) {
            auto nl = Out.find('\n', start);
            if (nl == std::string::npos)
                nl = Out.size();
            lines.push_back(Out.substr(start, nl - start));
            start = nl + 1;
        }
        return lines;
    }
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Home = Scratch.Path() + "/home";
        fs::create_directories(Home);
    }

    QProcess* Start(const std::vector<std::string>& args)
    {
        Process = std::make_unique<QProcess>();
        QStringList list;
        for (const auto& a : args)
            list << QString::fromStdString(a);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(Home));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(Home + "/.config"));
        env.remove("QT_QPA_PLATFORM");  // the program chooses offscreen itself
        for (const auto& name : UnsetEnv)
            env.remove(QString::fromStdString(name));
        Process->setProcessEnvironment(env);
        Process->start(WL_CLI_PATH, list);
        EXPECT_TRUE(Process->waitForStarted(10000));
        Process->closeWriteChannel();  // standard input is no terminal
        return Process.get();
    }

    TRun Finish(std::chrono::milliseconds deadline = 60s)
    {
        TRun r;
        r.Finished = Process->waitForFinished(static_cast<int>(deadline.count()));
        if (!r.Finished) {
            Process->kill();
            Process->waitForFinished(5000);
        }
        r.Status = Process->exitStatus() == QProcess::NormalExit ? Process->exitCode() : -1;
        r.Out = Process->readAllStandardOutput().toStdString();
        r.Err = Process->readAllStandardError().toStdString();
        return r;
    }

    TRun Run(const std::vector<std::string>& args)
    {
        Start(args);
        return Finish();
    }

    TTempDir Scratch;
    std::string Home;
    std::vector<std::string> UnsetEnv;
    std::unique_ptr<QProcess> Process;
};

std::string Page(const std::string& body)
{
    return "<html><body>\n" + body + "\n</body></html>\n";
}

}  // namespace

TEST_F(CliTest, UsageErrorsExitWithTwoAndTheUsageText)
{
    const std::vector<std::vector<std::string>> bad = {
        {},                                       // nothing to do
        {"-x", "http://h.d/"},                    // unknown option
        {"--timeout", "soon", "http://h.d/"},     // not a number
        {"-T"},                                   // value missing
        {"-k", "http://h.d/"},                    // skip without download
        {"http://a.d/", "http://b.d/"},           // two addresses
        {"--auto=yes", "http://h.d/"},            // a flag with a value
        {"--max-pages", "-5", "http://h.d/"},     // not a count
        {"--level=1.5", "http://h.d/"},
        {"--max-pages", "4294967296", "http://h.d/"},
        {"-j", "0", "http://h.d/"},               // connections out of range
        {"--connections=17", "http://h.d/"},
        {"-j", "4x", "http://h.d/"},
        {"--no-keep-alive=1", "http://h.d/"},
    };
    for (const auto& args : bad) {
        const TRun r = Run(args);
        EXPECT_EQ(r.Status, 2) << ::testing::PrintToString(args);
        EXPECT_THAT(r.Err, HasSubstr("Usage: weblumifang-cli")) << ::testing::PrintToString(args);
        EXPECT_THAT(r.Out, IsEmpty());
    }
    const TRun help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_THAT(help.Out, HasSubstr("--skip-existing"));
    EXPECT_THAT(help.Out, HasSubstr("--version"));
    EXPECT_THAT(help.Err, IsEmpty());
}

TEST_F(CliTest, VersionIsTheProjectsAndNeedsNothingElse)
{
    // Alone, and beside options that would otherwise need a URL; no display, no job.
    UnsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"--auto", "--version"}}) {
        const TRun r = Run(args);
        EXPECT_EQ(r.Status, 0) << ::testing::PrintToString(args);
        EXPECT_EQ(r.Out, "weblumifang-cli " WL_PROJECT_VERSION "\n");
        EXPECT_THAT(r.Err, IsEmpty());
    }
    EXPECT_EQ(Run({"--version=2"}).Status, 2);
}

TEST_F(CliTest, ScanMirrorsTheMemoAndSavesTheListWithoutOptionsFile)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string h = nginx.Url("");
    nginx.WriteDoc("a/index.html", Page("<a href=\"p.html\">p</a><img src=\"x.gif\"><a href=\"/b/q.html\">q</a>"));
    nginx.WriteDoc("a/p.html", Page("<img src=\"y.PNG\"><img src=\"x.gif\">"));
    const std::string programDir = fs::path(WL_CLI_PATH).parent_path().string();
    const bool optionsBefore = fs::exists(programDir + "/options.dat");
    const std::string list = Scratch.Path() + "/liste.bls";

    const TRun r = Run({"--auto", "-s", list, h + "/a/index.html"});

    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(h + "/a/index.html", h + "/a/p.html",
                                          "Done! (2 html files and 2 image files found...)..."));
    EXPECT_EQ(ReadFile(list), h + "/a/x.gif\r\n" + h + "/a/y.PNG\r\n");
    EXPECT_EQ(fs::exists(programDir + "/options.dat"), optionsBefore);
    EXPECT_FALSE(fs::exists(Home + "/.config/Quenbrik"));
    EXPECT_THAT(r.Err, Not(HasSubstr("Soll der Link")));
}

TEST_F(CliTest, PageAndDepthBoundsReachTheScan)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string h = nginx.Url("");
    nginx.WriteDoc("index.html", Page("<a href=\"a.html\">a</a><a href=\"b.html\">b</a>"));
    nginx.WriteDoc("a.html", Page("<a href=\"c.html\">c</a>"));
    nginx.WriteDoc("b.html", Page("leaf"));
    nginx.WriteDoc("c.html", Page("leaf"));

    TRun r = Run({"--max-pages", "2", h + "/index.html"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(h + "/index.html", h + "/a.html",
                                          "Seitenlimit 2 erreicht: 2 weitere Seiten nicht geholt.",
                                          "Done! (2 html files and 0 image files found...)..."));
    r = Run({"--level=1", h + "/index.html"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(h + "/index.html", h + "/a.html", h + "/b.html",
                                          "Linktiefe 1 erreicht: weitere Links nicht verfolgt.",
                                          "Done! (3 html files and 0 image files found...)..."));

    // Below the start only: "../" leads nowhere above the start folder.
    nginx.WriteDoc("s/index.html", Page("<a href=\"../a.html\">a</a><a href=\"d/e.html\">e</a>"));
    nginx.WriteDoc("s/d/e.html", Page("<a href=\"../f.html\">f</a>"));
    nginx.WriteDoc("s/f.html", Page("leaf"));
    r = Run({"--no-parent", h + "/s/index.html"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(h + "/s/index.html", h + "/s/d/e.html", h + "/s/f.html",
                                          "Done! (3 html files and 0 image files found...)..."));
}

TEST_F(CliTest, ProxyFieldCarriesHostAndPort)
{
    TNginx nginx;
    TTinyproxy proxy;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    ASSERT_TRUE(proxy.Ok()) << proxy.Error();
    nginx.WriteDoc("index.html", Page("<img src=\"a.gif\">"));
    const TRun r = Run({"--proxy", proxy.HostPort(), nginx.Url("/index.html")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(nginx.Url("/index.html"), "Done! (1 html files and 1 image files found...)..."));

    // The same through a proxy port where nobody listens fails: the field is used.
    const TRun dead = Run({"-p", "127.0.0.1:" + std::to_string(FreePort()), nginx.Url("/index.html")});
    EXPECT_EQ(dead.Status, 4) << "a proxy nobody answers is a transport failure";
    const auto lines = dead.OutLines();
    ASSERT_EQ(lines.size(), 4u) << dead.Out;
    EXPECT_EQ(lines[1], "HTTP Fehler: 10061 (Verbindung abgelehnt)") << "the terminal reads the reason too";
    EXPECT_EQ(lines[2], "Error...");
    EXPECT_EQ(lines[3], "Done! (0 html files and 0 image files found...)...");
}

TEST_F(CliTest, TypeListReplacesTheDefaults)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    nginx.WriteDoc("index.html", Page("<img src=\"a.gif\"><img src=\"b.png\"><img src=\"c.webp\">"));
    const std::string list = Scratch.Path() + "/l.bls";
    const TRun r = Run({"-t", "png,WEBP", "--save-list=" + list, nginx.Url("/index.html")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(ReadFile(list), nginx.Url("/b.png") + "\r\n" + nginx.Url("/c.webp") + "\r\n");
}

TEST_F(CliTest, WithoutTerminalTheFollowQuestionIsAnsweredNo)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string h = nginx.Url("");
    nginx.WriteDoc("a/index.html", Page("<a href=\"" + h + "/b/q.html\">q</a>"));
    nginx.WriteDoc("b/q.html", Page("q"));
    const TRun r = Run({h + "/a/index.html"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.Err, HasSubstr("Soll der Link zu \"" + h + "/b/\" weiterverfolgt werden?\n(gefunden auf " + h +
                                 "/a/index.html) [j/N/a/k]"));
    EXPECT_THAT(r.OutLines(), ElementsAre(h + "/a/index.html", "Done! (1 html files and 0 image files found...)..."));
}

TEST_F(CliTest, OnATerminalTheAnswerIsRead)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string h = nginx.Url("");
    nginx.WriteDoc("a/index.html", Page("<a href=\"" + h + "/b/q.html\">q</a><a href=\"" + h + "/c/r.html\">r</a>"
                                        "<a href=\"" + h + "/d/s.html\">s</a><a href=\"" + h + "/e/t.html\">t</a>"));
    nginx.WriteDoc("b/q.html", Page("q"));
    nginx.WriteDoc("c/r.html", Page("r"));
    nginx.WriteDoc("d/s.html", Page("s"));
    nginx.WriteDoc("e/t.html", Page("t"));
    const std::string out = Scratch.Path() + "/out.txt";

    // Everything the child needs is prepared before the fork: it only execs.
    const std::string url = h + "/a/index.html";
    const std::string homeVar = "HOME=" + Home;
    const std::string pathVar = std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    char* const childArgv[] = {const_cast<char*>(WL_CLI_PATH), const_cast<char*>(url.c_str()), nullptr};
    char* const childEnv[] = {const_cast<char*>(homeVar.c_str()), const_cast<char*>(pathVar.c_str()), nullptr};
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(outFd, 0);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Standard input and error are the terminal; the memo goes to a file.
        if (dup2(outFd, STDOUT_FILENO) < 0)
            _exit(99);
        execve(WL_CLI_PATH, childArgv, childEnv);
        _exit(98);
    }
    ::close(outFd);
    // Answer each question as it appears: yes to /b/, no to /c/, none to
    // /d/ (so /e/ is not asked about).
    std::string seen;
    int answered = 0;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < end) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(master, &set);
        timeval tv{0, 100000};
        if (select(master + 1, &set, nullptr, nullptr, &tv) > 0) {
            char buf[512];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                break;
            seen.append(buf, static_cast<size_t>(n));
        }
        const auto asked = [&](int k) {
            std::string::size_type pos = 0;
            for (int i = 0; i <= k; ++i) {
                pos = seen.find("[j/N/a/k]", pos);
                if (pos == std::string::npos)
                    return false;
                ++pos;
            }
            return true;
        };
        if (answered == 0 && asked(0)) {
            ASSERT_EQ(write(master, "j\n", 2), 2);
            ++answered;
        } else if (answered == 1 && asked(1)) {
            ASSERT_EQ(write(master, "nein\n", 5), 5);
            ++answered;
        } else if (answered == 2 && asked(2)) {
            ASSERT_EQ(write(master, " K\n", 3), 3);
            ++answered;
        }
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(answered, 3) << seen;
    EXPECT_EQ(seen.find("/e/"), std::string::npos) << seen;
    EXPECT_EQ(ReadFile(out), h + "/a/index.html\n" + h + "/b/q.html\nDone! (2 html files and 0 image files found...)...\n");
}

TEST_F(CliTest, DownloadFromALoadedListSkippingExistingFiles)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    nginx.WriteDoc("p/eins.gif", "1");
    nginx.WriteDoc("p/zwei.gif", "2");
    const std::string list = Scratch.WriteFile("l.bls", nginx.Url("/p/eins.gif") + "\r\n" + nginx.Url("/p/zwei.gif") + "\r\n");
    const std::string dir = Scratch.Path() + "/ziel";
    fs::create_directories(dir);
    Scratch.WriteFile("ziel/eins.gif", "alt");

    const TRun r = Run({"-l", list, "-d", dir, "-k"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre("Lade Datei 1 von 2 herunter (eins.gif)...",
                                          "Die Datei eins.gif existiert schon, wird übersprungen...",
                                          "Lade Datei 2 von 2 herunter (zwei.gif)...", "Done..."));
    EXPECT_EQ(ReadFile(dir + "/eins.gif"), "alt");
    EXPECT_EQ(ReadFile(dir + "/zwei.gif"), "2");

    // Without -k the same run keeps both copies.
    const TRun again = Run({"-l", list, "-d", dir});
    EXPECT_EQ(again.Status, 0);
    EXPECT_EQ(ReadFile(dir + "/eins0.gif"), "1");
    EXPECT_EQ(ReadFile(dir + "/zwei0.gif"), "2");
}

TEST_F(CliTest, NamesAsTheWebWritesThemAreFetchedOnceAndSavedDecoded)
{
    // hdr/ says its encoding only in the HTTP header; its bytes would read as
    // valid UTF-8 too, so only the header names the right file.
    TNginx nginx("location /hdr/ { charset iso-8859-1; }");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::map<std::string, std::string> pictures = {
        {"B\xC3\xA4ume 1.jpg", "baeume"},      {"caf\xC3\xA9.jpg", "cafe"},
        {"rabatt 50%.jpg", "rabatt"},          {"a+b.jpg", "plus"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.png", "cjk"},
        {"\xC3\x9Crlaub/Strand.jpg", "strand"}, {"Gr\xC3\xB6\xC3\x9F" "e.jpg", "groesse"},
        {"hdr/\xC3\x83\xC2\xA4.gif", "header"}};
    for (const auto& [path, data] : pictures)
        nginx.WriteDoc(path, data);
    // Raw and escaped forms of the same names, in either case of hex digit.
    nginx.WriteDoc("index.html", Page("<img src=\"B\xC3\xA4ume 1.jpg\"><img src=\"B%C3%A4ume%201.jpg\">\n"
                                      "<img src=\"caf\xC3\xA9.jpg\"><img src=\"caf%c3%a9.jpg\">\n"
                                      "<img src=\"rabatt 50%.jpg\"><img src=\"rabatt%2050%25.jpg\">\n"
                                      "<img src=\"a+b.jpg\"><img src=\"a%2Bb.jpg\">\n"
                                      "<img src=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.png\">"
                                      "<img src=\"%E6%97%A5%E6%9C%AC%E8%AA%9E.png\">\n"
                                      "<a href=\"\xC3\x9Crlaub/index.html\">u</a><a href=\"latin1.html\">l</a>"
                                      "<a href=\"hdr/page.html\">h</a>"));
    nginx.WriteDoc("\xC3\x9Crlaub/index.html", Page("<img src=\"Strand.jpg\"><img src=\"/%C3%9Crlaub/Strand.jpg\">"));
    nginx.WriteDoc("latin1.html", "<html><head><meta charset=\"iso-8859-1\"></head><body>"
                                  "<img src=\"Gr\xF6\xDF" "e.jpg\"><img src=\"Gr%C3%B6%C3%9F" "e.jpg\"></body></html>");
    nginx.WriteDoc("hdr/page.html", Page("<img src=\"\xC3\xA4.gif\">"));

    const std::string dir = Scratch.Path() + "/ziel";
    const std::string list = Scratch.Path() + "/l.bls";
    const TRun r = Run({"--auto", "-s", list, "-d", dir, nginx.Url("/index.html")});
    EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
    EXPECT_THAT(r.Out, Not(HasSubstr("Fehler"))) << r.Out;
    EXPECT_THAT(r.Out, HasSubstr("Done! (4 html files and 8 image files found...)...")) << r.Out;

    std::map<std::string, std::string> saved;
    for (const auto& e : fs::directory_iterator(dir))
        saved[e.path().filename().string()] = ReadFile(e.path().string());
    std::map<std::string, std::string> expected;
    for (const auto& [path, data] : pictures)
        expected[path.substr(path.find('/') == std::string::npos ? 0 : path.find('/') + 1)] = data;
    EXPECT_EQ(saved, expected);

    // Every request line is ASCII (nginx logs other bytes as \xNN), and each
    // picture is asked for once.
    const std::string log = nginx.AccessLogOf(12);
    std::map<std::string, int> asked;
    std::string::size_type start = 0;
    while (start < log.size()) {
        const auto nl = log.find('\n', start);
        const std::string line = log.substr(start, nl - start);
        start = nl == std::string::npos ? log.size() : nl + 1;
        EXPECT_EQ(line.find("\\x"), std::string::npos) << line;
        for (unsigned char c : line)
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;
        const auto space = line.find(' ');
        ++asked[line.substr(space + 1, line.find(' ', space + 1) - space - 1)];
    }
    for (const char* target : {"/B%C3%A4ume%201.jpg", "/caf%C3%A9.jpg", "/rabatt%2050%25.jpg", "/a+b.jpg",
                               "/%E6%97%A5%E6%9C%AC%E8%AA%9E.png", "/%C3%9Crlaub/Strand.jpg",
                               "/Gr%C3%B6%C3%9Fe.jpg", "/hdr/%C3%83%C2%A4.gif"})
        EXPECT_EQ(asked[target], 1) << target << "\n" << log;

    // The list holds the formed ASCII addresses, one line each.
    const std::string bls = ReadFile(list);
    EXPECT_EQ(std::count(bls.begin(), bls.end(), '\n'), 8) << bls;
    for (unsigned char c : bls)
        EXPECT_TRUE(c == '\r' || c == '\n' || (c > 0x20 && c < 0x7F)) << bls;
}

TEST_F(CliTest, ErrorMessagesGoToStandardErrorWithStatusOne)
{
    const TRun missing = Run({"-l", Scratch.Path() + "/fehlt.bls"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_THAT(missing.Err, HasSubstr("Konnte Datei nicht öffnen..."));

    const std::string list = Scratch.WriteFile("l.bls", "http://h.d/a.gif\r\n");
    const TRun unwritable = Run({"-l", list, "-s", Scratch.Path() + "/kein/ordner/l.bls"});
    EXPECT_EQ(unwritable.Status, 1);
    EXPECT_THAT(unwritable.Err, HasSubstr("Konnte Datei nicht erstellen..."));

    const TRun noFolder = Run({"-l", list, "-d", ""});
    EXPECT_EQ(noFolder.Status, 1);
    EXPECT_THAT(noFolder.Err, HasSubstr("Sie müssen zuerst ein Ziel-Verzeichnis auswählen!"));
    EXPECT_THAT(noFolder.OutLines(), ElementsAre("Done..."));
}

TEST_F(CliTest, ExitStatusTellsTransportFailuresFromErrorStatuses)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    nginx.WriteDoc("ok/index.html", Page("<img src=\"a.gif\">"));
    nginx.WriteDoc("ok/a.gif", "GIF");
    nginx.WriteDoc("kaputt/index.html", Page("<a href=\"fehlt.html\">x</a>"));
    const std::string dead = "http://127.0.0.1:" + std::to_string(FreePort());
    TScriptedServer raw(TScript().ReadRequest().Send("kein HTTP\r\n\r\nGIF"));
    const std::string dir = Scratch.Path() + "/ziel";
    auto list = [this](const std::string& name, const std::vector<std::string>& urls) {
        std::string text;
        for (const auto& u : urls)
            text += u + "\r\n";
        return Scratch.WriteFile(name, text);
    };
    const struct {
        std::vector<std::string> args;
        int status;
        const char* why;
    } cases[] = {
        {{"-d", dir, nginx.Url("/ok/index.html")}, 0, "every page and file succeeded"},
        {{nginx.Url("/kaputt/index.html")}, 8, "a linked page answered 404"},
        {{dead + "/index.html"}, 4, "nobody listens"},
        {{"-l", list("404.bls", {nginx.Url("/ok/a.gif"), nginx.Url("/ok/fehlt.gif")}), "-d", dir}, 8,
         "a picture answered 404"},
        {{"-l", list("beides.bls", {nginx.Url("/ok/fehlt.gif"), dead + "/b.gif", nginx.Url("/ok/a.gif")}), "-d", dir},
         4, "both kinds: the lower number"},
        {{"-l", list("tot.bls", {dead + "/c.gif"}), "-s", Scratch.Path() + "/kein/ordner/l.bls", "-d", dir}, 4,
         "a failed request goes before an error message"},
        {{"-j", "1", "-l", list("roh.bls", {raw.Url("/roh.gif")}), "-d", dir}, 4,
         "an answer without status line is no picture"},
        {{"-l", list("roh2.bls", {raw.Url("/roh.gif"), raw.Url("/roh2.gif")}), "-d", dir}, 4,
         "nor is it with requests in flight"},
    };
    for (const auto& c : cases) {
        const TRun r = Run(c.args);
        EXPECT_EQ(r.Status, c.status) << c.why << "\n" << r.Out << r.Err;
    }
    EXPECT_EQ(ReadFile(dir + "/a.gif"), "GIF");
    EXPECT_FALSE(fs::exists(dir + "/roh.gif"));
    EXPECT_FALSE(fs::exists(dir + "/roh2.gif"));
}

TEST_F(CliTest, DownloadFolderIsMadeWithItsParentsOrTheRunIsRefused)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    nginx.WriteDoc("p/eins.gif", "1");
    const std::string list = Scratch.WriteFile("l.bls", nginx.Url("/p/eins.gif") + "\r\n");

    const std::string deep = Scratch.Path() + "/neu/tief/ziel";
    const TRun made = Run({"-l", list, "-d", deep});
    EXPECT_EQ(made.Status, 0) << made.Err;
    EXPECT_EQ(ReadFile(deep + "/eins.gif"), "1");

    // A file stands where a folder would have to be made.
    Scratch.WriteFile("datei", "x");
    const std::string blocked = Scratch.Path() + "/datei/ziel";
    const TRun refused = Run({"-l", list, "-d", blocked});
    EXPECT_EQ(refused.Status, 2);
    EXPECT_THAT(refused.Err, HasSubstr("cannot create the folder '" + blocked + "'"));
    EXPECT_THAT(refused.Err, HasSubstr("Not a directory"));
    EXPECT_THAT(refused.Out, IsEmpty()) << "nothing runs";
    const std::string log = nginx.AccessLogWith("GET /p/eins.gif");
    std::size_t fetched = 0;
    for (auto at = log.find("GET /p/eins.gif"); at != std::string::npos; at = log.find("GET /p/eins.gif", at + 1))
        ++fetched;
    EXPECT_EQ(fetched, 1u) << "only the first run fetched\n" << log;
}

TEST_F(CliTest, StandardErrorHoldsNothingTheUserDidNotCause)
{
    // Qt has something to say about a session without a runtime folder.
    UnsetEnv = {"XDG_RUNTIME_DIR"};
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    nginx.WriteDoc("index.html", Page("<img src=\"a.gif\">"));
    nginx.WriteDoc("a.gif", "GIF");
    const TRun r = Run({"-a", "-d", Scratch.Path() + "/ziel", nginx.Url("/index.html")});
    EXPECT_EQ(r.Status, 0);
    EXPECT_THAT(r.Err, IsEmpty());
    EXPECT_EQ(ReadFile(Scratch.Path() + "/ziel/a.gif"), "GIF");
}

TEST_F(CliTest, TimeoutEndsAStalledRequestWithItsOwnCode)
{
    TScript stall;
    stall.ReadRequest().Send("HTTP/1.0 200 OK\r\n\r\n<html>").Hold();
    TScriptedServer server(stall);
    const auto t0 = std::chrono::steady_clock::now();
    const TRun r = Run({"-T", "1", server.Url("/index.html")});
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(r.Status, 4) << "a time-out is a transport failure" << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(server.Url("/index.html"),
                                          "HTTP Fehler: 17 (Zeitüberschreitung: keine Daten empfangen)", "Error...",
                                          "Done! (0 html files and 0 image files found...)..."));
    EXPECT_LT(took, 20s);
}

// Bytes written so far into a file of process pid that lies in dir, whether
// or not it has a name there yet; -1 when it has none open.
static long long BytesBeingWritten(qint64 pid, const std::string& dir)
{
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code ec2;
        const std::string target = fs::read_symlink(e.path(), ec2).string();
        if (ec2 || target.rfind(dir + "/", 0) != 0)
            continue;
        struct stat st {};
        if (::stat(e.path().c_str(), &st) == 0)
            return st.st_size;
    }
    return -1;
}

// Interrupted (Ctrl+C), terminated or killed in the middle of a picture: either way no
// partial file is left under the picture's name, not even for a moment.
TEST_F(CliTest, InterruptOrCrashMidDownloadLeavesNoPartialFile)
{
    for (const int sig : {SIGINT, SIGTERM, SIGKILL}) {
        TScript stall;
        stall.ReadRequest().Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(3000, 'x')).Hold();
        TScriptedServer server(stall);
        const std::string list =
            Scratch.WriteFile("l.bls", server.Url("/a.gif") + "\r\n" + server.Url("/b.gif") + "\r\n");
        const std::string dir = Scratch.Path() + "/ziel" + std::to_string(sig);
        fs::create_directories(dir);

        QProcess* p = Start({"-T", "0", "-l", list, "-d", dir});
        const auto end = std::chrono::steady_clock::now() + 20s;
        long long written = -1;
        while (std::chrono::steady_clock::now() < end &&
               (written = BytesBeingWritten(p->processId(), dir)) < 3000)
            p->waitForReadyRead(10);
        ASSERT_EQ(written, 3000);
        EXPECT_TRUE(fs::is_empty(dir)) << "the part has no name yet";
        ::kill(static_cast<pid_t>(p->processId()), sig);
        const TRun r = Finish(20s);

        if (sig != SIGKILL) {
            // SIGTERM stops the job as Ctrl+C does, with the status of its own.
            EXPECT_EQ(r.Status, sig == SIGINT ? 130 : 143) << r.Err;
            EXPECT_THAT(r.OutLines(), ElementsAre("Lade Datei 1 von 2 herunter (a.gif)...",
                                                  "HTTP Fehler: 3 (abgebrochen)",
                                                  "Fehler: Konnte Datei a.gif nicht herunterladen...", "Done..."));
        }
        EXPECT_TRUE(fs::is_empty(dir)) << "signal " << sig;
    }
}

TEST_F(CliTest, ThumbnailsRunsOneBrowserPassOverTheFolder)
{
    const std::string dir = Scratch.Path() + "/bilder";
    fs::create_directories(dir);
    // A 2 x 2 24-bit BMP, bytes spelled out: file header, info header, two padded rows.
    const std::string bmp = std::string("BM\x46\0\0\0\0\0\0\0\x36\0\0\0", 14) +
                            std::string("\x28\0\0\0\x02\0\0\0\x02\0\0\0\x01\0\x18\0\0\0\0\0\x10\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 40) +
                            std::string("\x10\x20\x30\x40\x50\x60\0\0\x70\x80\x90\xA0\xB0\xC0\0\0", 16);
    Scratch.WriteFile("bilder/a.bmp", bmp);
    Scratch.WriteFile("bilder/kaputt.png", "no picture");
    Scratch.WriteFile("bilder/liesmich.txt", "x");

    const TRun first = Run({"--thumbnails", dir});
    EXPECT_EQ(first.Status, 0) << first.Err;
    const std::vector<std::string> lines = first.OutLines();
    ASSERT_GE(lines.size(), 5u) << first.Out;
    EXPECT_EQ(lines[0], "Statusinformationen:");
    EXPECT_EQ(lines[1], "Bearbeite Verzeichnis: " + dir);
    EXPECT_THAT(lines, ::testing::Contains(HasSubstr("Fehler beim Laden von kaputt.png [")));
    EXPECT_EQ(lines[lines.size() - 2], "Browser-Informationen geschrieben.");
    EXPECT_EQ(lines.back(), "Bearbeitung von Verzeichnis " + dir + " abgeschloßen.");
    EXPECT_TRUE(fs::exists(dir + "/thbcache.tcf"));

    const TRun second = Run({"--thumbnails", dir});
    EXPECT_EQ(second.Status, 0);
    EXPECT_THAT(second.OutLines(), ::testing::Contains("Browser-Informationen geladen."));

    const TRun missing = Run({"--thumbnails", Scratch.Path() + "/nirgends"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_THAT(missing.Err, HasSubstr("nirgends"));
    EXPECT_THAT(missing.Out, IsEmpty());

    EXPECT_EQ(Run({"--thumbnails", dir, "http://h.d/"}).Status, 2);

    // The command line's pass gives the window's memo lines and cache bytes,
    // for a folder without cache, with a current, a stale, a damaged and a
    // foreign one.
    const std::string cache = dir + "/thbcache.tcf";
    auto gradient = [&](const std::string& name, int w, int h, const char* format) {
        QImage img(w, h, QImage::Format_RGB888);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.setPixelColor(x, y, QColor(x * 255 / w, y * 255 / h, 90));
        ASSERT_TRUE(img.save(QString::fromStdString(dir + "/" + name), format, 85));
    };
    gradient("breit.png", 400, 100, "PNG");
    gradient("hoch.jpg", 100, 400, "JPG");
    gradient("klein.bmp", 30, 20, "BMP");
    gradient("strich.png", 1, 40, "PNG");
    for (int i = 1; i <= 30; ++i)
        gradient("viele" + std::to_string(i) + ".jpg", 20 + i, 50 - i, "JPG");
    fs::create_directories(dir + "/ordner.jpg");
    auto window = [&](std::vector<std::string>& lines) {
        TBrowserFormSetup setup;
        setup.InitialFolder = dir;
        setup.UseFormStorage = false;
        setup.OnMemoLine = [&lines](const std::string& line) { lines.push_back(line); };
        TBrowserForm form(setup);
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (form.Busy && std::chrono::steady_clock::now() < end)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(form.Busy);
    };
    auto setCache = [&](const std::optional<std::string>& bytes) {
        fs::remove(cache);
        if (bytes)
            Scratch.WriteFile("bilder/thbcache.tcf", *bytes);
    };
    auto cacheBytes = [&] { return fs::exists(cache) ? std::optional<std::string>(ReadFile(cache)) : std::nullopt; };
    auto compare = [&](const std::string& state, const std::optional<std::string>& before) {
        setCache(before);
        std::vector<std::string> shown{};
        window(shown);
        const std::optional<std::string> windowCache = cacheBytes();
        setCache(before);
        const TRun cli = Run({"--thumbnails", dir});
        EXPECT_EQ(cli.Status, 0) << state;
        EXPECT_EQ(cli.OutLines(), shown) << state;
        EXPECT_EQ(cacheBytes(), windowCache) << state;
        return windowCache;
    };
    const std::optional<std::string> made = compare("no cache", std::nullopt);
    ASSERT_TRUE(made.has_value());
    compare("current cache", made);
    fs::last_write_time(dir + "/breit.png", fs::last_write_time(dir + "/breit.png") + 3s);
    fs::remove(dir + "/klein.bmp");
    compare("stale cache", made);
    compare("cache cut short", made->substr(0, 700));
    compare("foreign file", std::string("XXgarbage"));

    // Folder names are bytes: one that is no UTF-8 gets its pass too.
    const std::string latin1 = Scratch.Path() + "/bild\xe4r";
    Scratch.WriteFile("bild\xe4r/a.bmp", bmp);
    // QProcess hands arguments over as text; this one goes to exec as bytes.
    TRun bytes;
    {
        const std::string homeVar = "HOME=" + Home;
        const char* childArgv[] = {WL_CLI_PATH, "--thumbnails", latin1.c_str(), nullptr};
        const char* childEnv[] = {homeVar.c_str(), nullptr};
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (dup2(out[1], STDOUT_FILENO) < 0)
                _exit(99);
            execve(WL_CLI_PATH, const_cast<char* const*>(childArgv), const_cast<char* const*>(childEnv));
            _exit(98);
        }
        ::close(out[1]);
        const auto end = std::chrono::steady_clock::now() + 60s;
        for (;;) {
            pollfd p{out[0], POLLIN, 0};
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid, SIGKILL);
                break;
            }
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buf[512];
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            bytes.Out.append(buf, static_cast<size_t>(n));
        }
        ::close(out[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        bytes.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    EXPECT_EQ(bytes.Status, 0);
    EXPECT_THAT(bytes.OutLines(), ElementsAre("Statusinformationen:", "Bearbeite Verzeichnis: " + latin1,
                                              "Browser-Informationen geschrieben.",
                                              "Bearbeitung von Verzeichnis " + latin1 + " abgeschloßen."));
    EXPECT_TRUE(fs::exists(latin1 + "/thbcache.tcf"));

    // A ".." after a link climbs from where the link points, not back to
    // the folder the link lies in: there "bilder" is another folder.
    Scratch.WriteFile("ziel/tief/bilder/b.bmp", bmp);
    fs::create_directories(Scratch.Path() + "/ziel/tief/x");
    fs::create_directory_symlink(Scratch.Path() + "/ziel/tief/x", Scratch.Path() + "/verweis");
    const std::string target = fs::canonical(Scratch.Path() + "/ziel/tief/bilder").string();
    const TRun linked = Run({"--thumbnails", Scratch.Path() + "/verweis/../bilder"});
    EXPECT_EQ(linked.Status, 0);
    ASSERT_GE(linked.OutLines().size(), 2u) << linked.Out;
    EXPECT_EQ(linked.OutLines()[1], "Bearbeite Verzeichnis: " + target);
    EXPECT_TRUE(fs::exists(target + "/thbcache.tcf"));
}

TEST_F(CliTest, ModernFlagReadsSrcsetAndLazySources)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    nginx.WriteDoc("index.html", Page("<img src=\"ph.gif\" data-src='real.webp' srcset=\"a.avif 1x, b.avif 2x\">"));
    const std::string done1 = "Done! (1 html files and 1 image files found...)...";
    const std::string list = Scratch.Path() + "/modern.bls";

    const TRun plain = Run({nginx.Url("/index.html")});
    EXPECT_EQ(plain.Status, 0) << plain.Err;
    EXPECT_THAT(plain.OutLines(), ElementsAre(nginx.Url("/index.html"), done1));

    const TRun modern = Run({"--modern", "-s", list, nginx.Url("/index.html")});
    EXPECT_EQ(modern.Status, 0) << modern.Err;
    EXPECT_THAT(modern.OutLines(),
                ElementsAre(nginx.Url("/index.html"), "Done! (1 html files and 3 image files found...)..."));
    EXPECT_EQ(ReadFile(list), nginx.Url("/ph.gif") + "\r\n" + nginx.Url("/real.webp") + "\r\n" +
                                  nginx.Url("/b.avif") + "\r\n");
    EXPECT_FALSE(fs::exists(Home + "/.config/Quenbrik")) << "the flag is not stored";
}

// An https site end to end: scan, links that keep the scheme, downloads with
// names and numbering as over http, and the certificate settings.
TEST_F(CliTest, HttpsSiteScannedAndDownloaded)
{
    TTestPki pki;
    ASSERT_TRUE(pki.Ok()) << pki.Error();
    TTempDir docs;
    docs.WriteFile("s/index.html", Page("<img src=\"eins.gif\"><a href=\"../t/p.html\">p</a>"));
    docs.WriteFile("t/p.html", Page("<img src=\"/u/zwei.gif\">"));
    docs.WriteFile("s/eins.gif", "1");
    docs.WriteFile("u/zwei.gif", "2");
    const int port = FreePort();
    // The plain server sends every address to its https twin, as sites do.
    TNginx nginx("location / { return 301 https://127.0.0.1:" + std::to_string(port) + "$request_uri; }",
                 pki.NginxServer(port, TTestPki::Good, docs.Path()));
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    ASSERT_TRUE(WaitListening(port, 10s));
    const std::string site = "https://127.0.0.1:" + std::to_string(port);
    const std::string dir = Scratch.Path() + "/ziel";
    fs::create_directories(dir);
    Scratch.WriteFile("ziel/eins.gif", "alt");

    // Started over http: the start page answers over https, and its links
    // resolve against that address.
    const TRun r = Run({"--auto", "--ca-file", pki.CaFile(), "-d", dir, nginx.Url("/s/index.html")});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(nginx.Url("/s/index.html"), site + "/t/p.html",
                                          "Done! (2 html files and 2 image files found...)...",
                                          "Lade Datei 1 von 2 herunter (eins.gif)...",
                                          "Die Datei eins.gif existiert schon, speichere unter eins0.gif...",
                                          "Lade Datei 2 von 2 herunter (zwei.gif)...", "Done..."));
    EXPECT_EQ(ReadFile(dir + "/eins.gif"), "alt");
    EXPECT_EQ(ReadFile(dir + "/eins0.gif"), "1");
    EXPECT_EQ(ReadFile(dir + "/zwei.gif"), "2");
    EXPECT_THAT(r.Err, Not(HasSubstr("warning")));

    // Without the CA the memo says why; nothing is fetched.
    const TRun untrusted = Run({"--auto", site + "/s/index.html"});
    EXPECT_EQ(untrusted.Status, 4) << "a refused certificate is a transport failure" << untrusted.Err;
    EXPECT_THAT(untrusted.OutLines(), ElementsAre(site + "/s/index.html",
                                                  "HTTP Fehler: 11 (Zertifikat nicht vertrauenswürdig)", "Error...",
                                                  "Done! (0 html files and 0 image files found...)..."));

    // Only the explicit option connects anyway, with one warning per run;
    // links of an https page stay on https.
    const TRun unchecked = Run({"--auto", "--no-check-certificate", site + "/s/index.html"});
    EXPECT_EQ(unchecked.Status, 0) << unchecked.Err;
    EXPECT_THAT(unchecked.OutLines(), ElementsAre(site + "/s/index.html", site + "/t/p.html",
                                                  "Done! (2 html files and 2 image files found...)..."));
    const std::string warning = "certificates are not checked";
    ASSERT_THAT(unchecked.Err, HasSubstr(warning));
    EXPECT_EQ(unchecked.Err.find(warning), unchecked.Err.rfind(warning));

    const TRun noCa = Run({"--ca-file", Scratch.Path() + "/fehlt.pem", site + "/s/index.html"});
    EXPECT_EQ(noCa.Status, 2);
    EXPECT_THAT(noCa.Err, HasSubstr("cannot read CA file"));
}

// A password typed into the start address is for that server: pictures and
// pages that lie on another server never get it, whichever connection or
// client of the run fetches them.
TEST_F(CliTest, CredentialsOfTheStartAddressReachOnlyItsServer)
{
    TNginx other;
    ASSERT_TRUE(other.Ok()) << other.Error();
    other.WriteDoc("b/seite.html", Page("<img src=\"zwei.gif\">"));
    other.WriteDoc("b/eins.gif", "1");
    other.WriteDoc("b/zwei.gif", "2");
    TNginx start("location /s/weiter.html { return 302 " + other.Url("/b/seite.html") + "; }");
    ASSERT_TRUE(start.Ok()) << start.Error();
    start.WriteDoc("s/index.html", Page("<img src=\"" + other.Url("/b/eins.gif") +
                                        "\"><a href=\"weiter.html\">w</a><img src=\"drei.gif\">"));
    start.WriteDoc("s/drei.gif", "3");
    const std::string address = "http://joe:pw@127.0.0.1:" + std::to_string(start.Port()) + "/s/index.html";
    std::size_t otherLines = 0;
    for (const char* connections : {"1", "4"}) {
        SCOPED_TRACE(std::string("-j ") + connections);
        const std::string dir = Scratch.Path() + "/ziel" + connections;
        const TRun r = Run({"--auto", "-j", connections, "-d", dir, address});
        EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
        EXPECT_EQ(ReadFile(dir + "/eins.gif"), "1");
        EXPECT_EQ(ReadFile(dir + "/zwei.gif"), "2");
        EXPECT_EQ(ReadFile(dir + "/drei.gif"), "3");
        // The other server's page and its two pictures.
        otherLines += 3;
        const std::string log = other.AccessLogOf(otherLines);
        EXPECT_THAT(log, HasSubstr("GET /b/seite.html")) << log;
        EXPECT_THAT(log, Not(HasSubstr("Basic"))) << log;
        EXPECT_THAT(start.AccessLogWith("GET /s/index.html"), HasSubstr("GET /s/index.html HTTP/1.0|127.0.0.1:" + std::to_string(start.Port()) + "|Basic am9lOnB3"));
    }
}

// A GIF header of the given size, padded with bytes that make each file unique.
static std::string GifOf(int width, int height, const std::string& fill, std::size_t bytes)
{
    std::string gif = "GIF89a";
    gif += static_cast<char>(width & 0xFF);
    gif += static_cast<char>(width >> 8);
    gif += static_cast<char>(height & 0xFF);
    gif += static_cast<char>(height >> 8);
    while (gif.size() < bytes)
        gif += fill;
    return gif.substr(0, bytes);
}

TEST_F(CliTest, PictureChoicesKeepOnlyTheWantedPicturesAndOffChangesNothing)
{
    TNginx nginx;
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    const std::string h = nginx.Url("");
    nginx.WriteDoc("g/index.html", Page("<a href=\"big.gif\"><span><img src=\"small.gif\"></span></a>"
                                        "<img src=\"icon.gif\"><a href=\"page.html\"><img src=\"button.gif\"></a>"));
    nginx.WriteDoc("g/page.html", Page(""));

    // Off: every picture is listed, as always.
    const TRun all = Run({"--auto", h + "/g/index.html"});
    EXPECT_EQ(all.Status, 0) << all.Err;
    EXPECT_THAT(all.OutLines(), ::testing::Contains("Done! (2 html files and 4 image files found...)..."));
    const std::string list = Scratch.Path() + "/wanted.bls";
    const TRun wanted = Run({"--auto", "--skip-thumbnails", "-s", list, h + "/g/index.html"});
    EXPECT_EQ(wanted.Status, 0) << wanted.Err;
    EXPECT_EQ(ReadFile(list), h + "/g/big.gif\r\n" + h + "/g/icon.gif\r\n" + h + "/g/button.gif\r\n");

    // Sizes, byte counts and duplicates, in one download run.
    const std::string big = GifOf(500, 400, "b", 4000);
    nginx.WriteDoc("d/big.gif", big);
    nginx.WriteDoc("d/icon.gif", GifOf(16, 16, "i", 200000));
    nginx.WriteDoc("d/tiny.gif", GifOf(300, 300, "t", 50));
    nginx.WriteDoc("d/dup.gif", big);
    nginx.WriteDoc("d/again.gif", GifOf(600, 600, "o", 3000));
    const std::string dir = Scratch.Path() + "/ziel";
    fs::create_directories(dir);
    Scratch.WriteFile("ziel/old.gif", GifOf(600, 600, "o", 3000));
    std::string addresses;
    for (const char* name : {"big.gif", "icon.gif", "tiny.gif", "dup.gif", "again.gif"})
        addresses += nginx.Url(std::string("/d/") + name) + "\r\n";
    const std::string work = Scratch.WriteFile("work.bls", addresses);

    const TRun r = Run({"-l", work, "-d", dir, "--min-size", "100x100", "--min-bytes", "100", "--no-duplicates"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre("Lade Datei 1 von 5 herunter (big.gif)...",
                                          "Lade Datei 2 von 5 herunter (icon.gif)...", "übersprungen: zu klein (16 × 16)",
                                          "Lade Datei 3 von 5 herunter (tiny.gif)...", "übersprungen: zu klein (50 Bytes)",
                                          "Lade Datei 4 von 5 herunter (dup.gif)...", "übersprungen: dup.gif gleicht big.gif",
                                          "Lade Datei 5 von 5 herunter (again.gif)...",
                                          "übersprungen: again.gif gleicht old.gif", "Done..."));
    EXPECT_EQ(ReadFile(dir + "/big.gif"), big);
    for (const char* gone : {"icon.gif", "tiny.gif", "dup.gif", "again.gif"})
        EXPECT_FALSE(fs::exists(dir + "/" + gone)) << gone;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    // Off again: every file is kept, the copies numbered as always.
    const TRun off = Run({"-l", work, "-d", dir});
    EXPECT_EQ(off.Status, 0) << off.Err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 7);
    EXPECT_EQ(ReadFile(dir + "/big0.gif"), big);

    // A rate limit paces the reading: 200 KB at 100 KiB/s take well over 1.5 s
    // (a lower bound only), and every byte arrives as sent.
    std::string pattern;
    for (int i = 0; i < 251; ++i)
        pattern += static_cast<char>(i);
    const std::string large = GifOf(800, 600, pattern, 200000);
    nginx.WriteDoc("r/large.gif", large);
    const std::string slow = Scratch.Path() + "/langsam";
    const auto t0 = std::chrono::steady_clock::now();
    const TRun paced = Run({"-d", slow, "--limit-rate", "100k", "-l",
                            Scratch.WriteFile("large.bls", nginx.Url("/r/large.gif") + "\r\n")});
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 1500ms);
    EXPECT_EQ(paced.Status, 0) << paced.Err;
    EXPECT_EQ(ReadFile(slow + "/large.gif"), large);

    EXPECT_EQ(Run({"--limit-rate", "100g", h}).Status, 2);
    EXPECT_EQ(Run({"--min-size", "100", h}).Status, 2);
    EXPECT_EQ(Run({"--user-agent", "", h}).Status, 2);
    EXPECT_EQ(Run({"--wait", "2d", h}).Status, 2);
}

TEST_F(CliTest, RobotsCookiesAndUserAgentReachOnlyWhereTheyBelong)
{
    const std::string page = Page("<a href=\"private/p.html\">p</a><a href=\"ok.html\">ok</a>");
    const auto html = [](const std::string& body) {
        return TScript::Response("HTTP/1.0 200 OK", {"Content-Type: text/html", "Content-Length: " + std::to_string(body.size())},
                                 body);
    };
    const std::string robots = "User-agent: *\nDisallow: /private/\n\nUser-agent: Other\nDisallow: /\n";
    TScript robotsScript, indexScript, okScript;
    robotsScript.ReadRequest().Send(TScript::Response("HTTP/1.0 200 OK", {"Content-Length: " + std::to_string(robots.size())}, robots));
    indexScript.ReadRequest().Send(html(page));
    okScript.ReadRequest().Send(html(Page("")));
    TScriptedServer server({robotsScript, indexScript, okScript});
    const std::string cookies = Scratch.WriteFile(
        "cookies.txt", "# Netscape HTTP Cookie File\n"
                       "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n"
                       "127.0.0.1\tFALSE\t/ok.html\tFALSE\t0\tpath\tonly-ok\n"
                       "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecure\tnever-over-http\n"
                       "other.example\tTRUE\t/\tFALSE\t0\tforeign\tnever\n");

    // Three requests to one server with a wait between each two.
    const auto t0 = std::chrono::steady_clock::now();
    const TRun r = Run({"--robots", "--load-cookies", cookies, "--user-agent", "Tester/1.0", "--no-keep-alive",
                        "--wait", "0.3", server.Url("/index.html")});
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 600ms);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_THAT(r.OutLines(), ElementsAre(server.Url("/index.html"),
                                          "übersprungen: robots.txt verbietet " + server.Url("/private/p.html"),
                                          server.Url("/ok.html"), "Done! (2 html files and 0 image files found...)..."));
    ASSERT_TRUE(server.WaitFinished(2));
    EXPECT_THAT(server.Received(0), HasSubstr("GET /robots.txt "));
    EXPECT_THAT(server.Received(0), HasSubstr("User-Agent: Tester/1.0\r\n"));
    EXPECT_THAT(server.Received(1), HasSubstr("GET /index.html "));
    EXPECT_THAT(server.Received(1), HasSubstr("Cookie: sid=abc\r\n"));
    EXPECT_THAT(server.Received(2), HasSubstr("Cookie: path=only-ok; sid=abc\r\n"));
    for (int i = 0; i < 3; ++i)
        EXPECT_THAT(server.Received(i), ::testing::AllOf(Not(HasSubstr("never")), Not(HasSubstr("private/p.html"))));
    EXPECT_EQ(server.Connections(), 3);
    EXPECT_EQ(Run({"--load-cookies", Scratch.Path() + "/missing.txt", server.Url("/")}).Status, 2);

    // 503 with Retry-After: one wait, one retry, and the page counts as fetched.
    TScript busy, fine;
    busy.ReadRequest().Send("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 1\r\nContent-Length: 0\r\n\r\n");
    fine.ReadRequest().Send(html(Page("")));
    TScriptedServer retry({busy, fine});
    const TRun again = Run({"--wait", "0.1", "--no-keep-alive", retry.Url("/index.html")});
    EXPECT_EQ(again.Status, 0) << again.Err;
    EXPECT_THAT(again.OutLines(), ElementsAre(retry.Url("/index.html"),
                                              "Server bittet zu warten (503), neuer Versuch in 1 s: " + retry.Url("/index.html"),
                                              "Done! (1 html files and 0 image files found...)..."));
    EXPECT_EQ(retry.Connections(), 2);
}

// With a download after the scan, pictures come while the scan still runs,
// from answers that end out of order; the lines and files are those of one
// request at a time after the scan.
TEST_F(CliTest, PicturesFetchedDuringTheScanGiveTheLinesAndFilesOfOneRequestAtATime)
{
    TNginx nginx("location /slow/ { limit_rate 40k; }");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    std::string links, pics;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "p" + std::to_string(i) + ".jpg";
        // Every third picture trickles, so later ones end first.
        const std::string path = (i % 3 == 0 ? "slow/" : "") + name;
        nginx.WriteDoc(path, std::string(static_cast<std::size_t>(2000 + 9000 * (i % 4)), static_cast<char>('a' + i)));
        pics += "<img src=\"/" + path + "\">\n";
    }
    nginx.WriteDoc("dup/p1.jpg", "same name, other folder");
    nginx.WriteDoc("index.html", Page("<a href=\"b.html\">b</a><a href=\"slow/last.html\">z</a>\n" + pics +
                                      "<img src=\"/fehlt.jpg\">"));
    nginx.WriteDoc("b.html", Page("<img src=\"/dup/p1.jpg\"><img src=\"/p2.jpg\">"));
    // The last page trickles for about a second: pictures of the first page
    // that are fetched meanwhile are logged before it.
    nginx.WriteDoc("slow/last.html", Page("<img src=\"/slow/p3.jpg\">" + std::string(40000, ' ')));

    const std::string overlapped = Scratch.Path() + "/in-flight";
    const TRun fast = Run({"-d", overlapped, "-j", "6", nginx.Url("/index.html")});
    const std::string log = nginx.AccessLogOf(17);
    const std::string plain = Scratch.Path() + "/one-at-a-time";
    const TRun slow = Run({"-d", plain, "-j", "1", "--no-keep-alive", nginx.Url("/index.html")});

    EXPECT_EQ(fast.Status, 8) << fast.Err;
    EXPECT_EQ(slow.Status, 8) << slow.Err;
    EXPECT_EQ(fast.Out, slow.Out);
    EXPECT_THAT(fast.OutLines(), testing::Contains("Die Datei p1.jpg existiert schon, speichere unter p12.jpg..."));
    std::map<std::string, std::string> a, b;
    for (const auto& e : fs::directory_iterator(overlapped))
        a[e.path().filename().string()] = ReadFile(e.path().string());
    for (const auto& e : fs::directory_iterator(plain))
        b[e.path().filename().string()] = ReadFile(e.path().string());
    EXPECT_EQ(a.size(), 13u);
    EXPECT_EQ(a, b);
    const auto lastPage = log.find("GET /slow/last.html");
    ASSERT_NE(lastPage, std::string::npos) << log;
    EXPECT_NE(log.substr(0, lastPage).find(".jpg"), std::string::npos) << "no picture came during the scan:\n" << log;

    // Ctrl+C while the scan waits for its last page: the pictures fetched
    // so far leave nothing behind, and no download starts.
    const std::string stopped = Scratch.Path() + "/stopped";
    const std::size_t logged = nginx.AccessLog().size();
    QProcess* p = Start({"-d", stopped, "-j", "6", nginx.Url("/index.html")});
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end && nginx.AccessLog().find(".jpg", logged) == std::string::npos)
        p->waitForReadyRead(10);
    ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    const TRun r = Finish(20s);
    EXPECT_EQ(r.Status, 130) << r.Err;
    EXPECT_THAT(r.Out, Not(HasSubstr("Lade Datei")));
    EXPECT_TRUE(fs::is_empty(stopped));
}
