// The main window as it grows: the address and folder fields, the found list
// and the memo take the room a larger window gives; nothing shrinks below the
// size the window was laid out for.
#include "app/MainUnit.h"

// system
#include <algorithm>
#include <functional>
#include <initializer_list>

// Qt
#include <QEvent>
#include <QGuiApplication>
#include <QListView>
#include <QObject>
#include <QScreen>
#include <QWidget>

namespace {

// Calls back after the widget it watches has been resized (its own controls
// aligned already) or before the form's are aligned.
class TResizeHook : public QObject {
public:
    TResizeHook(QWidget* watched, std::function<void()> onResize)
        : QObject(watched), onResize_(std::move(onResize))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && onResize_)
            onResize_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onResize_;
};

}  // namespace

void TMainForm::SetupLayout()
{
    baseClient_ = {ClientWidth(), ClientHeight()};
    // Long addresses keep the end that tells them apart: the file name.
    ListBox1->View()->setTextElideMode(Qt::ElideLeft);
    // The memo's share is set before the form aligns its parts ...
    new TResizeHook(Widget(), [this] { LayoutStatusArea(); });
    // ... and the tabs' controls once their panels have their new size.
    for (TControl* c : std::initializer_list<TControl*>{URLEdit, ListBox1, DirectoryEdit1})
        new TResizeHook(c->Parent()->Widget(), [this] { LayoutTabs(); });
    OnShow = [this] { FitOnScreen(); };
}

void TMainForm::LayoutStatusArea()
{
    const int dx = std::max(0, Widget()->width() - baseClient_.first);
    const int dy = std::max(0, Widget()->height() - baseClient_.second);
    // A third of the new height goes to the memo, the rest to the tabs.
    const int memoGrow = dy / 3;
    if (Panel12->Height() != 109 + memoGrow)
        Panel12->Height = 109 + memoGrow;
    Memo1->SetBounds(8, 19, 622 + dx, 76 + memoGrow);
    ProgressBar1->SetBounds(8, 97 + memoGrow, 622 + dx, 9);
}

void TMainForm::LayoutTabs()
{
    // The side panels keep their width and the memo takes its third of the
    // height: the tabs' content grows by the rest.
    const int dx = std::max(0, Widget()->width() - baseClient_.first);
    const int dy = std::max(0, Widget()->height() - baseClient_.second);
    const int grow = dy - dy / 3;
    URLEdit->Width = 396 + dx;
    Autosaug->Width = 396 + dx;
    ModernCheck->Width = 396 + dx;
    ListBox1->SetBounds(10, 10, 262 + dx, 292 + grow);
    for (TButton* b : {OpenLBtn, SaveLBtn, MarkBtn, NotBtn, ClearBtn, DelBtn})
        b->Left = 280 + dx;
    DirectoryEdit1->Width = 396 + dx;
}

void TMainForm::FitOnScreen()
{
    // A window taller or wider than the screen (a large scale factor) is
    // made to fit; its parts keep their layout, which needs no more room.
    const QScreen* screen = Widget()->screen() ? Widget()->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect frame = Widget()->frameGeometry();
    const int frameW = frame.width() - Widget()->width(), frameH = frame.height() - Widget()->height();
    const int w = std::min(Widget()->width(), area.width() - frameW);
    const int h = std::min(Widget()->height(), area.height() - frameH);
    if (w != Widget()->width() || h != Widget()->height())
        Widget()->resize(w, h);
    if (!area.contains(Widget()->frameGeometry()))
        Widget()->move(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width())),
                       std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height())));
}
