// Request driving and stopping: the fixed settings of HttpCli1, its two
// event handlers and the break buttons.
#include "app/MainUnit.h"

// system
#include <string>

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
    HttpCli1.OnDocData = [this](THttpCli& Sender, const char* Buffer, int Len) {
        HttpCli1DocData(Sender, Buffer, Len);
    };
    HttpCli1.OnRequestDone = [this](THttpCli& Sender, THttpRequest RqType, std::uint16_t Error) {
        HttpCli1RequestDone(Sender, RqType, Error);
    };
}

std::uint32_t TMainForm::ScanLimitSetting(const char* key)
{
    QSettings settings("Quenbrik", "Web Lumifang");
    bool ok = false;
    const qlonglong value = settings.value(key, 0).toLongLong(&ok);
    return ok && value > 0 && value <= 0xFFFFFFFFll ? static_cast<std::uint32_t>(value) : 0;
}

void TMainForm::HttpCli1DocData(THttpCli& Sender, const char* Buffer, int Len)
{
    (void)Buffer;
    (void)Len;
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
    if (Error == httpErrBodyWrite)
        ++Failures.Local;
    else if (Error != 0)
        ++Failures.Transport;
    else if (Sender.StatusCode() >= 400)
        ++Failures.ErrorStatus;
    if (Error == 0)
        return;
    // Codes with a text of their own say why (a certificate, a timeout ...).
    const std::string text = HttpDoneErrorText(Error);
    if (text.empty())
        AddMemoLine("HTTP Fehler: " + std::to_string(Error));
    else
        AddMemoLine("HTTP Fehler: " + std::to_string(Error) + " (" + text + ")");
}

void TMainForm::BreakBtnClick()
{
    HttpCli1.Abort();
    AbortRequested = true;
}

void TMainForm::BreakLocalBtnClick()
{
    HttpCli1.Abort();
}
