// The window's network settings and scan bounds come from QSettings: the client of a fresh
// main window carries them, and a value that makes no sense falls back.
#include <utility>

#include <QSettings>

#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "tests/app/MainFormFixture.h"

namespace {

using namespace wltest;

struct TClientSettings {
    std::string CaFile;
    bool NoCheck;
    double Idle;
    bool KeepAlive;
    int Connections;
};

TClientSettings FromFreshWindow()
{
    TMainFormSetup setup;
    setup.UseOptionsFile = false;
    TMainForm form(setup);
    return {form.HttpCli1.CaFile, form.HttpCli1.NoCheckCertificate, form.HttpCli1.IdleTimeout,
            form.HttpCli1.KeepAlive, form.Connections};
}

TEST(NetworkSettings, WindowClientFollowsTheSettings)
{
    TempFolder dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path().string()));

    TClientSettings d = FromFreshWindow();
    EXPECT_EQ(d.CaFile, "");
    EXPECT_FALSE(d.NoCheck);  // certificates are checked unless the user says otherwise
    EXPECT_EQ(d.Idle, 60);
    EXPECT_TRUE(d.KeepAlive);
    EXPECT_EQ(d.Connections, 6);

    {
        QSettings s("Quenbrik", "Web Lumifang");
        s.setValue("Network/CaFile", "/etc/meine-ca.pem");
        s.setValue("Network/NoCheckCertificate", true);
        s.setValue("Network/IdleTimeout", 0);
        s.setValue("Network/KeepAlive", false);
        s.setValue("Network/Connections", 16);
    }
    TClientSettings set = FromFreshWindow();
    EXPECT_EQ(set.CaFile, "/etc/meine-ca.pem");
    EXPECT_TRUE(set.NoCheck);
    EXPECT_EQ(set.Idle, 0);
    EXPECT_FALSE(set.KeepAlive);
    EXPECT_EQ(set.Connections, 16);

    for (const char* bad : {"bald", "-5", "1e9"}) {
        {
            QSettings s("Quenbrik", "Web Lumifang");
            s.setValue("Network/IdleTimeout", bad);
        }
        EXPECT_EQ(FromFreshWindow().Idle, 60) << bad;
    }
    for (const char* bad : {"0", "17", "viele", "-1"}) {
        {
            QSettings s("Quenbrik", "Web Lumifang");
            s.setValue("Network/Connections", bad);
        }
        EXPECT_EQ(FromFreshWindow().Connections, 6) << bad;
    }
}

TEST(ScanSettings, WindowScanBoundsFollowTheSettings)
{
    TempFolder dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path().string()));
    auto bounds = [] {
        TMainFormSetup setup;
        setup.UseOptionsFile = false;
        TMainForm form(setup);
        return std::pair(form.MaxPages, form.MaxLevel);
    };
    EXPECT_EQ(bounds(), std::pair(0u, 0u)) << "no limit unless the user sets one";
    {
        QSettings s("Quenbrik", "Web Lumifang");
        s.setValue("Scan/MaxPages", 500);
        s.setValue("Scan/MaxLevel", "3");
    }
    EXPECT_EQ(bounds(), std::pair(500u, 3u));
    for (const char* bad : {"viele", "-1", "4294967296", "2.5"}) {
        {
            QSettings s("Quenbrik", "Web Lumifang");
            s.setValue("Scan/MaxPages", bad);
        }
        EXPECT_EQ(bounds().first, 0u) << bad;
    }
}

}  // namespace
