// Containers and displays: panels, labels, bevels, the progress bar, images and the page control.
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
#include "ui/ControlHelpers.h"
#include "ui/Canvas.h"
#include "ui/Form.h"
#include "ui/HostWidget.h"
#include "ui/Responder.h"
#include "ui/StringListModel.h"

using ctl::ParentWidget;

// ---------------------------------------------------------------------------
// TPanel, TLabel, TBevel

class PanelWidget : public HostWidget {
public:
    PanelWidget(TWinControl* owner, QWidget* parent) : HostWidget(owner, parent) {}
    std::string caption;
    TBevelCut bevel = TBevelCut::Raised;
    TAlignment alignment = TAlignment::Center;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect r = rect();
        if (bevel != TBevelCut::None && r.width() > 1 && r.height() > 1) {
            const QColor light = palette().color(QPalette::Light);
            const QColor dark = palette().color(QPalette::Dark);
            const QColor& tl = bevel == TBevelCut::Raised ? light : dark;
            const QColor& br = bevel == TBevelCut::Raised ? dark : light;
            p.setPen(tl);
            p.drawLine(r.left(), r.top(), r.right(), r.top());
            p.drawLine(r.left(), r.top(), r.left(), r.bottom());
            p.setPen(br);
            p.drawLine(r.right(), r.top(), r.right(), r.bottom());
            p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        }
        if (!caption.empty()) {
            int flags = Qt::AlignVCenter | Qt::TextSingleLine;
            flags |= alignment == TAlignment::Center ? Qt::AlignHCenter
                     : alignment == TAlignment::LeftJustify ? Qt::AlignLeft
                                                            : Qt::AlignRight;
            p.setPen(palette().color(QPalette::WindowText));
            p.setFont(font());
            p.drawText(r.adjusted(4, 0, -4, 0), flags, ToQString(caption));
        }
    }
};

TPanel::TPanel(TWinControl* parent, std::string name)
    : TWinControl(parent, new PanelWidget(nullptr, ParentWidget(parent)), std::move(name)),
      Caption([this] { return panel_->caption; },
              [this](const std::string& v) {
                  panel_->caption = v;
                  panel_->update();
              }),
      BevelOuter([this] { return panel_->bevel; },
                 [this](const TBevelCut& v) {
                     panel_->bevel = v;
                     panel_->update();
                 }),
      Alignment([this] { return panel_->alignment; },
                [this](const TAlignment& v) {
                    panel_->alignment = v;
                    panel_->update();
                })
{
    panel_ = static_cast<PanelWidget*>(widget_);
    panel_->SetOwner(this);
}

TLabel::TLabel(TWinControl* parent, std::string name)
    : TControl(parent, new QLabel(ParentWidget(parent)), std::move(name)),
      Caption([this] { return FromQString(label_->text()); },
              [this](const std::string& v) {
                  label_->setText(ToQString(v));
                  if (!label_->wordWrap()) {
                      label_->adjustSize();
                      placement_.Right = placement_.Left + label_->width();
                      placement_.Bottom = placement_.Top + label_->height();
                  }
              }),
      WordWrap([this] { return label_->wordWrap(); }, [this](const bool& v) { label_->setWordWrap(v); })
{
    label_ = static_cast<QLabel*>(widget_);
    label_->setTextFormat(Qt::PlainText);
}

TBevel::TBevel(TWinControl* parent, std::string name) : TControl(parent, new QFrame(ParentWidget(parent)), std::move(name))
{
    auto* f = static_cast<QFrame*>(widget_);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
}

// ---------------------------------------------------------------------------
// TProgressBar

TProgressBar::TProgressBar(TWinControl* parent, std::string name)
    : TControl(parent, new QProgressBar(ParentWidget(parent)), std::move(name)),
      Position([this] { return bar_->value() < bar_->minimum() ? bar_->minimum() : bar_->value(); },
               [this](const int& v) { bar_->setValue(std::clamp(v, bar_->minimum(), bar_->maximum())); }),
      Min([this] { return bar_->minimum(); }, [this](const int& v) { bar_->setMinimum(v); }),
      Max([this] { return bar_->maximum(); }, [this](const int& v) { bar_->setMaximum(v); })
{
    bar_ = static_cast<QProgressBar*>(widget_);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
}

// ---------------------------------------------------------------------------
// TImage

class ImageWidget : public QWidget {
public:
    ImageWidget(QWidget* parent) : QWidget(parent) {}
    TImage* owner = nullptr;
    QImage picture;
    bool shown = true;
    bool pressed = false;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!shown || picture.isNull())
            return;
        QPainter p(this);
        if (owner->Stretch) {
            p.drawImage(rect(), picture);
        } else if (owner->Center) {
            p.drawImage((width() - picture.width()) / 2, (height() - picture.height()) / 2, picture);
        } else {
            p.drawImage(0, 0, picture);
        }
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        pressed = pressed || e->button() == Qt::LeftButton;
        const QPoint pt = e->position().toPoint();
        if (owner->OnMouseDown)
            owner->OnMouseDown(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), pt.x(), pt.y());
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        const QPoint pt = e->position().toPoint();
        if (owner->OnMouseMove)
            owner->OnMouseMove(ShiftOf(e->modifiers(), e->buttons()), pt.x(), pt.y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        const QPoint pt = e->position().toPoint();
        // The click runs before the mouse-up handler, the order of Windows
        // controls, which the forms' image buttons are written for.
        if (e->button() == Qt::LeftButton && pressed) {
            pressed = false;
            if (rect().contains(pt) && owner->OnClick)
                owner->OnClick();
        }
        if (owner->OnMouseUp)
            owner->OnMouseUp(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), pt.x(), pt.y());
    }
};

TImage::TImage(TWinControl* parent, std::string name)
    : TControl(parent, new ImageWidget(ParentWidget(parent)), std::move(name))
{
    image_ = static_cast<ImageWidget*>(widget_);
    image_->owner = this;
}

void TImage::SetPicture(const QImage& picture)
{
    image_->picture = picture;
    image_->update();
}

const QImage& TImage::Picture() const
{
    return image_->picture;
}

void TImage::Click()
{
    if (OnClick)
        OnClick();
}

bool TImage::GetVisible() const
{
    return visible_;
}

void TImage::SetVisible(bool v)
{
    // The widget itself stays shown so that a press it holds keeps its moves
    // and release; "hidden" means it paints nothing and lets new presses through.
    visible_ = v;
    image_->shown = v;
    image_->setAttribute(Qt::WA_TransparentForMouseEvents, !v);
    image_->update();
}

// ---------------------------------------------------------------------------
// TPageControl, TTabSheet

TPageControl::TPageControl(TWinControl* parent, std::string name)
    : TWinControl(parent, new QTabWidget(ParentWidget(parent)), std::move(name)),
      HotTrack([this] { return tabs_->tabBar()->testAttribute(Qt::WA_Hover); },
               [this](const bool& v) { tabs_->tabBar()->setAttribute(Qt::WA_Hover, v); })
{
    tabs_ = static_cast<QTabWidget*>(widget_);
    QObject::connect(tabs_, &QTabWidget::currentChanged, [this] {
        if (OnChange)
            OnChange();
    });
}

void TPageControl::SetImages(const std::vector<QImage>& images)
{
    images_ = images;
    for (TTabSheet* p : pages_)
        UpdateIcon(p);
}

TTabSheet* TPageControl::ActivePage() const
{
    QWidget* w = tabs_->currentWidget();
    for (TTabSheet* p : pages_) {
        if (p->Widget() == w)
            return p;
    }
    return nullptr;
}

void TPageControl::SetActivePage(TTabSheet* page)
{
    if (page)
        tabs_->setCurrentWidget(page->Widget());
}

void TPageControl::AddPage(TTabSheet* page)
{
    pages_.push_back(page);
    tabs_->addTab(page->Widget(), QString());
}

void TPageControl::UpdateIcon(TTabSheet* page)
{
    const int i = page->PageIndex();
    const int image = page->ImageIndex();
    if (i < 0)
        return;
    if (image >= 0 && image < static_cast<int>(images_.size()))
        tabs_->setTabIcon(i, QIcon(QPixmap::fromImage(images_[static_cast<std::size_t>(image)])));
    else
        tabs_->setTabIcon(i, QIcon());
}

TTabSheet::TTabSheet(TPageControl* pageControl, std::string name)
    : TWinControl(pageControl, new HostWidget(nullptr, nullptr), std::move(name)),
      Caption([this] { return caption_; },
              [this](const std::string& v) {
                  caption_ = v;
                  pages_->tabs_->setTabText(PageIndex(), ToQString(v));
              }),
      TabVisible([this] { return pages_->tabs_->isTabVisible(PageIndex()); },
                 [this](const bool& v) { pages_->tabs_->setTabVisible(PageIndex(), v); }),
      ImageIndex([this] { return imageIndex_; },
                 [this](const int& v) {
                     imageIndex_ = v;
                     pages_->UpdateIcon(this);
                 }),
      pages_(pageControl)
{
    static_cast<HostWidget*>(widget_)->SetOwner(this);
    pages_->AddPage(this);
}

int TTabSheet::PageIndex() const
{
    return pages_->tabs_->indexOf(widget_);
}
