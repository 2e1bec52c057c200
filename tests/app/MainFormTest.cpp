// The main window: layout, start-up state, status bar drawing, image buttons,
// the close question, the change handlers and the job states.
#include <QImage>
#include <QScreen>
#include <QTabWidget>

#include "app/AddTypeBtn.h"
#include "tests/app/MainFormFixture.h"
#include "ui/Canvas.h"

using namespace wltest;

namespace {

int NavyRunFrom(TStatusBar& bar, const TRect& r)
{
    const int y = (r.Top + r.Bottom) / 2;
    int n = 0;
    while (r.Left + n < r.Right && bar.Canvas().Pixel(r.Left + n, y) == clNavy)
        ++n;
    return n;
}

// Captions of every button in `c` and the controls it holds.
void ButtonCaptions(const TControl* c, std::vector<std::string>& out)
{
    if (const auto* b = dynamic_cast<const TButton*>(c))
        out.push_back(b->Caption());
    if (const auto* w = dynamic_cast<const TWinControl*>(c))
        for (const TControl* child : w->Controls())
            ButtonCaptions(child, out);
}

} // namespace

TEST_F(MainFormTest, ButtonsSpeakGerman)
{
    EXPECT_EQ(form->BreakBtn->Caption(), "Abbrechen");
    EXPECT_EQ(form->BreakBtn2->Caption(), "Abbrechen");
    TAddTypeForm addType;
    EXPECT_EQ(addType.CancelBtn->Caption(), "Abbrechen");
    std::vector<std::string> captions;
    ButtonCaptions(form.get(), captions);
    ButtonCaptions(&addType, captions);
    ASSERT_GT(captions.size(), 10u);
    for (const std::string& c : captions)
        for (const char* english : {"Cancel", "Close", "Print", "Open", "Save", "Delete"})
            EXPECT_EQ(c.find(english), std::string::npos) << c;
}

TEST_F(MainFormTest, TabsCarryTheirCaptionsAndTheWindowItsTitle)
{
    // The version is the project's, set once in CMake.
    EXPECT_EQ(form->Caption(), "Quenbrik Web Lumifang " WL_PROJECT_VERSION);
    ASSERT_EQ(form->PageControl2->PageCount(), 4);
    EXPECT_EQ(form->TabSheet1->Caption(), "Bilder suchen");
    EXPECT_EQ(form->TabSheet2->Caption(), "Liste der gefunden Bilder");
    EXPECT_EQ(form->TabSheet3->Caption(), "Bilder herunterladen");
    EXPECT_EQ(form->TabSheet4->Caption(), "Bilder sichten");
    auto* heading = dynamic_cast<TPanel*>(form->TabSheet1->Controls().at(0));
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->Caption(), "Bilder suchen - Webadresse eingeben/einfügen und auf \"Saugen\" klicken");
    EXPECT_EQ(heading->Color(), RGB(240, 202, 166));
    auto* side = dynamic_cast<TPanel*>(form->TabSheet1->Controls().at(1));
    ASSERT_NE(side, nullptr);
    EXPECT_EQ(side->Color(), RGB(192, 220, 192));
    EXPECT_EQ(side->Width(), 209);
    EXPECT_EQ(form->Panel12->Height(), 109);
    EXPECT_EQ(form->Panel7->Height(), 41);
    EXPECT_EQ(form->Memo1->Height(), 76);
    // Every tab has an icon.
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(form->PageControl2->Tabs()->tabIcon(i).isNull()) << i;
}

TEST_F(MainFormTest, StartsIdleWithDefaultsAndNoOptionsFileWritten)
{
    EXPECT_EQ(form->ProgramDir.back(), '/');
    EXPECT_EQ(form->DirectoryEdit1->InitialDir, form->ProgramDir);
    EXPECT_FALSE(form->URLEdit->Text().empty());
    EXPECT_TRUE(form->GoBtn->Enabled());
    EXPECT_TRUE(form->BrowseBtn->Enabled());
    for (TButton* b : {form->DownAllBtn, form->DownBtn, form->ClearBtn, form->DelBtn, form->MarkBtn, form->NotBtn,
                       form->BreakBtn, form->LocalBreak2Btn, form->BreakBtn2, form->BreakLocalBtn})
        EXPECT_FALSE(b->Enabled()) << b->Name;
    EXPECT_TRUE(form->OpenLBtn->Enabled());
    EXPECT_TRUE(form->SaveLBtn->Enabled());
    EXPECT_FALSE(form->Autosaug->Checked());
    EXPECT_EQ(form->ProxyEdit->Text(), "");
    EXPECT_EQ(form->DirectoryEdit1->Text(), "");
    EXPECT_EQ(form->FileTypeList().ToVector(),
              (std::vector<std::string>{"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF"}));
    EXPECT_EQ(form->FoundImageList().Count(), 0);
    EXPECT_TRUE(form->PrefixCheck->Checked());
    EXPECT_FALSE(form->OverJumpCheck->Checked());
    EXPECT_FALSE(form->LoadingOptions);
    EXPECT_FALSE(fs::exists(OptionsFile())) << "start-up alone must not write the options file";
    EXPECT_EQ(responder.Asked().size(), 0u);
}

TEST_F(MainFormTest, CommandLineAddressWaitsInTheFieldWithoutScanOrSave)
{
    // The previous run left an empty address, so "Saugen" starts disabled.
    form->URLEdit->Text = "";
    form->ProxyEdit->Text = "proxy.example";
    ASSERT_FALSE(form->GoBtn->Enabled());
    const std::string stored = OptionsBytes();
    ASSERT_FALSE(stored.empty());

    StartAddress = "https://given.example/galerie/";
    Restart();
    EXPECT_EQ(form->URLEdit->Text(), "https://given.example/galerie/");
    EXPECT_EQ(form->ProxyEdit->Text(), "proxy.example") << "the other settings come from options.dat";
    EXPECT_TRUE(form->GoBtn->Enabled());
    EXPECT_FALSE(form->JobRunning) << "the scan waits for the user";
    EXPECT_EQ(form->Memo1->Lines().Count(), 0);
    EXPECT_FALSE(form->LoadingOptions);
    EXPECT_EQ(responder.Asked().size(), 0u);
    EXPECT_EQ(OptionsBytes(), stored) << "a handed-over address is no setting of the user's";

    // Once the user changes a setting, the window's address is stored with it.
    form->Autosaug->Checked = true;
    EXPECT_NE(OptionsBytes().find("https://given.example/galerie/"), std::string::npos);
    StartAddress.reset();
    Restart();
    EXPECT_EQ(form->URLEdit->Text(), "https://given.example/galerie/");
}

TEST_F(MainFormTest, GoButtonFollowsTheAddressAndEachKeystrokeSavesOptions)
{
    form->URLEdit->Text = "";
    EXPECT_FALSE(form->GoBtn->Enabled());
    ASSERT_TRUE(fs::exists(OptionsFile()));
    EXPECT_EQ(OptionsBytes()[1], '\0');
    form->URLEdit->Text = "h";
    EXPECT_TRUE(form->GoBtn->Enabled());
    EXPECT_EQ(OptionsBytes().substr(1, 2), std::string("\x01h", 2));
}

TEST_F(MainFormTest, NoJobStartsWhileOneRuns)
{
    form->SetScanState();
    form->URLEdit->Text = "http://h.d/other.html";
    EXPECT_FALSE(form->GoBtn->Enabled()) << "typing during a scan must not re-enable Saugen";
    form->AddFoundImage("http://h.d/a.gif");
    form->ListBoxChanged();
    EXPECT_FALSE(form->DownAllBtn->Enabled());
    EXPECT_FALSE(form->DownBtn->Enabled());
    EXPECT_TRUE(form->ClearBtn->Enabled()) << "the list stays editable during a scan";
    form->SetIdleState();
    EXPECT_TRUE(form->GoBtn->Enabled());
    EXPECT_TRUE(form->DownAllBtn->Enabled());
}

TEST_F(MainFormTest, JobStatesDisableWhatCouldStartOrChangeAJobAndIdleRestoresIt)
{
    form->AddFoundImage("http://h.d/a.gif");
    form->ListBoxChanged();
    form->ProgressBar1->Position = 40;

    form->SetScanState();
    EXPECT_TRUE(form->TabSheet1->TabVisible());
    EXPECT_TRUE(form->TabSheet2->TabVisible());
    EXPECT_FALSE(form->TabSheet3->TabVisible());
    EXPECT_FALSE(form->TabSheet4->TabVisible());
    EXPECT_TRUE(form->BreakBtn->Enabled());
    EXPECT_TRUE(form->LocalBreak2Btn->Enabled());
    EXPECT_FALSE(form->BreakBtn2->Enabled());
    EXPECT_FALSE(form->BreakLocalBtn->Enabled());
    for (TButton* b : {form->DownAllBtn, form->DownBtn, form->ClearBtn, form->DelBtn, form->MarkBtn, form->NotBtn,
                       form->GoBtn, form->BrowseBtn})
        EXPECT_FALSE(b->Enabled()) << b->Name;

    form->SetIdleState();
    form->SetDownloadState();
    EXPECT_FALSE(form->TabSheet1->TabVisible());
    EXPECT_FALSE(form->TabSheet2->TabVisible());
    EXPECT_TRUE(form->TabSheet3->TabVisible());
    EXPECT_FALSE(form->TabSheet4->TabVisible());
    EXPECT_FALSE(form->BreakBtn->Enabled());
    EXPECT_TRUE(form->BreakBtn2->Enabled());
    EXPECT_TRUE(form->BreakLocalBtn->Enabled());

    form->SetIdleState();
    for (TTabSheet* t : {form->TabSheet1, form->TabSheet2, form->TabSheet3, form->TabSheet4})
        EXPECT_TRUE(t->TabVisible());
    for (TButton* b : {form->DownAllBtn, form->DownBtn, form->ClearBtn, form->DelBtn, form->MarkBtn, form->NotBtn,
                       form->GoBtn, form->BrowseBtn})
        EXPECT_TRUE(b->Enabled()) << b->Name;
    for (TButton* b : {form->BreakBtn, form->LocalBreak2Btn, form->BreakBtn2, form->BreakLocalBtn})
        EXPECT_FALSE(b->Enabled()) << b->Name;
    EXPECT_EQ(form->ProgressBar1->Position(), 0);
    EXPECT_FALSE(form->JobRunning);
}

TEST_F(MainFormTest, StatusBarProgressGrowsInPlaceAndShrinksWithARepaint)
{
    form->Show();
    TStatusBar& bar = *form->StatusBar1;
    bar.Repaint();
    // Panel 0 is the bars' label.
    const TRect p0 = bar.PanelRect(1), p1 = bar.PanelRect(2);
    ASSERT_EQ(p0.Width(), 200);
    ASSERT_EQ(p1.Width(), 200);
    EXPECT_EQ(form->ProgressRect, p1) << "the panel painted last is remembered";

    form->SetProStatus(33);
    EXPECT_EQ(NavyRunFrom(bar, p1), 66) << "200 x 33 div 100";

    form->SetProStatus(50);
    form->SetProStatus(30);
    EXPECT_EQ(NavyRunFrom(bar, p0), 60) << "shrinking repaints every panel";
    EXPECT_EQ(NavyRunFrom(bar, p1), 60);

    // Growing draws over the remembered panel without erasing; the other panel
    // grows with it so both keep showing the same value.
    int repaints = 0;
    auto draw = bar.OnDrawPanel;
    bar.OnDrawPanel = [&](TStatusBar& b, int i, const TRect& r) {
        ++repaints;
        draw(b, i, r);
    };
    form->SetProStatus(50);
    EXPECT_EQ(repaints, 0) << "no repaint when the bar grows";
    EXPECT_EQ(NavyRunFrom(bar, p1), 100);
    EXPECT_EQ(NavyRunFrom(bar, p0), 100);
    EXPECT_EQ(NavyRunFrom(bar, bar.PanelRect(0)), 0) << "the label is no bar";
    form->SetProStatus(49);
    EXPECT_EQ(repaints, 2) << "a shrinking bar repaints both panels";

    form->SetProStatus(0);
    EXPECT_EQ(NavyRunFrom(bar, p0), 0);
    EXPECT_EQ(NavyRunFrom(bar, p1), 0);
}

TEST_F(MainFormTest, ExitPictureTracksThePointerWhileHeld)
{
    form->Show();
    ASSERT_TRUE(form->EndeBtn->Visible());
    ASSERT_FALSE(form->EndeBtnDown->Visible());
    Mouse(QEvent::MouseButtonPress, form->EndeBtn, QPoint(10, 10), Qt::LeftButton);
    EXPECT_TRUE(form->ExitPressed);
    EXPECT_TRUE(form->EndeBtnDown->Visible());
    EXPECT_FALSE(form->EndeBtn->Visible());

    Mouse(QEvent::MouseMove, form->EndeBtn, QPoint(-20, 10), Qt::LeftButton);
    EXPECT_TRUE(form->EndeBtn->Visible()) << "pointer off the picture shows the normal one";
    EXPECT_FALSE(form->EndeBtnDown->Visible());
    Mouse(QEvent::MouseMove, form->EndeBtn, QPoint(form->EndeBtn->Width(), 5), Qt::LeftButton);
    EXPECT_TRUE(form->EndeBtn->Visible()) << "x == width lies outside";
    Mouse(QEvent::MouseMove, form->EndeBtn, QPoint(5, 5), Qt::LeftButton);
    EXPECT_TRUE(form->EndeBtnDown->Visible()) << "back over it shows the pressed one";
    EXPECT_FALSE(form->EndeBtn->Visible());

    // Releasing outside: no click, so no close question.
    Mouse(QEvent::MouseMove, form->EndeBtn, QPoint(-20, 10), Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, form->EndeBtn, QPoint(-20, 10), Qt::NoButton);
    EXPECT_TRUE(form->EndeBtn->Visible());
    EXPECT_FALSE(form->EndeBtnDown->Visible());
    EXPECT_FALSE(form->ExitPressed);
    EXPECT_TRUE(responder.Asked().empty());
}

TEST_F(MainFormTest, ClickingTheExitPictureAsksBeforeClosing)
{
    form->Show();
    responder.AnswerMessage(mrCancel);
    Mouse(QEvent::MouseButtonPress, form->EndeBtn, QPoint(5, 5), Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, form->EndeBtn, QPoint(5, 5), Qt::NoButton);
    ASSERT_EQ(responder.Asked().size(), 1u);
    const TAsked& q = responder.Asked()[0];
    EXPECT_EQ(q.Text, "Hiermit beenden Sie das Programm! Alle nicht gespeicherten Daten gehen verloren!");
    EXPECT_EQ(q.Caption, "Programm beenden");
    EXPECT_EQ(q.Icon, TMsgIcon::Information);
    EXPECT_EQ(q.Buttons, mbOK | mbCancel);
    EXPECT_TRUE(form->Showing()) << "Cancel keeps the window";
    EXPECT_FALSE(form->AbortRequested);
    EXPECT_TRUE(form->EndeBtn->Visible());
    EXPECT_FALSE(form->EndeBtnDown->Visible());
}

TEST_F(MainFormTest, CloseQuestionDuringAJob)
{
    form->Show();
    form->SetScanState();
    responder.AnswerMessage(mrCancel);
    EXPECT_FALSE(form->Close());
    EXPECT_FALSE(form->AbortRequested) << "Cancel leaves a running job running";
    EXPECT_TRUE(form->JobRunning);

    responder.AnswerMessage(mrOk);
    EXPECT_TRUE(form->Close());
    EXPECT_TRUE(form->AbortRequested) << "a confirmed close stops the job at its next check";
    EXPECT_FALSE(form->Showing());
    EXPECT_EQ(responder.Unanswered(), 0);
}

TEST_F(MainFormTest, InfoPictureOpensTheAboutBoxModally)
{
    form->Show();
    responder.AnswerForm([](TForm& f) {
        auto& box = dynamic_cast<TAboutBox&>(f);
        EXPECT_EQ(box.ProductName->Caption(), "Web Lumifang");
        EXPECT_EQ(box.Version->Caption(), "Version " WL_PROJECT_VERSION);
        EXPECT_FALSE(box.ProgramIcon->Picture().isNull());
        box.OKButton->Click();
        return mrNone;
    });
    Mouse(QEvent::MouseButtonPress, form->ueberbtn, QPoint(3, 3), Qt::LeftButton);
    EXPECT_TRUE(form->InfoPressed);
    EXPECT_TRUE(form->ueberBtn2->Visible());
    Mouse(QEvent::MouseButtonRelease, form->ueberbtn, QPoint(3, 3), Qt::NoButton);
    ASSERT_EQ(responder.Asked().size(), 1u);
    EXPECT_EQ(responder.Asked()[0].Kind, TAskKind::Form);
    EXPECT_EQ(responder.Asked()[0].FormName, "AboutBox");
    EXPECT_EQ(about->ModalResult(), mrOk);
    EXPECT_FALSE(form->InfoPressed);
    EXPECT_TRUE(form->ueberbtn->Visible());
}

TEST_F(MainFormTest, BrowseButtonShowsTheBrowserModally)
{
    responder.AnswerForm(mrOk);
    form->BrowseBtn->Click();
    ASSERT_EQ(responder.Asked().size(), 1u);
    EXPECT_EQ(responder.Asked()[0].FormName, "BrowserForm");
    EXPECT_EQ(responder.Asked()[0].Text, "Quenbrik Web Lumifang - Browser");
}

TEST_F(MainFormTest, MemoLinesReachTheObserverInOrder)
{
    std::vector<std::string> seen;
    form->OnMemoLine = [&](const std::string& s) { seen.push_back(s); };
    form->AddMemoLine("http://h.d/a/index.html");
    form->Memo1->Lines().Add("");
    form->AddMemoLine("Done! (1 html files and 0 image files found...)...");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], "");
    ASSERT_EQ(form->Memo1->Lines().Count(), 3);
    EXPECT_EQ(form->Memo1->Lines()[0], "http://h.d/a/index.html");
    EXPECT_EQ(form->Memo1->Lines()[1], "");
    form->Memo1->Clear();
    EXPECT_EQ(form->Memo1->Lines().Count(), 0);
}

TEST_F(MainFormTest, LayoutGrowsWithTheWindowAndFitsTheScreen)
{
    form->Show();
    QApplication::processEvents();
    auto inside = [](const TControl* c) {
        const TWinControl* p = c->Parent();
        return c->Left() >= 0 && c->Top() >= 0 && c->Left() + c->Width() <= p->Width() &&
               c->Top() + c->Height() <= p->Height();
    };
    auto check = [&](int w, int h) {
        form->Widget()->resize(w, h);
        QApplication::processEvents();
        const std::pair<TTabSheet*, std::vector<const TControl*>> tabs[] = {
            {form->TabSheet1, {form->URLEdit, form->Memo1, form->ProgressBar1}},
            {form->TabSheet2, {form->ListBox1, form->DelBtn}},
            {form->TabSheet3, {form->DirectoryEdit1}}};
        for (const auto& [tab, controls] : tabs) {
            form->PageControl2->SetActivePage(tab);
            QApplication::processEvents();
            for (const TControl* c : controls)
                EXPECT_TRUE(inside(c)) << c->Name << " at " << w << " x " << h;
        }
        form->PageControl2->SetActivePage(form->TabSheet1);
    };
    check(638, 555);
    EXPECT_EQ(form->ListBox1->Width(), 262);
    EXPECT_EQ(form->ListBox1->Height(), 292);
    EXPECT_EQ(form->Memo1->Height(), 76);
    EXPECT_EQ(form->URLEdit->Width(), 396);

    // The fields, the found list and the memo take the new room.
    check(1000, 855);
    EXPECT_EQ(form->URLEdit->Width(), 396 + 362);
    EXPECT_EQ(form->DirectoryEdit1->Width(), 396 + 362);
    EXPECT_EQ(form->ListBox1->Width(), 262 + 362);
    EXPECT_EQ(form->ListBox1->Height(), 292 + 200);
    EXPECT_EQ(form->Memo1->Height(), 76 + 100);
    EXPECT_EQ(form->Memo1->Width(), 622 + 362);
    EXPECT_EQ(form->DelBtn->Left(), 280 + 362);

    // Back to the size it was laid out for: everything where it was.
    check(638, 555);
    EXPECT_EQ(form->ListBox1->Width(), 262);
    EXPECT_EQ(form->Memo1->Height(), 76);

    // Larger than the screen (a large scale factor): made to fit when shown.
    form->Hide();
    form->Widget()->resize(5000, 4000);
    form->Show();
    QApplication::processEvents();
    const QRect area = form->Widget()->screen()->availableGeometry();
    EXPECT_LE(form->Widget()->frameGeometry().width(), area.width());
    EXPECT_LE(form->Widget()->frameGeometry().height(), area.height());
    form->PageControl2->SetActivePage(form->TabSheet2);
    QApplication::processEvents();
    EXPECT_TRUE(inside(form->ListBox1));
}
