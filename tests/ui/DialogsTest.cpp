// The responder seam: scripted answers, the file dialogs' default extension
// and overwrite question, the folder picker of the directory edit, the
// filters and starting folders of the file dialogs, Qt's own texts in German
// and the button of the printer set-up.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>

#include <gtest/gtest.h>

#include "ui/Dialogs.h"
#include "ui/Language.h"
#include "ui/Form.h"
#include "ui/Responder.h"
#include "ui/ScriptedResponder.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
    Folder()
    {
        std::string t = (fs::temp_directory_path() / "wl-dlg-XXXXXX").string();
        path = ::mkdtemp(t.data());
    }
    ~Folder() { fs::remove_all(path); }
    fs::path path;
};

} // namespace

TEST(Responder, ScriptedAnswersComeInOrderAndSurprisesAreCounted)
{
    TScriptedResponder r;
    TResponderScope scope(r);
    r.AnswerMessage(mrYes);
    EXPECT_EQ(MessageDlg("Frage?", "Frage", TMsgIcon::Question, mbYes | mbNo), mrYes);
    // Nothing queued: the safe answer, and the question is counted.
    EXPECT_EQ(MessageDlg("Noch eine?", "Frage", TMsgIcon::Question, mbYes | mbNo), mrNo);
    EXPECT_EQ(MessageDlg("Weiter?", "X", TMsgIcon::Warning, mbOK | mbCancel), mrCancel);
    // A queued answer of another kind is not used up by a message box.
    r.AnswerFile("/tmp/x");
    EXPECT_EQ(MessageDlg("?", "?", TMsgIcon::None, mbOK), mrCancel);
    EXPECT_EQ(r.Pending(), 1u);
    EXPECT_EQ(r.Unanswered(), 3);
    ASSERT_EQ(r.Asked().size(), 4u);
    EXPECT_EQ(r.Asked()[0].Text, "Frage?");
    EXPECT_EQ(r.Asked()[0].Icon, TMsgIcon::Question);
    EXPECT_TRUE(r.Asked()[0].Answered);
    EXPECT_FALSE(r.Asked()[1].Answered);
}

TEST(Responder, ScopesNest)
{
    TScriptedResponder a, b;
    {
        TResponderScope sa(a);
        {
            TResponderScope sb(b);
            EXPECT_EQ(&Responder(), &b);
        }
        EXPECT_EQ(&Responder(), &a);
    }
    EXPECT_NE(dynamic_cast<TQtResponder*>(&Responder()), nullptr);
}

TEST(Responder, ModalFormScriptPlaysTheUser)
{
    TScriptedResponder r;
    TResponderScope scope(r);
    TForm f("Dialog");
    f.Caption = "Ein Dialog";
    auto* ok = f.Make<TButton>(&f, "Ok");
    ok->ModalResult = mrOk;
    r.AnswerForm([&](TForm& shown) {
        EXPECT_EQ(&shown, &f);
        ok->Click();
        return mrNone;
    });
    EXPECT_EQ(f.ShowModal(), mrOk);
    r.AnswerForm([](TForm&) { return mrNone; });   // nothing pressed
    EXPECT_EQ(f.ShowModal(), mrCancel);
    EXPECT_EQ(f.ShowModal(), mrCancel);   // nothing queued
    EXPECT_EQ(r.Unanswered(), 1);
    EXPECT_EQ(r.Asked()[0].FormName, "Dialog");
    EXPECT_EQ(r.Asked()[0].Text, "Ein Dialog");
}

TEST(FileDialogs, DefaultExtensionOnlyForNamesWithoutOne)
{
    TScriptedResponder r;
    TResponderScope scope(r);
    TOpenDialog d;
    d.DefaultExt = "bls";
    d.Filter = "Bildliste (*.bls)|*.bls";
    r.AnswerFile("/x/list");
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, "/x/list.bls");
    r.AnswerFile("/x/list.txt");
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, "/x/list.txt");
    r.AnswerFile("/x.d/list");
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, "/x.d/list.bls") << "a dot in a folder name is no extension";
    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(d.Execute());
    EXPECT_EQ(d.FileName, "/x.d/list.bls") << "a cancel leaves the last name";
    EXPECT_EQ(r.Asked()[0].Kind, TAskKind::OpenFile);
    EXPECT_EQ(r.Asked()[0].Filter, "Bildliste (*.bls)|*.bls");
}

TEST(FileDialogs, OpenKeepsAnExistingFileThatHasNoExtension)
{
    Folder dir;
    std::ofstream(dir.path / "plain") << "x";
    TScriptedResponder r;
    TResponderScope scope(r);
    TOpenDialog d;
    d.DefaultExt = "bls";
    r.AnswerFile((dir.path / "plain").string());
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, (dir.path / "plain").string()) << "the chosen file must be the one opened";

    // With a file of the default extension beside it, the typed name means that one.
    std::ofstream(dir.path / "plain.bls") << "y";
    r.AnswerFile((dir.path / "plain").string());
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, (dir.path / "plain.bls").string());
}

TEST(FileDialogs, SaveAsksBeforeReplacingAndNoReturnsToTheDialog)
{
    Folder dir;
    const fs::path existing = dir.path / "a.bls";
    std::ofstream(existing) << "x";
    TScriptedResponder r;
    TResponderScope scope(r);
    TSaveDialog d;
    d.DefaultExt = "bls";
    r.AnswerFile((dir.path / "a").string());   // becomes a.bls, which exists
    r.AnswerMessage(mrNo);
    r.AnswerFile((dir.path / "b").string());
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(d.FileName, (dir.path / "b.bls").string());
    ASSERT_EQ(r.Asked().size(), 3u);
    EXPECT_EQ(r.Asked()[1].Kind, TAskKind::Message);
    EXPECT_NE(r.Asked()[1].Text.find("a.bls"), std::string::npos);
    EXPECT_EQ(r.Asked()[1].Buttons, static_cast<TMsgButtons>(mbYes | mbNo));

    d.OverwritePrompt = false;
    r.AnswerFile(existing.string());
    ASSERT_TRUE(d.Execute());
    EXPECT_EQ(r.Asked().size(), 4u) << "no question when not asked for";
    EXPECT_EQ(r.Unanswered(), 0);
}

TEST(FileDialogs, DirectoryEditBrowsesFromItsTextOrItsInitialFolder)
{
    Folder dir;
    TScriptedResponder r;
    TResponderScope scope(r);
    TForm f("F");
    auto* edit = f.Make<TDirectoryEdit>(&f, "Dir");
    edit->InitialDir = "/initial/";
    int changes = 0;
    edit->OnChange = [&] { ++changes; };
    r.AnswerFolder(dir.path.string());
    edit->Browse();
    EXPECT_EQ(edit->Text(), dir.path.string());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(r.Asked()[0].InitialDir, "/initial/");
    r.AnswerFolder(std::nullopt);
    edit->Browse();
    EXPECT_EQ(edit->Text(), dir.path.string()) << "cancel keeps the text";
    EXPECT_EQ(r.Asked()[1].InitialDir, dir.path.string()) << "an existing folder in the field is where it opens";
}

TEST(FileDialogs, FilterShowsEachPatternOnce)
{
    EXPECT_EQ(QtFilterText("Bildliste (*.bls)|*.bls"), "Bildliste (*.bls)");
    EXPECT_EQ(QtFilterText("Bilder|*.gif;*.jpg"), "Bilder (*.gif *.jpg)");
    EXPECT_EQ(QtFilterText("Bilder (*.gif;*.jpg)|*.gif;*.jpg|Alle|*"), "Bilder (*.gif;*.jpg) (*.gif *.jpg);;Alle (*)")
        << "Qt reads only space-separated patterns";
    // Parentheses that are not the patterns must not be taken for them.
    EXPECT_EQ(QtFilterText("Liste (alt)|*.lst"), "Liste (alt) (*.lst)");
    EXPECT_EQ(QtFilterText("Bildliste (*.bls)|*.bls|Alle Dateien (*)|*"), "Bildliste (*.bls);;Alle Dateien (*)");
}

TEST(FileDialogs, OpenAndSaveStartInTheFolderUsedLastAndFirstAtHome)
{
    Folder home;
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", home.path.c_str(), 1);
    TOpenDialog::LastFolder.clear();
    TScriptedResponder r;
    TResponderScope scope(r);
    TOpenDialog open;
    TSaveDialog save;
    save.OverwritePrompt = false;

    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(open.Execute());
    r.AnswerFile("/var/tmp/listen/a.bls");
    EXPECT_TRUE(save.Execute());
    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(open.Execute());
    r.AnswerFile("/b.bls");
    EXPECT_TRUE(open.Execute());
    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(save.Execute());
    open.InitialDir = "/opt";
    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(open.Execute());

    ASSERT_EQ(r.Asked().size(), 6u);
    EXPECT_EQ(r.Asked()[0].InitialDir, home.path.string()) << "first time: the home folder, not the working one";
    EXPECT_EQ(r.Asked()[1].InitialDir, home.path.string()) << "a cancelled dialog changes nothing";
    EXPECT_EQ(r.Asked()[2].InitialDir, "/var/tmp/listen") << "the open dialog starts where the list was saved";
    EXPECT_EQ(r.Asked()[4].InitialDir, "/");
    EXPECT_EQ(r.Asked()[5].InitialDir, "/opt") << "a folder the program names wins";
    ::setenv("HOME", savedHome.c_str(), 1);
    TOpenDialog::LastFolder.clear();
}

TEST(QtTexts, FileDialogAndButtonsSpeakGerman)
{
    ASSERT_TRUE(InstallQtGerman()) << "qt6-translations-l10n is not installed";
    EXPECT_TRUE(InstallQtGerman()) << "a second call keeps the one translator";
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Speichern unter");
    auto* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
    ASSERT_NE(lookIn, nullptr);
    EXPECT_EQ(lookIn->text().toStdString(), "Suchen in:");
    QDialogButtonBox buttons(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Yes)->text().toStdString(), "&Ja");
    EXPECT_EQ(buttons.button(QDialogButtonBox::No)->text().toStdString(), "&Nein");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().toStdString(), "Abbrechen");
}

TEST(QtTexts, PrinterSetupButtonSaysItTakesTheSettings)
{
    ASSERT_TRUE(InstallQtGerman());
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const std::unique_ptr<QDialog> dialog = TQtResponder::MakePrinterSetupDialog(printer, nullptr);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Drucker einrichten");
    // Shown as the user sees it: the print dialog sets its widgets up again then.
    dialog->show();
    std::vector<std::string> texts;
    for (QDialogButtonBox* box : dialog->findChildren<QDialogButtonBox*>())
        for (QAbstractButton* b : box->buttons())
            if (b->isVisible())
                texts.push_back(b->text().toStdString());
    dialog->reject();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "&Übernehmen"), texts.end());
    for (const std::string& t : texts)
        EXPECT_EQ(t.find("Drucken"), std::string::npos) << t;
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Abbrechen"), 1);
}
