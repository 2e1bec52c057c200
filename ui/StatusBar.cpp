#include "ui/Controls.h"

// Qt
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QResizeEvent>

// ours
#include "ui/Canvas.h"
#include "ui/HostWidget.h"

class StatusBarWidget : public QWidget {
public:
    StatusBarWidget(QWidget* parent) : QWidget(parent) {}
    TStatusBar* owner = nullptr;
    QImage backing;

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QPainter p(this);
        p.setClipRect(e->rect());
        p.drawImage(QPoint(0, 0), backing);
    }
    void resizeEvent(QResizeEvent* e) override
    {
        QWidget::resizeEvent(e);
        if (owner)
            owner->Repaint();
    }
    // Text set while the window was hidden is drawn when it shows.
    void showEvent(QShowEvent* e) override
    {
        QWidget::showEvent(e);
        if (owner)
            owner->Repaint();
    }
};

TStatusBar::TStatusBar(TWinControl* parent, std::string name)
    : TControl(parent, new StatusBarWidget(parent ? parent->Widget() : nullptr), std::move(name))
{
    bar_ = static_cast<StatusBarWidget*>(widget_);
    bar_->owner = this;
    canvas_ = std::make_unique<TCanvas>(&bar_->backing, [this](const TRect& r) {
        bar_->update(r.Left, r.Top, r.Width(), r.Height());
    });
    Align = TAlign::Bottom;
    Height = 19;
}

TStatusBar::~TStatusBar() = default;

TCanvas& TStatusBar::Canvas()
{
    return *canvas_;
}

TRect TStatusBar::PanelRect(int index) const
{
    int left = 0;
    for (int i = 0; i < index && i < static_cast<int>(Panels.size()); ++i)
        left += Panels[static_cast<std::size_t>(i)].Width + 2;
    const int w = index >= 0 && index < static_cast<int>(Panels.size()) ? Panels[static_cast<std::size_t>(index)].Width : 0;
    return TRect{left, 2, left + w, std::max(2, bar_->height() - 1)};
}

int TStatusBar::TextWidth(const std::string& text) const
{
    // The text starts 2 pixels into its panel and keeps as much room on the right.
    return QFontMetrics(bar_->font()).horizontalAdvance(ToQString(text)) + 6;
}

void TStatusBar::Repaint()
{
    const QSize size = bar_->size();
    if (size.isEmpty()) {
        bar_->backing = QImage();
        return;
    }
    // Drawn at the screen's pixel ratio: text and bars stay sharp at a scale
    // factor of 2 instead of being enlarged afterwards.
    const qreal ratio = bar_->devicePixelRatioF();
    const QSize pixels = size * ratio;
    if (bar_->backing.size() != pixels || bar_->backing.devicePixelRatio() != ratio) {
        bar_->backing = QImage(pixels, QImage::Format_RGB32);
        bar_->backing.setDevicePixelRatio(ratio);
    }
    bar_->backing.fill(ToQColor(color_));
    {
        QPainter p(&bar_->backing);
        const QColor dark = bar_->palette().color(QPalette::Dark);
        const QColor light = bar_->palette().color(QPalette::Light);
        p.setPen(dark);
        p.drawLine(0, 0, size.width() - 1, 0);
        for (int i = 0; i < static_cast<int>(Panels.size()); ++i) {
            const TRect r = PanelRect(i);
            // A sunken frame just outside the panel's drawing rectangle.
            p.setPen(dark);
            p.drawLine(r.Left, r.Top - 1, r.Right, r.Top - 1);
            p.drawLine(r.Left - 1 < 0 ? 0 : r.Left - 1, r.Top - 1, r.Left - 1 < 0 ? 0 : r.Left - 1, r.Bottom);
            p.setPen(light);
            p.drawLine(r.Right, r.Top - 1, r.Right, r.Bottom);
            const auto& panel = Panels[static_cast<std::size_t>(i)];
            if (panel.Style == TStatusPanelStyle::Text && !panel.Text.empty()) {
                p.setPen(bar_->palette().color(QPalette::WindowText));
                p.setFont(bar_->font());
                p.drawText(QRect(r.Left + 2, r.Top, r.Width() - 4, r.Height()), Qt::AlignVCenter | Qt::AlignLeft,
                           ToQString(panel.Text));
            }
        }
    }
    for (int i = 0; i < static_cast<int>(Panels.size()); ++i) {
        if (Panels[static_cast<std::size_t>(i)].Style == TStatusPanelStyle::OwnerDraw && OnDrawPanel)
            OnDrawPanel(*this, i, PanelRect(i));
    }
    bar_->update();
}
