// The window program's own command line, run as a user would: --version and
// --help without a display, and the lines it refuses (before any window).
#include <string>
#include <vector>

#include <QProcess>
#include <QProcessEnvironment>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

namespace {

struct TAppRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

TAppRun RunApp(const std::vector<std::string>& args, bool offscreen)
{
    QProcess p;
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (offscreen)
        env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(WL_APP_PATH, list);
    TAppRun r;
    if (!p.waitForStarted(10000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        // A line that should have been refused opened the window instead.
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.Status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput().toStdString();
    r.Err = p.readAllStandardError().toStdString();
    return r;
}

TEST(WindowCommandLine, VersionAndHelpWithoutADisplay)
{
    const TAppRun v = RunApp({"--version"}, false);
    EXPECT_EQ(v.Status, 0);
    EXPECT_EQ(v.Out, "weblumifang " WL_PROJECT_VERSION "\n");
    EXPECT_THAT(v.Err, IsEmpty());

    // Qt's own options before it do not get in the way.
    const TAppRun h = RunApp({"-platform", "offscreen", "--help"}, false);
    EXPECT_EQ(h.Status, 0);
    EXPECT_THAT(h.Out, StartsWith("Usage: weblumifang "));
    EXPECT_THAT(h.Out, HasSubstr("--version"));
}

TEST(WindowCommandLine, RefusedLinesEndWithStatusTwoBeforeAnyWindow)
{
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"http://a.d/", "http://b.d/"}, "only one web address"},
        // Qt takes "-platform offscreen" itself; what is left is the empty address.
        {{"-platform", "offscreen", ""}, "the web address is empty"},
    };
    for (const auto& c : cases) {
        const TAppRun r = RunApp(c.args, true);
        EXPECT_EQ(r.Status, 2) << ::testing::PrintToString(c.args);
        EXPECT_THAT(r.Err, HasSubstr(std::string("weblumifang: ") + c.says)) << ::testing::PrintToString(c.args);
        EXPECT_THAT(r.Err, HasSubstr("Usage: weblumifang "));
        EXPECT_THAT(r.Out, IsEmpty());
    }
}

} // namespace
