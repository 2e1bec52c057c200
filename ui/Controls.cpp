// The base of every control (TControl, TWinControl). The control families have
// a file each: PanelControls.cpp, ButtonControls.cpp, EditControls.cpp, ListControls.cpp.
#include "ui/Controls.h"

// system
#include <algorithm>

// Qt
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

// ours
#include "ui/Canvas.h"
#include "ui/Form.h"
#include "ui/HostWidget.h"
#include "ui/Responder.h"
#include "ui/StringListModel.h"

namespace {
void SetWidgetColor(QWidget* w, TColor c, QPalette::ColorRole role = QPalette::Window)
{
    if (c == clDefault) {
        w->setAutoFillBackground(false);
        w->setPalette(QPalette());
        return;
    }
    QPalette pal = w->palette();
    pal.setColor(role, ToQColor(c));
    w->setPalette(pal);
    if (role == QPalette::Window)
        w->setAutoFillBackground(true);
}

QFont FontOf(const TFontSpec& font)
{
    QFont f = QApplication::font();
    if (font.Name == "Courier New") {
        f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    } else if (font.Name == "Arial Black") {
        f.setFamily(QStringLiteral("DejaVu Sans"));
        f.setWeight(QFont::Black);
    } else if (font.Name != "MS Sans Serif") {
        f.setFamily(ToQString(font.Name));
    }
    if (font.Size > 0)
        f.setPointSize(font.Size);
    if (font.Bold)
        f.setBold(true);
    return f;
}

} // namespace

// ---------------------------------------------------------------------------
// TControl, TWinControl

void HostWidget::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (owner_)
        owner_->AlignControls();
}

TControl::TControl(TWinControl* parent, QWidget* widget, std::string name)
    : Name(std::move(name)),
      Enabled([this] { return !widget_->testAttribute(Qt::WA_ForceDisabled); },
              [this](const bool& v) { widget_->setEnabled(v); }),
      Visible([this] { return GetVisible(); }, [this](const bool& v) { SetVisible(v); }),
      Hint([this] { return FromQString(widget_->toolTip()); },
           [this](const std::string& v) { widget_->setToolTip(ToQString(v)); }),
      Align([this] { return align_; },
            [this](const TAlign& a) {
                align_ = a;
                Realign();
            }),
      Color([this] { return color_; }, [this](const TColor& c) { SetColor(c); }),
      Left([this] { return GetBounds().Left; },
           [this](const int& v) { SetBounds(v, placement_.Top, placement_.Width(), placement_.Height()); }),
      Top([this] { return GetBounds().Top; },
          [this](const int& v) { SetBounds(placement_.Left, v, placement_.Width(), placement_.Height()); }),
      Width([this] { return GetBounds().Width(); },
            [this](const int& v) { SetBounds(placement_.Left, placement_.Top, v, placement_.Height()); }),
      Height([this] { return GetBounds().Height(); },
             [this](const int& v) { SetBounds(placement_.Left, placement_.Top, placement_.Width(), v); }),
      parent_(parent),
      widget_(widget)
{
    placement_ = TRect{widget_->x(), widget_->y(), widget_->x() + widget_->width(), widget_->y() + widget_->height()};
    widget_->setObjectName(ToQString(Name));
    if (parent_)
        parent_->children_.push_back(this);
}

TControl::~TControl() = default;

QWidget* TControl::Widget() const
{
    return widget_;
}

TForm* TControl::ParentForm() const
{
    const TControl* c = this;
    while (c->parent_)
        c = c->parent_;
    return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    placement_ = TRect{left, top, left + std::max(0, width), top + std::max(0, height)};
    if (align_ == TAlign::None)
        widget_->setGeometry(left, top, std::max(0, width), std::max(0, height));
    Realign();
    if (auto* w = dynamic_cast<TWinControl*>(this))
        w->AlignControls();
}

void TControl::SetFont(const TFontSpec& font)
{
    widget_->setFont(FontOf(font));
    if (font.Color != clDefault) {
        QPalette pal = widget_->palette();
        pal.setColor(QPalette::WindowText, ToQColor(font.Color));
        pal.setColor(QPalette::Text, ToQColor(font.Color));
        widget_->setPalette(pal);
    }
}

void TControl::BringToFront()
{
    widget_->raise();
}

void TControl::Invalidate()
{
    widget_->update();
}

TRect TControl::GetBounds() const
{
    const QRect g = widget_->geometry();
    return TRect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

bool TControl::GetVisible() const
{
    return visible_;
}

void TControl::SetVisible(bool v)
{
    visible_ = v;
    widget_->setVisible(v);
    Realign();
}

void TControl::SetColor(TColor c)
{
    color_ = c;
    SetWidgetColor(widget_, c);
}

void TControl::Realign()
{
    if (parent_)
        parent_->AlignControls();
}

TWinControl::TWinControl(TWinControl* parent, QWidget* widget, std::string name)
    : TControl(parent, widget, std::move(name))
{
}

TWinControl::~TWinControl() = default;

void TWinControl::AlignControls()
{
    int left = 0, top = 0, right = widget_->width(), bottom = widget_->height();
    auto place = [](TControl* c, int x, int y, int w, int h) {
        c->widget_->setGeometry(x, y, std::max(0, w), std::max(0, h));
        if (auto* wc = dynamic_cast<TWinControl*>(c))
            wc->AlignControls();
    };
    // Top, bottom, left, right edges first, the client area last: each aligned
    // child takes its strip from the room the ones before it left.
    for (TAlign pass : {TAlign::Top, TAlign::Bottom, TAlign::Left, TAlign::Right, TAlign::Client}) {
        for (TControl* c : children_) {
            if (c->align_ != pass || !c->visible_)
                continue;
            const int h = c->placement_.Height();
            const int w = c->placement_.Width();
            switch (pass) {
            case TAlign::Top:
                place(c, left, top, right - left, h);
                top += h;
                break;
            case TAlign::Bottom:
                place(c, left, bottom - h, right - left, h);
                bottom -= h;
                break;
            case TAlign::Left:
                place(c, left, top, w, bottom - top);
                left += w;
                break;
            case TAlign::Right:
                place(c, right - w, top, w, bottom - top);
                right -= w;
                break;
            case TAlign::Client:
                place(c, left, top, right - left, bottom - top);
                break;
            case TAlign::None:
                break;
            }
        }
    }
}
