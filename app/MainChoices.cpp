// The user's optional picture choices, read from the settings.
#include "app/MainUnit.h"

// ours
#include "engine/PictureChoices.h"

// Qt
#include <QSettings>

void TMainForm::LoadPictureChoices()
{
    QSettings settings("Quenbrik", "Web Lumifang");
    const auto count = [&](const char* key, std::uint64_t max) -> std::uint64_t {
        bool ok = false;
        const qulonglong v = settings.value(key, 0).toULongLong(&ok);
        return ok && v <= max ? v : 0;
    };
    Choices.SkipThumbnails = settings.value("Scan/SkipThumbnails", false).toBool();
    Choices.Robots = settings.value("Scan/Robots", false).toBool();
    Choices.MinWidth = static_cast<std::uint32_t>(count("Download/MinWidth", 100000));
    Choices.MinHeight = static_cast<std::uint32_t>(count("Download/MinHeight", 100000));
    Choices.MinBytes = count("Download/MinBytes", std::uint64_t(1) << 40);
    Choices.SkipDuplicates = settings.value("Download/SkipDuplicates", false).toBool();
    bool ok = false;
    const double wait = settings.value("Network/Wait", 0).toDouble(&ok);
    Choices.WaitMs = ok && wait > 0 && wait <= 86400 ? static_cast<std::int64_t>(wait * 1000) : 0;
    Choices.RandomWait = settings.value("Network/RandomWait", false).toBool();
    Choices.LimitRate =
        ParseRate(settings.value("Network/LimitRate", QString()).toString().trimmed().toStdString()).value_or(0);
    Choices.UserAgent = settings.value("Network/UserAgent", QString()).toString().toStdString();
    const std::string cookieFile = settings.value("Network/CookieFile", QString()).toString().toStdString();
    std::string error;
    if (!cookieFile.empty() && !LoadCookieFile(cookieFile, Choices.Cookies, error))
        Choices.Cookies = TCookieJar();
    Engine.UseChoices();
}
