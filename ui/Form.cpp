#include "ui/Form.h"

// Qt
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHideEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>

// ours
#include "ui/ControlHelpers.h"
#include "ui/HostWidget.h"
#include "ui/Responder.h"

class FormWindow : public HostWidget {
public:
    FormWindow() : HostWidget(nullptr, nullptr) {}
    TForm* form = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override
    {
        if (!form || form->QueryClose()) {
            e->accept();
            if (form && form->OnClose)
                form->OnClose();
            if (form && form->modalLoop_) {
                if (form->modalResult_ == mrNone)
                    form->modalResult_ = mrCancel;
                form->modalLoop_->quit();
            }
        } else {
            e->ignore();
        }
    }
    // Hidden by the program or closed; a minimized window (a spontaneous hide) stays the form's.
    void hideEvent(QHideEvent* e) override
    {
        HostWidget::hideEvent(e);
        if (form && form->OnHide && !e->spontaneous())
            form->OnHide();
    }
    void keyPressEvent(QKeyEvent* e) override
    {
        if (form && e->modifiers() == Qt::NoModifier) {
            TButton* b = nullptr;
            if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
                b = form->DefaultButton();
            else if (e->key() == Qt::Key_Escape)
                b = form->CancelButton();
            if (b) {
                b->Click();
                return;
            }
        }
        HostWidget::keyPressEvent(e);
    }
};

// Hands the window's key presses to the form before the focused control.
// It watches the application's events, as a key goes to the control with the
// focus first; only that first delivery counts (or the window's own, when
// no control of it has the focus), so a key that travels on up to the
// window is not heard twice.
class KeyPreviewFilter : public QObject {
public:
    explicit KeyPreviewFilter(TForm* form) : form_(form) { QApplication::instance()->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress || !form_->KeyPreview || !form_->OnKeyDown || !watched->isWidgetType())
            return false;
        auto* w = static_cast<QWidget*>(watched);
        QWidget* window = form_->Widget();
        if (w->window() != window)
            return false;
        QWidget* focus = QApplication::focusWidget();
        const bool focusHere = focus && focus->window() == window;
        if (focusHere ? w != focus : w != window)
            return false;
        auto* ke = static_cast<QKeyEvent*>(e);
        Word key = ctl::VirtualKeyOf(ke->key(), ke->modifiers());
        if (key == 0)
            return false;
        form_->OnKeyDown(key, ShiftOf(ke->modifiers()));
        return key == 0;
    }

private:
    TForm* form_;
};

TForm::TForm(std::string name)
    : TWinControl(nullptr, new FormWindow, std::move(name)),
      Caption([this] { return FromQString(widget_->windowTitle()); },
              [this](const std::string& v) { widget_->setWindowTitle(ToQString(v)); }),
      ClientWidth([this] { return widget_->width(); },
                  [this](const int& v) {
                      widget_->setMinimumSize(0, 0);
                      widget_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
                      widget_->resize(v, widget_->height());
                      AlignControls();
                  }),
      ClientHeight([this] { return widget_->height(); },
                   [this](const int& v) {
                       widget_->setMinimumSize(0, 0);
                       widget_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
                       widget_->resize(widget_->width(), v);
                       AlignControls();
                   }),
      ModalResult([this] { return modalResult_; },
                  [this](const int& v) {
                      modalResult_ = v;
                      if (v != mrNone && modalLoop_)
                          modalLoop_->quit();
                  })
{
    auto* w = static_cast<FormWindow*>(widget_);
    w->form = this;
    w->SetOwner(this);
    visible_ = false;
}

TForm::~TForm()
{
    keyPreview_.reset();
    // A window deleted while shown is hidden on the way; the handlers of a
    // form half gone must not hear of it.
    static_cast<FormWindow*>(widget_)->form = nullptr;
    // The window and every widget in it go first; then the controls, newest
    // first, so no control outlives the ones it was placed in.
    delete widget_;
    widget_ = nullptr;
    while (!owned_.empty())
        owned_.pop_back();
}

void TForm::PlaceOnScreen()
{
    if (placed_ || !CenterOnScreen)
        return;
    placed_ = true;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        widget_->move(area.center() - QPoint(widget_->width() / 2, widget_->height() / 2));
    }
}

void TForm::Show()
{
    if (DialogBorder)
        widget_->setFixedSize(widget_->size());
    PlaceOnScreen();
    if (KeyPreview && !keyPreview_)
        keyPreview_ = std::make_unique<KeyPreviewFilter>(this);
    visible_ = true;
    widget_->show();
    if (OnShow)
        OnShow();
}

void TForm::Hide()
{
    visible_ = false;
    widget_->hide();
}

bool TForm::QueryClose()
{
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(canClose);
    if (canClose)
        visible_ = false;
    return canClose;
}

bool TForm::Close()
{
    if (!widget_->isVisible()) {
        // A hidden form still asks: closing is what the user asked for.
        if (!QueryClose())
            return false;
        if (OnClose)
            OnClose();
        if (modalLoop_) {
            if (modalResult_ == mrNone)
                modalResult_ = mrCancel;
            modalLoop_->quit();
        }
        return true;
    }
    return widget_->close();
}

bool TForm::Showing() const
{
    return widget_->isVisible();
}

TModalResult TForm::ShowModal()
{
    return Responder().ShowModal(*this);
}

TModalResult TForm::ExecModal()
{
    modalResult_ = mrNone;
    QPointer<QWidget> window(widget_);
    widget_->setWindowModality(Qt::ApplicationModal);
    Show();
    QEventLoop loop;
    QEventLoop* outer = modalLoop_;
    modalLoop_ = &loop;
    if (modalResult_ == mrNone)
        loop.exec(QEventLoop::DialogExec);
    modalLoop_ = outer;
    if (window) {
        Hide();
        widget_->setWindowModality(Qt::NonModal);
    }
    if (modalResult_ == mrNone)
        modalResult_ = mrCancel;
    return static_cast<TModalResult>(modalResult_);
}

TButton* TForm::DefaultButton() const
{
    for (const auto& c : owned_) {
        auto* b = dynamic_cast<TButton*>(c.get());
        if (b && b->Default && b->Enabled() && b->Widget()->isVisible())
            return b;
    }
    return nullptr;
}

TButton* TForm::CancelButton() const
{
    for (const auto& c : owned_) {
        auto* b = dynamic_cast<TButton*>(c.get());
        if (b && b->Cancel && b->Enabled() && b->Widget()->isVisible())
            return b;
    }
    return nullptr;
}
