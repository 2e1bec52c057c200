// Request driving and stopping: the fixed settings of HttpCli1, its two
// event handlers and the break buttons.
#include "app/MainUnit.h"

// system
#include <string>

// ours
#include "app/FailureText.h"
#include "app/FetchAhead.h"

// Qt
#include <QSettings>

void TMainForm::SetupHttpCli1()
{
    HttpCli1.ProxyPort = "80";
    HttpCli1.Agent = "Mozilla/3.0 (compatible)";
    HttpCli1.Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    HttpCli1.NoCache = false;
    HttpCli1.ContentTypePost = "application/x-www-form-urlencoded";
    HttpCli1.SetMultiThreaded(false);
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
    if (Len > 0)
        jobBytes_ += Len;
    lastData_ = std::chrono::steady_clock::now();
    const std::int64_t length = Sender.ContentLength();
    const std::int64_t count = Sender.BodyCount();
    int position = 0;
    // No length (-1) or a length of 0 leaves the bar at 0; a body longer than
    // announced keeps it full rather than past the end.
    if (length > 0 && count != length) {
        const double percent = static_cast<double>(count) * 100.0 / static_cast<double>(length);
        position = percent >= 100.0 ? 100 : percent <= 0.0 ? 0 : static_cast<int>(percent);
    }
    if (ProgressBar1->Position() != position)
        ProgressBar1->Position = position;
}

void TMainForm::HttpCli1RequestDone(THttpCli& Sender, THttpRequest RqType, std::uint16_t Error)
{
    (void)RqType;
    RequestDone(Sender.StatusCode(), Error);
}

void TMainForm::RequestDone(int StatusCode, std::uint16_t Error)
{
    if (QuietRequest_)
        return;
    if (Error == httpErrBodyWrite)
        ++Failures.Local;
    else if (Error != 0)
        ++Failures.Transport;
    else if (StatusCode >= 400)
        ++Failures.ErrorStatus;
    if (Error == 0)
        return;
    // The code alone tells the user nothing: its reason follows in words.
    AddMemoLine(HttpErrorLine(Error));
}

void TMainForm::BreakBtnClick()
{
    if (ActiveFetch_)
        ActiveFetch_->AbortAll();
    else
        HttpCli1.Abort();
    AbortRequested = true;
}

void TMainForm::BreakLocalBtnClick()
{
    // Only the entry the job waits for; those fetched ahead are later ones.
    std::size_t current = 0;
    if (!ActiveFetch_)
        HttpCli1.Abort();
    else if (ActiveFetch_->Waiting(current))
        ActiveFetch_->Abort(current);
}

TMainForm::TAheadHold::TAheadHold(TMainForm& form, bool wanted) : form_(form)
{
    if (!wanted)
        return;
    const THttpCli& main = form.HttpCli1;
    pool_ = std::make_unique<TFetchAhead>(form.HttpCli1, form.Connections, [&main](THttpCli& c) {
        c.ProxyPort = main.ProxyPort;
        c.Agent = main.Agent;
        c.Accept = main.Accept;
        c.NoCache = main.NoCache;
        c.ContentTypePost = main.ContentTypePost;
        c.SetMultiThreaded(main.MultiThreaded());
        c.CaFile = main.CaFile;
        c.NoCheckCertificate = main.NoCheckCertificate;
        c.ConnectTimeout = main.ConnectTimeout;
        c.IdleTimeout = main.IdleTimeout;
        c.KeepAlive = main.KeepAlive;
        // One limiter for all: the rate is the whole program's.
        c.OnReceivePace = main.OnReceivePace;
    });
    pool_->OnDocData = [&form](THttpCli& Sender, const char* Buffer, int Len) {
        form.HttpCli1DocData(Sender, Buffer, Len);
    };
    pool_->OnRequestDone = [&form](const TFetchAhead::TResult& Result, THttpRequest, std::uint16_t Error) {
        form.RequestDone(Result.StatusCode, Error);
    };
    form.ActiveFetch_ = pool_.get();
}

TMainForm::TAheadHold::~TAheadHold()
{
    // Unknown to the break buttons first: the pool pumps while it ends.
    form_.ActiveFetch_ = nullptr;
    pool_.reset();
}
