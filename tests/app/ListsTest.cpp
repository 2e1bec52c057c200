// The found-image list and the file-type list on the real widgets.
#include <QKeyEvent>
#include <QListView>

#include "app/MainFiles.h"
#include "tests/app/MainFormFixture.h"

using namespace wltest;

namespace {

std::vector<std::string> Rows(TMainForm& f)
{
    return f.FoundImageList().ToVector();
}

void Key(TListBox* list, int key, Qt::KeyboardModifiers mods)
{
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(list->View(), &press);
}

std::vector<std::string> Five()
{
    return {"http://h.d/1.gif", "http://h.d/2.gif", "http://h.d/3.gif", "http://h.d/4.gif", "http://h.d/5.gif"};
}

} // namespace

class ListsTest : public MainFormTest {
protected:
    void Fill(const std::vector<std::string>& rows)
    {
        for (const auto& r : rows)
            form->AddFoundImage(r);
        form->ListBoxChanged();
    }
    bool SixEnabled(bool expected)
    {
        bool all = true;
        for (TButton* b : {form->DownAllBtn, form->DownBtn, form->ClearBtn, form->DelBtn, form->MarkBtn, form->NotBtn})
            all = all && b->Enabled() == expected;
        return all;
    }
};

TEST_F(ListsTest, ButtonsFollowTheRowCountOnly)
{
    EXPECT_TRUE(SixEnabled(false));
    Fill({"http://h.d/a.gif"});
    EXPECT_TRUE(SixEnabled(true));
    form->NotBtn->Click();
    EXPECT_TRUE(form->DelBtn->Enabled()) << "nothing marked still leaves Delete enabled";
    form->DelBtn->Click();
    EXPECT_EQ(Rows(*form).size(), 1u);
    form->ClearBtn->Click();
    EXPECT_EQ(form->FoundImageList().Count(), 0);
    EXPECT_TRUE(SixEnabled(false));
    EXPECT_TRUE(form->OpenLBtn->Enabled());
    EXPECT_TRUE(form->SaveLBtn->Enabled());
}

TEST_F(ListsTest, DeletingMarkedRowsKeepsTheRestInOrder)
{
    Fill(Five());
    for (int i : {0, 1, 3})
        form->ListBox1->SetSelected(i, true);
    form->DelBtn->Click();
    EXPECT_EQ(Rows(*form), (std::vector<std::string>{"http://h.d/3.gif", "http://h.d/5.gif"}));
    EXPECT_TRUE(SixEnabled(true));
    EXPECT_EQ(form->ListBox1->SelCount(), 0);

    form->MarkBtn->Click();
    EXPECT_EQ(form->ListBox1->SelCount(), 2);
    form->DelBtn->Click();
    EXPECT_EQ(form->FoundImageList().Count(), 0);
    EXPECT_TRUE(SixEnabled(false));
}

TEST_F(ListsTest, DuplicateTestFoldsAsciiOnlyAndStaysInStepWithDeletions)
{
    EXPECT_TRUE(form->AddFoundImage("http://h.d/Pic.GIF"));
    EXPECT_FALSE(form->AddFoundImage("HTTP://H.D/pic.gif"));
    EXPECT_TRUE(form->AddFoundImage("http://h.d/\xC3\xA4.gif")) << "umlauts are not folded";
    EXPECT_TRUE(form->AddFoundImage("http://h.d/\xC3\x84.gif"));
    EXPECT_EQ(form->FoundImageList().Count(), 3);

    form->ListBoxChanged();
    form->ListBox1->SetSelected(0, true);
    ASSERT_EQ(form->ListBox1->SelCount(), 1);
    form->DelBtn->Click();
    EXPECT_FALSE(form->FoundImageListHas("http://h.d/pic.gif"));
    EXPECT_TRUE(form->AddFoundImage("http://h.d/pic.gif")) << "a deleted address may be found again";

    form->FoundImageList().Delete(0);
    EXPECT_FALSE(form->FoundImageListHas("http://h.d/\xC3\xA4.gif"));
    form->ClearBtn->Click();
    EXPECT_FALSE(form->FoundImageListHas("http://h.d/pic.gif"));
}

TEST_F(ListsTest, CtrlAMarksAndCtrlDUnmarksWhateverElseIsHeld)
{
    Fill(Five());
    form->Show();
    Key(form->ListBox1, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(form->ListBox1->SelCount(), 5);
    Key(form->ListBox1, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(form->ListBox1->SelCount(), 0);

    form->ListBox1->SetSelected(2, true);
    Key(form->ListBox1, Qt::Key_A, Qt::NoModifier);
    Key(form->ListBox1, Qt::Key_D, Qt::NoModifier);
    EXPECT_TRUE(form->ListBox1->Selected(2)) << "plain A and D mean nothing here";
    Key(form->ListBox1, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(form->ListBox1->SelCount(), 0);
    // Del deletes the marked rows, as "Markierte löschen" does.
    form->ListBox1->SetSelected(2, true);
    form->ListBox1->SetSelected(4, true);
    Key(form->ListBox1, Qt::Key_Delete, Qt::NoModifier);
    EXPECT_EQ(Rows(*form), (std::vector<std::string>{"http://h.d/1.gif", "http://h.d/2.gif", "http://h.d/4.gif"}));
}

TEST_F(ListsTest, SelectionOfTenThousandRowsRoundTrips)
{
    std::vector<std::string> rows;
    std::vector<bool> marks;
    for (int i = 0; i < 10000; ++i) {
        rows.push_back("http://h.d/p" + std::to_string(i) + ".jpg");
        marks.push_back(i % 3 == 1);
    }
    Fill(rows);
    form->ListBox1->SetSelection(marks);
    EXPECT_EQ(form->ListBox1->SelectionFlags(), marks);
    form->DelBtn->Click();
    ASSERT_EQ(form->FoundImageList().Count(), 10000 - 3333);
    EXPECT_EQ(form->FoundImageList()[0], "http://h.d/p0.jpg");
    EXPECT_EQ(form->FoundImageList()[1], "http://h.d/p2.jpg");
    EXPECT_EQ(form->FoundImageList()[2], "http://h.d/p3.jpg");
    EXPECT_FALSE(form->FoundImageListHas("http://h.d/p1.jpg"));
    EXPECT_TRUE(form->FoundImageListHas("http://h.d/P9999.JPG"));
}

class FileTypesTest : public MainFormTest {
protected:
    void AddType(const std::string& text)
    {
        responder.AnswerForm([text](TForm& f) {
            auto& dlg = dynamic_cast<TAddTypeForm&>(f);
            dlg.Edit1->Text = text;
            dlg.OkBtn->Click();
            return mrNone;
        });
        form->NewFTBtn->Click();
    }
};

TEST_F(FileTypesTest, EntriesAreStoredAsTypedAndSaved)
{
    AddType("gif");
    AddType(".png");
    AddType("JPG");
    AddType("   ");
    EXPECT_EQ(form->FileTypeList().ToVector(),
              (std::vector<std::string>{"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF", "gif", ".png", "JPG", "   "}));
    const std::string bytes = OptionsBytes();
    EXPECT_NE(bytes.find(std::string("\x03gif\x04.png\x03JPG\x03   ", 16)), std::string::npos);
    EXPECT_EQ(responder.Unanswered(), 0);
}

TEST_F(FileTypesTest, OkIsDisabledWheneverTheFieldIsEmpty)
{
    responder.AnswerForm([](TForm& f) {
        auto& dlg = dynamic_cast<TAddTypeForm&>(f);
        EXPECT_EQ(dlg.Caption(), "Dateityp hinzufügen...");
        EXPECT_FALSE(dlg.OkBtn->Enabled()) << "right after opening";
        dlg.Edit1->Text = "x";
        EXPECT_TRUE(dlg.OkBtn->Enabled());
        dlg.Edit1->Text = "";
        EXPECT_FALSE(dlg.OkBtn->Enabled());
        dlg.OkBtn->Click();   // a disabled button does nothing
        return mrNone;
    });
    form->NewFTBtn->Click();
    EXPECT_EQ(form->FileTypeList().Count(), 7);
    EXPECT_FALSE(fs::exists(OptionsFile()));

    // The field starts empty even after a previous addition left text in it.
    addType->Edit1->Text = "left over";
    responder.AnswerForm([](TForm& f) {
        EXPECT_EQ(dynamic_cast<TAddTypeForm&>(f).Edit1->Text(), "");
        EXPECT_FALSE(dynamic_cast<TAddTypeForm&>(f).OkBtn->Enabled());
        return mrCancel;
    });
    form->NewFTBtn->Click();
}

TEST_F(FileTypesTest, EnterConfirmsOnlyAFilledFieldAndEscCancels)
{
    addType->Show();
    auto press = [&](int key) {
        QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(addType->Edit1->Widget(), &e);
    };
    addType->Edit1->Text = "";
    addType->ModalResult = mrNone;
    press(Qt::Key_Return);
    EXPECT_EQ(addType->ModalResult(), mrNone);
    addType->Edit1->Text = "tif";
    press(Qt::Key_Return);
    EXPECT_EQ(addType->ModalResult(), mrOk);
    addType->ModalResult = mrNone;
    press(Qt::Key_Escape);
    EXPECT_EQ(addType->ModalResult(), mrCancel);
    addType->Hide();
}

TEST_F(FileTypesTest, CancelChangesNothingAndDeleteWithoutSelectionStillSaves)
{
    responder.AnswerForm([](TForm& f) {
        dynamic_cast<TAddTypeForm&>(f).Edit1->Text = "bmp";
        return mrCancel;
    });
    form->NewFTBtn->Click();
    EXPECT_EQ(form->FileTypeList().Count(), 7);
    EXPECT_FALSE(fs::exists(OptionsFile())) << "a cancelled addition writes nothing";

    ASSERT_EQ(form->ListBox2->ItemIndex(), -1);
    form->DelFTBtn->Click();
    EXPECT_EQ(form->FileTypeList().Count(), 7);
    EXPECT_TRUE(fs::exists(OptionsFile())) << "the options file is rewritten anyway";

    form->ListBox2->ItemIndex = 1;
    form->DelFTBtn->Click();
    EXPECT_EQ(form->FileTypeList().ToVector(), (std::vector<std::string>{"GIF", "JPEG", "JIF", "PNG", "WEBP", "AVIF"}));
    form->DelFTBtn->Click();
    EXPECT_EQ(form->FileTypeList().Count(), 6) << "a second press finds nothing selected";
}

TEST_F(FileTypesTest, TypesListSurvivesARestartEvenWhenEmpty)
{
    while (form->FileTypeList().Count() > 0) {
        form->ListBox2->ItemIndex = 0;
        form->DelFTBtn->Click();
    }
    Restart();
    EXPECT_EQ(form->FileTypeList().Count(), 0) << "N = 0 must not bring the defaults back";
}
