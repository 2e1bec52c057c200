// The control layer on real widgets: layout by alignment, events fired by
// program changes, buttons and modal results, list selection and its key
// index, the memo's lines, the status bar canvas and a real modal loop.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include "ui/Canvas.h"
#include "ui/Form.h"
#include "ui/FormPlacement.h"
#include "ui/ScriptedResponder.h"
#include "ui/StringListModel.h"

namespace {

class Probe : public TForm {
public:
    Probe() : TForm("Probe")
    {
        ClientWidth = 300;
        ClientHeight = 200;
    }
};

} // namespace

TEST(Controls, AlignedChildrenTakeTopBottomLeftRightStripsThenTheClientRest)
{
    Probe f;
    auto* bottom1 = f.Make<TPanel>(&f, "B1");
    bottom1->Align = TAlign::Bottom;
    bottom1->Height = 20;
    auto* bottom2 = f.Make<TPanel>(&f, "B2");
    bottom2->Align = TAlign::Bottom;
    bottom2->Height = 30;
    auto* top = f.Make<TPanel>(&f, "T");
    top->Align = TAlign::Top;
    top->Height = 25;
    auto* left = f.Make<TPanel>(&f, "L");
    left->Align = TAlign::Left;
    left->Width = 50;
    auto* client = f.Make<TPanel>(&f, "C");
    client->Align = TAlign::Client;

    EXPECT_EQ(bottom1->Top(), 180) << "the first bottom panel sits lowest";
    EXPECT_EQ(bottom2->Top(), 150);
    EXPECT_EQ(top->Width(), 300);
    EXPECT_EQ(left->Top(), 25);
    EXPECT_EQ(left->Height(), 125);
    EXPECT_EQ(client->Left(), 50);
    EXPECT_EQ(client->Width(), 250);
    EXPECT_EQ(client->Height(), 125);

    bottom2->Visible = false;   // a hidden aligned control gives its room away
    EXPECT_EQ(client->Height(), 155);
    f.ClientHeight = 300;
    EXPECT_EQ(bottom1->Top(), 280);
    EXPECT_EQ(client->Height(), 255);
}

TEST(Controls, ProgramChangesFireChangeEventsOnlyWhenSomethingChanged)
{
    Probe f;
    auto* edit = f.Make<TEdit>(&f, "E");
    auto* box = f.Make<TCheckBox>(&f, "X");
    auto* r1 = f.Make<TRadioButton>(&f, "R1");
    auto* r2 = f.Make<TRadioButton>(&f, "R2");
    int edits = 0, clicks = 0, radios = 0;
    edit->OnChange = [&] { ++edits; };
    box->OnClick = [&] { ++clicks; };
    r2->OnClick = [&] { ++radios; };
    edit->Text = "a";
    edit->Text = "a";
    edit->Text = "";
    EXPECT_EQ(edits, 2);
    box->Checked = true;
    box->Checked = true;
    EXPECT_EQ(clicks, 1);
    r1->Checked = true;
    r2->Checked = true;
    EXPECT_FALSE(r1->Checked()) << "radio buttons of one parent exclude each other";
    r1->Checked = true;
    EXPECT_EQ(radios, 1) << "unchecking is no click";
}

TEST(Controls, ButtonsSetTheModalResultBeforeTheirHandlerAndIgnoreClicksWhenDisabled)
{
    Probe f;
    auto* ok = f.Make<TButton>(&f, "Ok");
    ok->ModalResult = mrOk;
    int seen = -1, clicks = 0;
    ok->OnClick = [&] {
        seen = f.ModalResult();
        ++clicks;
    };
    ok->Click();
    EXPECT_EQ(seen, mrOk);
    ok->Enabled = false;
    ok->Click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(ok->Enabled());
}

TEST(Controls, ExecModalRunsUntilAButtonEndsIt)
{
    Probe f;
    auto* ok = f.Make<TButton>(&f, "Ok");
    ok->ModalResult = mrYes;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(f.InModalLoop());
        EXPECT_TRUE(f.Showing());
        ok->Click();
    });
    EXPECT_EQ(f.ExecModal(), mrYes);
    EXPECT_FALSE(f.Showing());
    EXPECT_FALSE(f.InModalLoop());

    // Closing the window ends it with Cancel; a refused close keeps it running.
    int asked = 0;
    f.OnCloseQuery = [&](bool& can) { can = ++asked > 1; };
    QTimer::singleShot(0, [&] {
        f.Close();
        EXPECT_TRUE(f.InModalLoop());
        f.Close();
    });
    EXPECT_EQ(f.ExecModal(), mrCancel);
    EXPECT_EQ(asked, 2);

    // A kept window comes back at the size it was closed with, not centred,
    // and its own OnHide still runs.
    const QString settingsDir =
        QDir::tempPath() + "/wl-placement-" + QString::number(QCoreApplication::applicationPid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir);
    int hidden = 0;
    {
        Probe kept;
        kept.OnHide = [&] { ++hidden; };
        KeepFormPlacement(kept, "Probe");
        EXPECT_TRUE(kept.CenterOnScreen) << "nothing stored yet";
        kept.Show();
        kept.Widget()->resize(420, 310);
        kept.Hide();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(hidden, 1);
    Probe again;
    KeepFormPlacement(again, "Probe");
    EXPECT_FALSE(again.CenterOnScreen);
    EXPECT_EQ(again.Widget()->size(), QSize(420, 310));
    QDir(settingsDir).removeRecursively();
}

TEST(Controls, HiddenPictureKeepsThePressItHolds)
{
    Probe f;
    auto* under = f.Make<TImage>(&f, "Under");
    under->SetBounds(10, 10, 30, 30);
    auto* over = f.Make<TImage>(&f, "Over");
    over->SetBounds(10, 10, 30, 30);
    std::vector<std::string> log;
    over->OnMouseDown = [&](TMouseButton, TShiftState, int, int) {
        log.push_back("down");
        over->Visible = false;
    };
    over->OnMouseMove = [&](TShiftState, int x, int) { log.push_back("move " + std::to_string(x)); };
    over->OnMouseUp = [&](TMouseButton, TShiftState, int, int) { log.push_back("up"); };
    over->OnClick = [&] { log.push_back("click"); };
    under->OnMouseDown = [&](TMouseButton, TShiftState, int, int) { log.push_back("under down"); };
    f.Show();
    QWindow* w = f.Widget()->windowHandle();
    ASSERT_NE(w, nullptr);
    auto send = [&](QEvent::Type t, QPoint p, Qt::MouseButton b, Qt::MouseButtons held) {
        QMouseEvent e(t, QPointF(p), QPointF(p), QPointF(f.Widget()->mapToGlobal(p)), b, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, {70, 20}, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {20, 20}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(log, (std::vector<std::string>{"down", "move 60", "click", "up"}));
    EXPECT_FALSE(over->Visible());
    // A new press goes through the hidden picture to the one below.
    send(QEvent::MouseButtonPress, {20, 20}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {20, 20}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(log.back(), "under down");
}

TEST(Controls, ListSelectionKeysAndItemIndex)
{
    Probe f;
    auto* list = f.Make<TListBox>(&f, "List");
    list->Items().Assign({"a", "b", "c", "d"});
    list->MultiSelect = true;
    list->SetSelection({false, true, true, false, true /* beyond the rows: ignored */});
    EXPECT_EQ(list->SelectionFlags(), (std::vector<bool>{false, true, true, false}));
    EXPECT_EQ(list->SelCount(), 2);
    list->SelectAll();
    EXPECT_EQ(list->SelCount(), 4);
    list->ClearSelection();
    EXPECT_EQ(list->SelCount(), 0);

    std::vector<std::pair<Word, TShiftState>> keys;
    list->OnKeyDown = [&](Word& k, TShiftState s) {
        keys.emplace_back(k, s);
        if (k == VK_DOWN)
            k = 0;   // consumed: the view does not move
    };
    QKeyEvent ctrlShiftA(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QApplication::sendEvent(list->View(), &ctrlShiftA);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].first, Word('A'));
    EXPECT_EQ(keys[0].second, TShiftState(ssCtrl | ssShift));

    // A key the handler leaves alone still reaches the view; one it consumes does not.
    list->View()->setCurrentIndex(list->View()->model()->index(0, 0));
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QApplication::sendEvent(list->View(), &end);
    EXPECT_EQ(list->View()->currentIndex().row(), 3);
    list->View()->setCurrentIndex(list->View()->model()->index(0, 0));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(list->View(), &down);
    EXPECT_EQ(list->View()->currentIndex().row(), 0);
    EXPECT_EQ(keys.back().first, Word(VK_DOWN));

    auto* single = f.Make<TListBox>(&f, "Single");
    single->Items().Assign({"x", "y"});
    EXPECT_EQ(single->ItemIndex(), -1);
    single->ItemIndex = 1;
    EXPECT_EQ(single->ItemIndex(), 1);
    EXPECT_TRUE(single->Selected(1));
    single->Items().Add("z");
    single->Items().Delete(1);
    EXPECT_EQ(single->ItemIndex(), -1) << "deleting the selected row leaves nothing selected";
    single->ItemIndex = 1;
    single->Items().Delete(0);
    EXPECT_EQ(single->ItemIndex(), 0) << "deleting another row keeps the selection on its row";
    EXPECT_EQ(single->Items()[0], "z");

    // An empty list has no row to mark when Tab reaches it: its inside gets
    // an outline instead, and loses it with the focus.
    auto* empty = f.Make<TListBox>(&f, "Empty");
    empty->SetBounds(0, 0, 120, 80);
    f.Show();
    f.Widget()->activateWindow();
    empty->View()->setFocus(Qt::TabFocusReason);
    QElapsedTimer t;
    t.start();
    while (!empty->View()->hasFocus() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(empty->View()->hasFocus());
    const QColor mark = empty->View()->palette().color(QPalette::Highlight);
    EXPECT_EQ(empty->View()->viewport()->grab().toImage().pixelColor(0, 30), mark);
    single->View()->setFocus(Qt::TabFocusReason);
    ASSERT_FALSE(empty->View()->hasFocus());
    EXPECT_NE(empty->View()->viewport()->grab().toImage().pixelColor(0, 30), mark);
}

TEST(Controls, ModelKeyIndexStaysInStepWithEveryChange)
{
    TStringListModel m;
    m.SetKeyIndex([](std::string_view s) { return std::string(s.size() ? s.substr(0, 1) : s); });
    m.Append("apple");
    m.Append("avocado");
    EXPECT_TRUE(m.HasKey("a"));
    m.Remove(0);
    EXPECT_TRUE(m.HasKey("a")) << "one row with the key is left";
    m.Remove(0);
    EXPECT_FALSE(m.HasKey("a"));

    m.BeginUpdate();
    m.Append("banana");
    EXPECT_TRUE(m.HasKey("b")) << "held rows count at once";
    EXPECT_EQ(m.Count(), 1);
    EXPECT_EQ(m.rowCount(), 0) << "the view hears of them only at the end";
    m.BeginUpdate();
    m.Append("cherry");
    m.EndUpdate();
    EXPECT_EQ(m.rowCount(), 0);
    m.EndUpdate();
    EXPECT_EQ(m.rowCount(), 2);
    EXPECT_EQ(m.At(1), "cherry");

    EXPECT_EQ(m.RemoveFlagged({true}), 1);
    EXPECT_FALSE(m.HasKey("b"));
    EXPECT_TRUE(m.HasKey("c"));
    EXPECT_EQ(m.RemoveFlagged({false, true, true}), 0) << "flags past the rows mean nothing";

    // Adding only new keys: refused rows leave rows and counts untouched, so
    // removing the one accepted row frees the key again.
    EXPECT_FALSE(m.AppendNewKey("coconut"));
    EXPECT_TRUE(m.AppendNewKey("date"));
    EXPECT_FALSE(m.AppendNewKey("dill"));
    ASSERT_EQ(m.Count(), 2);
    EXPECT_EQ(m.At(1), "date");
    m.Remove(1);
    EXPECT_FALSE(m.HasKey("d"));
    m.BeginUpdate();
    EXPECT_TRUE(m.AppendNewKey("dill"));
    EXPECT_FALSE(m.AppendNewKey("durian")) << "held rows count at once";
    m.EndUpdate();
    EXPECT_EQ(m.Count(), 2);

    m.Clear();
    EXPECT_FALSE(m.HasKey("c"));
    EXPECT_THROW(m.At(0), std::out_of_range);
    EXPECT_THROW(m.Remove(0), std::out_of_range);
}

TEST(Controls, MemoCountsAnEmptyFirstLine)
{
    Probe f;
    auto* memo = f.Make<TMemo>(&f, "Memo");
    EXPECT_EQ(memo->Lines().Count(), 0);
    memo->Lines().Add("");
    EXPECT_EQ(memo->Lines().Count(), 1);
    memo->Lines().Add("zwei");
    memo->Lines().Insert(1, "eins");
    EXPECT_EQ(memo->Lines().ToVector(), (std::vector<std::string>{"", "eins", "zwei"}));
    memo->Lines().Delete(0);
    EXPECT_EQ(memo->Lines().ToVector(), (std::vector<std::string>{"eins", "zwei"}));
    EXPECT_THROW(memo->Lines().Get(5), std::out_of_range);
}

// The widget follows the lines in batches: appends, edits in the middle, a
// cap on the line count, and a memo that was hidden while lines arrived.
TEST(Controls, MemoWidgetShowsTheLinesOnceSynced)
{
    Probe f;
    auto* memo = f.Make<TMemo>(&f, "Memo");
    auto shown = [&] { return memo->TextEdit()->toPlainText().toStdString(); };
    memo->Lines().Add("eins");
    memo->Lines().Add("");
    EXPECT_EQ(shown(), "") << "hidden: no layout per line";
    f.Show();
    EXPECT_EQ(shown(), "eins\n") << "shown: caught up at once";
    memo->Lines().Add("drei");
    memo->Lines().Add("vier");
    memo->Sync();
    EXPECT_EQ(shown(), "eins\n\ndrei\nvier");
    EXPECT_EQ(memo->TextEdit()->document()->blockCount(), 4);
    memo->Lines().Delete(1);
    memo->Lines().Insert(0, "null");
    memo->Sync();
    EXPECT_EQ(shown(), "null\neins\ndrei\nvier");
    memo->SetMaxLines(2);
    EXPECT_EQ(memo->Lines().ToVector(), (std::vector<std::string>{"drei", "vier"}));
    memo->Lines().Add("fünf");
    EXPECT_EQ(memo->Lines().ToVector(), (std::vector<std::string>{"vier", "fünf"}));
    memo->Sync();
    EXPECT_EQ(shown(), "vier\nfünf");
    // The batch timer brings a shown memo up to date without being asked.
    memo->Lines().Add("sechs");
    QElapsedTimer t;
    t.start();
    while (shown() != "fünf\nsechs" && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(shown(), "fünf\nsechs");
    memo->Clear();
    EXPECT_EQ(shown(), "");
    EXPECT_EQ(memo->Lines().Count(), 0);

    // A read-only memo that Tab stops at answers the keys with its caret,
    // which is what shows the focus there.
    memo->ReadOnly = true;
    memo->Lines().Add("sieben");
    memo->Sync();
    memo->TextEdit()->moveCursor(QTextCursor::Start);
    QKeyEvent select(QEvent::KeyPress, Qt::Key_End, Qt::ShiftModifier);
    QCoreApplication::sendEvent(memo->TextEdit(), &select);
    EXPECT_EQ(memo->TextEdit()->textCursor().selectedText().toStdString(), "sieben");
}

TEST(Controls, CanvasRectangleCoversRightAndBottomExclusive)
{
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(Qt::white);
    std::vector<TRect> changed;
    TCanvas c(&img, [&](const TRect& r) { changed.push_back(r); });
    c.Pen.Color = clNavy;
    c.Brush.Color = clMaroon;
    c.Rectangle(2, 1, 9, 6);
    EXPECT_EQ(c.Pixel(2, 1), clNavy);
    EXPECT_EQ(c.Pixel(8, 5), clNavy);
    EXPECT_EQ(c.Pixel(9, 5), clWhite);
    EXPECT_EQ(c.Pixel(8, 6), clWhite);
    EXPECT_EQ(c.Pixel(5, 3), clMaroon);
    c.Rectangle(5, 5, 5, 9);   // empty: draws nothing
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0], (TRect{2, 1, 9, 6}));
    EXPECT_EQ(c.Pixel(-1, 0), clDefault);
}
