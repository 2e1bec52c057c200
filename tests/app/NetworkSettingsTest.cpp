// The window's network settings and scan bounds come from QSettings: the client of a fresh
// main window carries them, and a value that makes no sense falls back.
#include <utility>

#include <QSettings>

#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "app/SettingsDialog.h"
#include "tests/app/MainFormFixture.h"
#include "ui/ScriptedResponder.h"

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

namespace {

TEST(SettingsDialog, RoundTripThroughTheUsersSettingsAndInvalidValuesRefused)
{
    using namespace wltest;
    TempFolder dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.Path().string()));
    const std::string ca = dir.Dir() + "ca.pem";
    WriteBytes(ca, "-----BEGIN CERTIFICATE-----\n");
    const std::string cookies = dir.Dir() + "cookies.txt";
    WriteBytes(cookies, ".galerie.de\tTRUE\t/\tFALSE\t0\tsitzung\tabc\n");
    TScriptedResponder responder;
    TResponderScope scope(responder);
    TMainFormSetup setup;
    setup.UseOptionsFile = false;
    TMainForm form(setup);

    // Each field refuses what makes no sense: one box, the dialog stays open.
    struct TBad {
        TEdit* TSettingsForm::*Field;
        const char* Text;
    };
    const TBad bad[] = {{&TSettingsForm::ConnectionsEdit, "17"}, {&TSettingsForm::ConnectionsEdit, "0"},
                        {&TSettingsForm::IdleEdit, "bald"},      {&TSettingsForm::IdleEdit, "90000"},
                        {&TSettingsForm::CaFileEdit, "/fehlt/ca.pem"}, {&TSettingsForm::MaxPagesEdit, "-1"},
                        {&TSettingsForm::MaxLevelEdit, "4294967296"}, {&TSettingsForm::MinSizeEdit, "400"},
                        {&TSettingsForm::MinSizeEdit, "x300"},   {&TSettingsForm::MinBytesEdit, "viel"},
                        {&TSettingsForm::WaitEdit, "-1"},        {&TSettingsForm::LimitRateEdit, "100g"},
                        {&TSettingsForm::UserAgentEdit, "Bot\r\nX-Evil: 1"},
                        {&TSettingsForm::CookieFileEdit, "/fehlt/cookies.txt"}};
    int refused = 0;
    responder.AnswerForm([&](TForm& f) {
        auto& d = dynamic_cast<TSettingsForm&>(f);
        EXPECT_EQ(d.ConnectionsEdit->Text(), "6");
        EXPECT_EQ(d.IdleEdit->Text(), "60");
        EXPECT_TRUE(d.KeepAliveCheck->Checked());
        EXPECT_FALSE(d.NoParentCheck->Checked());
        // The picture choices start off.
        EXPECT_EQ(d.MinSizeEdit->Text(), "");
        EXPECT_EQ(d.LimitRateEdit->Text(), "0");
        EXPECT_EQ(d.UserAgentEdit->Text(), "");
        for (const TBad& b : bad) {
            const std::string before = (d.*b.Field)->Text();
            (d.*b.Field)->Text = b.Text;
            d.OkBtn->Click();
            refused += d.ModalResult() == mrNone ? 1 : 0;
            (d.*b.Field)->Text = before;
        }
        d.ConnectionsEdit->Text = "2";
        d.KeepAliveCheck->Checked = false;
        d.IdleEdit->Text = "2,5";
        d.CaFileEdit->Text = ca;
        d.NoCheckCertCheck->Checked = true;
        d.MaxPagesEdit->Text = "500";
        d.MaxLevelEdit->Text = "3";
        d.ModernBox->Checked = true;
        d.NoParentCheck->Checked = true;
        d.SkipThumbnailsCheck->Checked = true;
        d.MinSizeEdit->Text = "400 × 300";
        d.MinBytesEdit->Text = "2048";
        d.SkipDuplicatesCheck->Checked = true;
        d.WaitEdit->Text = "1,5";
        d.RandomWaitCheck->Checked = true;
        d.LimitRateEdit->Text = "100k";
        d.RobotsCheck->Checked = true;
        d.UserAgentEdit->Text = "Lumifang/2.0";
        d.CookieFileEdit->Text = cookies;
        d.OkBtn->Click();
        return mrNone;
    });
    for (std::size_t i = 0; i < std::size(bad); ++i)
        responder.AnswerMessage(mrOk);
    form.SettingsBtn->Click();
    EXPECT_EQ(refused, static_cast<int>(std::size(bad)));
    EXPECT_EQ(responder.Unanswered(), 0);
    ASSERT_EQ(responder.Asked().size(), std::size(bad) + 1);
    EXPECT_EQ(responder.Asked()[1].Text, "Gleichzeitige Verbindungen: bitte eine Zahl von 1 bis 16 angeben.");
    EXPECT_EQ(responder.Asked()[1].Icon, TMsgIcon::Error);

    // Kept at once in this window, and in the settings for the next one.
    EXPECT_EQ(form.Connections, 2);
    EXPECT_FALSE(form.HttpCli1.KeepAlive);
    EXPECT_EQ(form.HttpCli1.IdleTimeout, 2.5);
    EXPECT_EQ(form.HttpCli1.CaFile, ca);
    EXPECT_TRUE(form.HttpCli1.NoCheckCertificate);
    EXPECT_EQ(form.MaxPages, 500u);
    EXPECT_EQ(form.MaxLevel, 3u);
    EXPECT_TRUE(form.ModernCheck->Checked());
    EXPECT_TRUE(form.NoParent);
    const auto choicesKept = [&](TMainForm& f) {
        const TPictureChoices& c = f.Choices;
        EXPECT_TRUE(c.SkipThumbnails);
        EXPECT_EQ(c.MinWidth, 400u);
        EXPECT_EQ(c.MinHeight, 300u);
        EXPECT_EQ(c.MinBytes, 2048u);
        EXPECT_TRUE(c.SkipDuplicates);
        EXPECT_EQ(c.WaitMs, 1500);
        EXPECT_TRUE(c.RandomWait);
        EXPECT_EQ(c.LimitRate, 100u * 1024);
        EXPECT_TRUE(c.Robots);
        EXPECT_EQ(f.HttpCli1.Agent, "Lumifang/2.0");
        EXPECT_TRUE(static_cast<bool>(f.HttpCli1.OnReceivePace)) << "the rate limit paces the client";
        EXPECT_EQ(c.Cookies.HeaderFor("http://www.galerie.de/a.jpg", 0), "sitzung=abc");
    };
    choicesKept(form);
    TMainForm next(setup);
    choicesKept(next);
    EXPECT_EQ(next.Connections, 2);
    EXPECT_FALSE(next.HttpCli1.KeepAlive);
    EXPECT_EQ(next.HttpCli1.IdleTimeout, 2.5);
    EXPECT_EQ(next.HttpCli1.CaFile, ca);
    EXPECT_TRUE(next.HttpCli1.NoCheckCertificate);
    EXPECT_EQ(next.MaxPages, 500u);
    EXPECT_EQ(next.MaxLevel, 3u);
    EXPECT_TRUE(next.NoParent);

    // Abbrechen changes nothing, whatever was typed.
    responder.Reset();
    responder.AnswerForm([](TForm& f) {
        auto& d = dynamic_cast<TSettingsForm&>(f);
        EXPECT_EQ(d.MaxPagesEdit->Text(), "500");
        d.MaxPagesEdit->Text = "7";
        d.NoParentCheck->Checked = false;
        EXPECT_EQ(d.MinSizeEdit->Text(), "400x300");
        EXPECT_EQ(d.LimitRateEdit->Text(), "100k");
        d.LimitRateEdit->Text = "1m";
        d.CancelBtn->Click();
        return mrNone;
    });
    form.SettingsBtn->Click();
    EXPECT_EQ(form.MaxPages, 500u);
    EXPECT_TRUE(form.NoParent);
    EXPECT_EQ(QSettings("Quenbrik", "Web Lumifang").value("Scan/MaxPages").toInt(), 500);
    EXPECT_EQ(form.Choices.LimitRate, 100u * 1024);

    // Emptied fields turn the choices off again, the client's own agent included.
    responder.Reset();
    responder.AnswerForm([](TForm& f) {
        auto& d = dynamic_cast<TSettingsForm&>(f);
        d.MinSizeEdit->Text = "";
        d.LimitRateEdit->Text = "0";
        d.UserAgentEdit->Text = "";
        d.CookieFileEdit->Text = "";
        d.OkBtn->Click();
        return mrNone;
    });
    form.SettingsBtn->Click();
    EXPECT_EQ(form.Choices.MinWidth, 0u);
    EXPECT_EQ(form.Choices.MinHeight, 0u);
    EXPECT_EQ(form.Choices.LimitRate, 0u);
    EXPECT_FALSE(static_cast<bool>(form.HttpCli1.OnReceivePace));
    EXPECT_EQ(form.HttpCli1.Agent, "Mozilla/3.0 (compatible)");
    EXPECT_TRUE(form.Choices.Cookies.Cookies().empty());
}

}  // namespace
