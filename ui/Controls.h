// The control layer: forms are written against these classes, which carry the
// property and event names the forms use (Caption, Text, Enabled, OnClick ...);
// a real Qt widget lies under each one.
//
// Ownership: a control belongs to its form (TForm keeps every control it
// creates and deletes them after its window). Widgets belong to Qt's parent
// tree. Controls are made with the form's Make<T>(parent, name, ...) helper.
//
// Events are plain std::function members; an empty one is simply not called.
// OnChange of an edit and OnClick of a check box also fire when the program
// changes the text or the check mark: the forms count on it when they fill
// their fields on start-up (GoBtn follows the address read from the options).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Property.h"
#include "ui/Types.h"

class QWidget;
class QImage;
class QPushButton;
class QLineEdit;
class QLabel;
class QCheckBox;
class QRadioButton;
class QPlainTextEdit;
class QTimer;
class QProgressBar;
class QTabWidget;
class QListView;
class QToolButton;
class QFrame;

class TWinControl;
class TForm;
class TCanvas;

// Font request by face name, points, weight and colour; names are mapped to the desktop's fonts
// ("MS Sans Serif" -> default UI font, "Courier New" -> system monospace,
// "Arial Black" -> a heavy sans-serif).
struct TFontSpec {
    std::string Name = "MS Sans Serif";
    int Size = 8;
    bool Bold = false;
    TColor Color = clDefault;
};

using TNotifyEvent = std::function<void()>;
using TKeyEvent = std::function<void(Word& Key, TShiftState Shift)>;
using TMouseEvent = std::function<void(TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TShiftState Shift, int X, int Y)>;

class TControl {
public:
    TControl(TWinControl* parent, QWidget* widget, std::string name);
    virtual ~TControl();
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string Name;

    // Own flags (as set), not the effective state that depends on parents.
    Property<bool> Enabled;
    Property<bool> Visible;
    Property<std::string> Hint;
    Property<TAlign> Align;
    Property<TColor> Color;
    Property<int> Left;
    Property<int> Top;
    Property<int> Width;
    Property<int> Height;

    virtual void SetBounds(int left, int top, int width, int height);
    void SetFont(const TFontSpec& font);
    void BringToFront();
    // Schedules a repaint of the control.
    void Invalidate();

    TWinControl* Parent() const { return parent_; }
    TForm* ParentForm() const;
    QWidget* Widget() const;

protected:
    // Place and size as Left, Top, Width and Height report them: the widget's,
    // except for controls whose extent is not a widget's (a scrolled paint box).
    virtual TRect GetBounds() const;
    virtual bool GetVisible() const;
    virtual void SetVisible(bool v);
    virtual void SetColor(TColor c);
    void Realign();

    TWinControl* parent_ = nullptr;
    QWidget* widget_ = nullptr;   // owned by Qt's parent tree
    TAlign align_ = TAlign::None;
    TColor color_ = clDefault;
    bool visible_ = true;
    TRect placement_{0, 0, 0, 0};    // bounds as set; aligned controls get theirs from the parent

    friend class TWinControl;
};

// A control that holds others and places its aligned children: top, bottom,
// left and right ones in creation order, each taking a strip of the room the
// ones before it left, then the client-aligned ones the rest.
class TWinControl : public TControl {
public:
    TWinControl(TWinControl* parent, QWidget* widget, std::string name);
    ~TWinControl() override;

    // Lays out the aligned children in the current client area.
    void AlignControls();
    const std::vector<TControl*>& Controls() const { return children_; }

protected:
    std::vector<TControl*> children_;
    friend class TControl;
};

enum class TBevelCut { None, Raised, Lowered };
enum class TAlignment { LeftJustify, Center, RightJustify };

class TPanel : public TWinControl {
public:
    TPanel(TWinControl* parent, std::string name);
    Property<std::string> Caption;
    Property<TBevelCut> BevelOuter;
    Property<TAlignment> Alignment;

private:
    class PanelWidget* panel_;
};

class TLabel : public TControl {
public:
    TLabel(TWinControl* parent, std::string name);
    Property<std::string> Caption;
    Property<bool> WordWrap;

private:
    QLabel* label_;
};

// A horizontal line across its bounds.
class TBevel : public TControl {
public:
    TBevel(TWinControl* parent, std::string name);
};

class TButton : public TControl {
public:
    TButton(TWinControl* parent, std::string name);
    Property<std::string> Caption;
    // Enter on the form presses the default button, Esc the cancel button.
    bool Default = false;
    bool Cancel = false;
    // Given to the form's ModalResult before OnClick runs.
    TModalResult ModalResult = mrNone;
    TNotifyEvent OnClick;

    // A user's click: nothing happens while the button is disabled.
    void Click();

private:
    void Clicked();
    QPushButton* button_;
};

class TEdit : public TControl {
public:
    TEdit(TWinControl* parent, std::string name);
    Property<std::string> Text;
    Property<bool> ReadOnly;
    TNotifyEvent OnChange;
    // Key presses go to OnKeyDown first; the edit still handles a key unless
    // the handler set it to 0. OnEnter/OnExit: the edit gained/lost the focus.
    TKeyEvent OnKeyDown;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    void SetFocus();
    bool Focused() const;

    QLineEdit* LineEdit() const { return edit_; }

private:
    QLineEdit* edit_;
};

class TCheckBox : public TControl {
public:
    TCheckBox(TWinControl* parent, std::string name);
    Property<std::string> Caption;
    Property<bool> Checked;
    TNotifyEvent OnClick;
    void Click();

private:
    QCheckBox* box_;
};

// Radio buttons with the same parent form one group: exactly one is checked.
class TRadioButton : public TControl {
public:
    TRadioButton(TWinControl* parent, std::string name);
    Property<std::string> Caption;
    Property<bool> Checked;
    TNotifyEvent OnClick;
    void Click();

private:
    QRadioButton* radio_;
};

// An ordered string list; duplicates are allowed, membership is a linear scan.
class TStrings {
public:
    virtual ~TStrings() = default;
    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Add(const std::string& s) = 0;
    virtual void Insert(int index, const std::string& s) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    // Between BeginUpdate and EndUpdate views are told about changes once, at the end.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}

    std::string operator[](int index) const { return Get(index); }
    std::string Strings(int index) const { return Get(index); }
    // First index whose string equals s exactly, or -1.
    int IndexOf(const std::string& s) const;
    std::vector<std::string> ToVector() const;
    void Assign(const std::vector<std::string>& items);
};

class TStringListModel;

// A list box over a model: the strings live once, in TStringListModel; the
// view draws only the visible rows, so a list of 100,000 rows stays smooth.
// Marked rows of a multi-select list are the view's selection.
class TListBox : public TControl {
public:
    TListBox(TWinControl* parent, std::string name);
    ~TListBox() override;

    TStrings& Items();
    TStringListModel& Model() { return *model_; }
    // Extended selection (click, Shift and Ctrl) when true; one row otherwise.
    Property<bool> MultiSelect;
    // Current row (single-select: the selected row), -1 for none.
    Property<int> ItemIndex;

    bool Selected(int index) const;
    void SetSelected(int index, bool selected);
    int SelCount() const;
    void SelectAll();
    void ClearSelection();
    // One flag per row, true for a marked row; O(rows + selection ranges).
    std::vector<bool> SelectionFlags() const;
    // Replaces the whole selection in one step.
    void SetSelection(const std::vector<bool>& flags);

    TKeyEvent OnKeyDown;
    TNotifyEvent OnClick;

    QListView* View() const { return view_; }

private:
    QListView* view_;
    TStringListModel* model_;   // owned by the view
    bool selectedRowRemoved_ = false;
    std::unique_ptr<TStrings> items_;
};

// A read-only log view: the lines live here, and the widget is brought up to
// date in batches (at most every 40 ms while shown, and when it is shown), so
// a job that logs thousands of lines a second pays no text layout per line.
// Text a user might type into an editable memo is not read back.
class TMemo : public TControl {
public:
    TMemo(TWinControl* parent, std::string name);
    ~TMemo() override;

    TStrings& Lines();
    Property<bool> ReadOnly;
    void Clear();
    // Keeps only the newest n lines (0: all of them).
    void SetMaxLines(std::size_t n);
    // Called for every line added through Lines().Add.
    std::function<void(const std::string&)> OnLineAdded;

    QPlainTextEdit* TextEdit() const { return edit_; }
    // Shows every line now instead of at the next batch.
    void Sync();

private:
    friend class MemoLines;
    void Changed(bool appended);

    QPlainTextEdit* edit_;
    QTimer* syncTimer_;
    std::unique_ptr<TStrings> lines_;
    std::deque<std::string> text_;
    std::size_t maxLines_ = 0;
    std::size_t mirrored_ = 0;  // leading lines of text_ the widget shows
    bool mirrorValid_ = true;    // false: the widget must be rebuilt
};

class TProgressBar : public TControl {
public:
    TProgressBar(TWinControl* parent, std::string name);
    Property<int> Position;
    Property<int> Min;
    Property<int> Max;

private:
    QProgressBar* bar_;
};

// A picture that takes mouse input. Hiding it while it holds the mouse
// (between a press and the release) keeps the mouse with it, as the image
// button pairs rely on: the hidden picture paints nothing and lets presses
// through, but still hears the moves and the release of its press.
class TImage : public TControl {
public:
    TImage(TWinControl* parent, std::string name);
    void SetPicture(const QImage& picture);
    const QImage& Picture() const;
    bool Stretch = false;
    bool Center = false;

    TNotifyEvent OnClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

    // Runs OnClick as a completed press-release inside the picture would.
    void Click();

protected:
    bool GetVisible() const override;
    void SetVisible(bool v) override;

private:
    class ImageWidget* image_;
    friend class ImageWidget;
};

class TTabSheet;

class TPageControl : public TWinControl {
public:
    TPageControl(TWinControl* parent, std::string name);
    Property<bool> HotTrack;
    // Icons for the tabs, by TTabSheet::ImageIndex.
    void SetImages(const std::vector<QImage>& images);
    TTabSheet* ActivePage() const;
    void SetActivePage(TTabSheet* page);
    int PageCount() const { return static_cast<int>(pages_.size()); }
    TTabSheet* Pages(int i) const { return pages_.at(static_cast<std::size_t>(i)); }
    TNotifyEvent OnChange;

    QTabWidget* Tabs() const { return tabs_; }

private:
    friend class TTabSheet;
    void AddPage(TTabSheet* page);
    void UpdateIcon(TTabSheet* page);
    QTabWidget* tabs_;
    std::vector<TTabSheet*> pages_;
    std::vector<QImage> images_;
};

class TTabSheet : public TWinControl {
public:
    TTabSheet(TPageControl* pageControl, std::string name);
    Property<std::string> Caption;
    // Whether the page's tab is shown; a hidden tab cannot be chosen.
    Property<bool> TabVisible;
    Property<int> ImageIndex;
    int PageIndex() const;

private:
    TPageControl* pages_;
    std::string caption_;
    int imageIndex_ = -1;
};

enum class TStatusPanelStyle { Text, OwnerDraw };

struct TStatusPanel {
    int Width = 50;
    TStatusPanelStyle Style = TStatusPanelStyle::Text;
    std::string Text;
};

// A status bar whose panels are drawn into a canvas that lives beside the
// widget, so a form may draw on Canvas() at any time (not only while the bar
// repaints); Invalidate() erases and redraws
// every panel.
class TStatusBar : public TControl {
public:
    TStatusBar(TWinControl* parent, std::string name);
    ~TStatusBar() override;

    std::vector<TStatusPanel> Panels;
    std::function<void(TStatusBar& StatusBar, int Panel, const TRect& Rect)> OnDrawPanel;

    TCanvas& Canvas();
    // Erases the bar and draws every panel again now.
    void Repaint();
    // The rectangle panel i occupies.
    TRect PanelRect(int index) const;
    // The width a text panel needs to show `text` whole in the bar's font.
    int TextWidth(const std::string& text) const;

private:
    friend class StatusBarWidget;
    class StatusBarWidget* bar_;
    std::unique_ptr<TCanvas> canvas_;
};

// An edit for a folder with a button that opens the folder picker (through
// the responder) in InitialDir, or in the current text when it names a folder.
class TDirectoryEdit : public TControl {
public:
    TDirectoryEdit(TWinControl* parent, std::string name);
    Property<std::string> Text;
    std::string InitialDir;
    std::string DialogTitle = "Verzeichnis auswählen";
    TNotifyEvent OnChange;
    // What the browse button does.
    void Browse();

    QLineEdit* LineEdit() const { return edit_; }

private:
    QLineEdit* edit_;
    QToolButton* button_;
};
