#include "ui/Splitter.h"

// system
#include <algorithm>

// Qt
#include <QMouseEvent>
#include <QWidget>

class SplitterWidget : public QWidget {
public:
    SplitterWidget(QWidget* parent) : QWidget(parent) {}
    TSplitter* Owner = nullptr;

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        if (!Owner || !Owner->Control || e->button() != Qt::LeftButton)
            return;
        press_ = e->globalPosition().toPoint();
        Owner->SetCursorForAlign();
        dragging_ = true;
    }
    void enterEvent(QEnterEvent*) override
    {
        if (Owner)
            Owner->SetCursorForAlign();
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (!dragging_)
            return;
        const QPoint now = e->globalPosition().toPoint();
        const QPoint d = now - press_;
        press_ = now;
        Owner->DragBy(d.x(), d.y());
    }
    void mouseReleaseEvent(QMouseEvent*) override
    {
        if (dragging_ && Owner->OnMoved)
            Owner->OnMoved();
        dragging_ = false;
    }

private:
    QPoint press_;
    bool dragging_ = false;
};

TSplitter::TSplitter(TWinControl* parent, std::string name)
    : TControl(parent, new SplitterWidget(parent ? parent->Widget() : nullptr), std::move(name))
{
    static_cast<SplitterWidget*>(widget_)->Owner = this;
    widget_->setCursor(Qt::SplitHCursor);
}

void TSplitter::SetCursorForAlign()
{
    const TAlign a = Align();
    widget_->setCursor(a == TAlign::Top || a == TAlign::Bottom ? Qt::SplitVCursor : Qt::SplitHCursor);
}

void TSplitter::DragBy(int dx, int dy)
{
    if (!Control)
        return;
    const TAlign a = Align();
    // The room the parent gives both, less the bar itself and a little left for the neighbour.
    const QWidget* host = parent_ ? parent_->Widget() : nullptr;
    switch (a) {
    case TAlign::Left:
    case TAlign::Right: {
        const int current = Control->Width();
        const int limit = host ? std::max(MinSize, host->width() - Width() - MinSize) : 1 << 20;
        Control->Width = std::clamp(current + (a == TAlign::Left ? dx : -dx), MinSize, limit);
        break;
    }
    case TAlign::Top:
    case TAlign::Bottom: {
        const int current = Control->Height();
        const int limit = host ? std::max(MinSize, host->height() - Height() - MinSize) : 1 << 20;
        Control->Height = std::clamp(current + (a == TAlign::Top ? dy : -dy), MinSize, limit);
        break;
    }
    default:
        break;
    }
}
