// Request driving and stopping: the fixed settings of HttpCli1, its two
// event handlers and the break buttons.
#include "app/MainUnit.h"

// system
#include <string>

// Qt
#include <QSettings>

void TMainForm::SetupHttpCli1()
{
    SetupJobClient(HttpCli1);
    // Secure connections and the idle limit come from the user's settings;
    // certificates are checked unless the user turned that off there.
    QSettings settings("Quenbrik", "Web Lumifang");
    HttpCli1.CaFile = settings.value("Network/CaFile", QString()).toString().toStdString();
    HttpCli1.NoCheckCertificate = settings.value("Network/NoCheckCertificate", false).toBool();
    bool ok = false;
    const double idle = settings.value("Network/IdleTimeout", 60).toDouble(&ok);
    HttpCli1.IdleTimeout = ok && idle >= 0 && idle <= 86400 ? idle : 60;
    // A connection stays open for the next request to the same server, and a
    // job keeps several requests in flight: on a real network each costs
    // round trips that loopback never shows.
    HttpCli1.KeepAlive = settings.value("Network/KeepAlive", true).toBool();
    const int connections = settings.value("Network/Connections", 6).toInt(&ok);
    Connections = ok && connections >= 1 && connections <= kMaxConnections ? connections : 6;
    HttpCli1.OnDocData = [this](THttpCli& Sender, const char* Buffer, int Len) {
        HttpCli1DocData(Sender, Buffer, Len);
    };
    HttpCli1.OnRequestDone = [this](THttpCli& Sender, THttpRequest RqType, std::uint16_t Error) {
        HttpCli1RequestDone(Sender, RqType, Error);
    };
    MaxPages = ScanLimitSetting("Scan/MaxPages");
    MaxLevel = ScanLimitSetting("Scan/MaxLevel");
    NoParent = BoolSetting("Scan/NoParent", false);
    LoadPictureChoices();
}

std::uint32_t TMainForm::ScanLimitSetting(const char* key)
{
    QSettings settings("Quenbrik", "Web Lumifang");
    bool ok = false;
    const qlonglong value = settings.value(key, 0).toLongLong(&ok);
    return ok && value > 0 && value <= 0xFFFFFFFFll ? static_cast<std::uint32_t>(value) : 0;
}

bool TMainForm::BoolSetting(const char* key, bool fallback)
{
    QSettings settings("Quenbrik", "Web Lumifang");
    return settings.value(key, fallback).toBool();
}

void TMainForm::HttpCli1DocData(THttpCli& Sender, const char* Buffer, int Len)
{
    (void)Buffer;
    Engine.DocData(Sender, Len);
}

void TMainForm::HttpCli1RequestDone(THttpCli& Sender, THttpRequest RqType, std::uint16_t Error)
{
    (void)RqType;
    Engine.RequestDone(Sender.StatusCode(), Error);
}

void TMainForm::BreakBtnClick()
{
    Engine.Break();
}

void TMainForm::BreakLocalBtnClick()
{
    Engine.BreakLocal();
}
