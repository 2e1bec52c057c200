// The job's progress in words, in the status bar's last panel.
#include "app/MainUnit.h"

// system
#include <string>

// Qt
#include <QTimer>
#include <QWidget>

namespace {

constexpr auto kWaitShownAfter = std::chrono::seconds(1);
constexpr auto kStatusPaintEvery = std::chrono::milliseconds(100);

std::string SizeText(std::int64_t bytes)
{
    if (bytes < 1024 * 1024)
        return std::to_string(bytes / 1024) + " KB";
    const std::int64_t tenths = bytes * 10 / (1024 * 1024);
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " MB";
}

}  // namespace

void TMainForm::StartJobStatus(std::string text)
{
    jobStatus_ = std::move(text);
    lastData_ = std::chrono::steady_clock::now();
    if (!statusTick_) {
        // Ticks while a request waits, so the seconds count up without data.
        statusTick_ = new QTimer(Widget());
        statusTick_->setInterval(1000);
        QObject::connect(statusTick_, &QTimer::timeout, [this] { RefreshJobStatus(); });
    }
    if (!statusTick_->isActive())
        statusTick_->start();
    RefreshJobStatus();
}

void TMainForm::ScanProgress(const TScanProgress& p)
{
    jobDownload_ = false;
    StartJobStatus("Seiten: " + std::to_string(p.PagesDone) + " fertig, " + std::to_string(p.PagesWaiting) +
                   " in der Warteschlange – Bilder: " + std::to_string(p.Pictures) + " – lade " + p.Address);
}

void TMainForm::NoteJobData(int bytes)
{
    jobBytes_ += bytes;
    lastData_ = std::chrono::steady_clock::now();
}

void TMainForm::DownloadProgress(std::size_t index, std::size_t count)
{
    if (!jobDownload_ || index <= 1) {
        jobBytes_ = 0;
        jobStart_ = std::chrono::steady_clock::now();
    }
    jobDownload_ = true;
    StartJobStatus("Datei " + std::to_string(index) + " von " + std::to_string(count));
}

void TMainForm::HoldJobWait(bool held)
{
    if (!statusTick_ || jobStatus_.empty())
        return;
    lastData_ = std::chrono::steady_clock::now();
    if (held)
        statusTick_->stop();
    else
        statusTick_->start();
    RefreshJobStatus();
}

std::string TMainForm::JobStatusText() const
{
    const std::size_t last = StatusBar1->Panels.size() - 1;
    return StatusBar1->Panels[last].Text;
}

void TMainForm::RefreshJobStatus()
{
    if (jobStatus_.empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    std::string text = jobStatus_;
    if (jobDownload_) {
        const double seconds = std::chrono::duration<double>(now - jobStart_).count();
        text += " – " + SizeText(jobBytes_);
        if (seconds >= 1)
            text += ", " + SizeText(static_cast<std::int64_t>(static_cast<double>(jobBytes_) / seconds)) + "/s";
    }
    if (now - lastData_ >= kWaitShownAfter)
        text += " – wartet seit " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(now - lastData_).count()) + " s";
    TStatusPanel& panel = StatusBar1->Panels.back();
    if (panel.Text == text)
        return;
    panel.Text = text;
    PaintJobStatus();
}

void TMainForm::PaintJobStatus()
{
    // A download of small files changes the text thousands of times a
    // second; drawing the bar for each took half the command line's time.
    if (!StatusBar1->Widget()->isVisible() || statusPaintPending_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastStatusPaint_ >= kStatusPaintEvery) {
        lastStatusPaint_ = now;
        StatusBar1->Repaint();
        return;
    }
    statusPaintPending_ = true;
    QTimer::singleShot(kStatusPaintEvery, Widget(), [this] {
        statusPaintPending_ = false;
        lastStatusPaint_ = std::chrono::steady_clock::now();
        StatusBar1->Repaint();
    });
}

void TMainForm::ClearJobStatus()
{
    if (statusTick_)
        statusTick_->stop();
    jobStatus_.clear();
    jobDownload_ = false;
    if (StatusBar1->Panels.back().Text.empty())
        return;
    StatusBar1->Panels.back().Text.clear();
    PaintJobStatus();
}
