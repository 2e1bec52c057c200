// options.dat byte for byte, damaged files, the texts the layout cannot hold,
// and the image-list files.
#include "app/MainFiles.h"
#include "ui/StringListModel.h"
#include "tests/app/MainFormFixture.h"

using namespace wltest;

namespace {

std::string Text(const std::string& s)
{
    return std::string(1, static_cast<char>(s.size())) + s;
}

std::string Count(std::int32_t n)
{
    std::string b;
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<char>((static_cast<std::uint32_t>(n) >> (8 * i)) & 0xFF));
    return b;
}

const std::string kFiveTypes = Count(5) + Text("GIF") + Text("JPG") + Text("JPEG") + Text("JIF") + Text("PNG");

} // namespace

class OptionsTest : public MainFormTest {};

TEST_F(OptionsTest, OptionsFileLayoutIsByteExact)
{
    // The five classic types (a new options file adds WEBP and AVIF).
    form->FileTypeList().Assign({"GIF", "JPG", "JPEG", "JIF", "PNG"});
    form->Autosaug->Checked = false;
    form->ProxyEdit->Text = "";
    form->DirectoryEdit1->Text = "C:\\Bilder";
    form->URLEdit->Text = "http://h.de/bilder/a";   // 20 characters
    const std::string expected = std::string(1, '\0') + Text("http://h.de/bilder/a") + std::string(1, '\0') +
                                 Text("C:\\Bilder") + kFiveTypes;
    ASSERT_EQ(expected.size(), 58u);
    EXPECT_EQ(OptionsBytes(), expected);
    EXPECT_EQ(OptionsBytes().substr(33, 4), std::string("\x05\x00\x00\x00", 4));

    form->Autosaug->Checked = true;
    EXPECT_EQ(OptionsBytes()[0], '\x01');
    // Nothing but the file itself is left in the folder.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder.Path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(OptionsTest, ANewFileStartsWithTheWebFormatsAndTheModernBoxStaysOutsideIt)
{
    form->URLEdit->Text = "http://h.de/";
    const std::string bytes = OptionsBytes();
    EXPECT_EQ(bytes.substr(bytes.size() - 5 - 5), std::string("\x04" "WEBP" "\x04" "AVIF"));
    EXPECT_NE(bytes.find(std::string("\x07\x00\x00\x00", 4)), std::string::npos);

    // The check box changes nothing in options.dat and survives a restart
    // through the settings kept beside it.
    form->ModernCheck->Checked = true;
    EXPECT_EQ(OptionsBytes(), bytes);
    Restart();
    EXPECT_TRUE(form->ModernCheck->Checked());
    EXPECT_EQ(OptionsBytes(), bytes);
    form->ModernCheck->Checked = false;
    Restart();
    EXPECT_FALSE(form->ModernCheck->Checked());

    // An existing file's type list is read as it is: no web formats added.
    WriteBytes(OptionsFile(), std::string(1, '\0') + Text("u") + Text("") + Text("") + Count(1) + Text("GIF"));
    Restart();
    EXPECT_EQ(form->FileTypeList().ToVector(), (std::vector<std::string>{"GIF"}));
}

TEST_F(OptionsTest, ReadsEveryFieldAtStartWithoutWritingBack)
{
    const std::string bytes = std::string(1, '\x07') + Text("http://x.y/") + Text("proxy.local") + Text("/srv/pics") +
                              Count(2) + Text("tif") + Text("B\xFCld");
    WriteBytes(OptionsFile(), bytes);
    fs::last_write_time(OptionsFile(), fs::file_time_type::clock::now() - std::chrono::hours(1));
    const auto stamp = fs::last_write_time(OptionsFile());
    Restart();
    EXPECT_TRUE(form->Autosaug->Checked()) << "any non-zero byte checks the box";
    EXPECT_EQ(form->URLEdit->Text(), "http://x.y/");
    EXPECT_EQ(form->ProxyEdit->Text(), "proxy.local");
    EXPECT_EQ(form->DirectoryEdit1->Text(), "/srv/pics");
    EXPECT_EQ(form->FileTypeList().ToVector(), (std::vector<std::string>{"tif", "B\xC3\xBCld"}));
    EXPECT_TRUE(form->GoBtn->Enabled());
    EXPECT_FALSE(form->LoadingOptions);
    EXPECT_EQ(fs::last_write_time(OptionsFile()), stamp) << "loading must not rewrite the file";

    // The umlaut goes back out as the single byte it came in as.
    form->ProxyEdit->Text = "proxy.local";
    form->AutosaugClick();
    EXPECT_EQ(OptionsBytes(), std::string(1, '\x01') + bytes.substr(1));
}

TEST_F(OptionsTest, LoadingFlagSuppressesSaving)
{
    form->LoadingOptions = true;
    form->URLEdit->Text = "http://typed.while.loading/";
    form->DelFTBtnClick();
    EXPECT_FALSE(fs::exists(OptionsFile()));
    form->LoadingOptions = false;
    form->ProxyEdit->Text = "p";
    EXPECT_TRUE(fs::exists(OptionsFile()));
}

TEST_F(OptionsTest, DamagedFilesLoadWhatIsWholeAndNeverAllocateByTheCount)
{
    const std::string full = std::string(1, '\x01') + Text("http://a.b/") + Text("prx") + Text("/d") + Count(3) +
                             Text("AAA") + Text("BB") + Text("C");
    struct Case {
        std::size_t keep;
        const char* address;
        const char* proxy;
        std::vector<std::string> types;
    } cases[] = {
        {0, "http://example.com/", "", {"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF"}},
        {1, "http://example.com/", "", {"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF"}},
        {6, "http://example.com/", "", {"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF"}},    // inside the address
        {13, "http://a.b/", "", {"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF"}},           // proxy length only
        {21, "http://a.b/", "prx", {"GIF", "JPG", "JPEG", "JIF", "PNG", "WEBP", "AVIF"}},        // inside the count
        {24, "http://a.b/", "prx", {}},                                          // count, no text
        {30, "http://a.b/", "prx", {"AAA"}},                                     // second text cut
        {full.size(), "http://a.b/", "prx", {"AAA", "BB", "C"}},
    };
    for (const Case& c : cases) {
        WriteBytes(OptionsFile(), full.substr(0, c.keep));
        Restart();
        EXPECT_FALSE(form->LoadingOptions) << c.keep;
        EXPECT_EQ(form->URLEdit->Text(), c.address) << c.keep;
        EXPECT_EQ(form->ProxyEdit->Text(), c.proxy) << c.keep;
        EXPECT_EQ(form->FileTypeList().ToVector(), c.types) << c.keep;
        EXPECT_EQ(form->Autosaug->Checked(), c.keep > 0) << c.keep;
    }

    // A count far larger than the texts that follow, and a negative one.
    const std::string head = std::string(1, '\0') + Text("u") + Text("") + Text("");
    WriteBytes(OptionsFile(), head + Count(0x7FFFFFFF) + Text("PNG"));
    Restart();
    EXPECT_EQ(form->FileTypeList().ToVector(), (std::vector<std::string>{"PNG"}));
    WriteBytes(OptionsFile(), head + Count(-1) + Text("PNG"));
    Restart();
    EXPECT_EQ(form->FileTypeList().Count(), 7) << "a negative count leaves the types as they were";
    EXPECT_EQ(form->URLEdit->Text(), "u");
}

TEST_F(OptionsTest, TextsTheLayoutCannotHoldAreNotWrittenAtAll)
{
    form->URLEdit->Text = "http://ok/";
    const std::string good = OptionsBytes();
    ASSERT_FALSE(good.empty());

    form->URLEdit->Text = "http://h.d/" + std::string(244, 'a');   // 255 bytes: still fits
    EXPECT_EQ(static_cast<unsigned char>(OptionsBytes()[1]), 255u);
    const std::string at255 = OptionsBytes();
    form->URLEdit->Text = "http://h.d/" + std::string(245, 'a');   // 256 bytes
    EXPECT_EQ(OptionsBytes(), at255) << "too long: the last complete state stays";

    form->URLEdit->Text = "http://ok/";
    form->ProxyEdit->Text = "\xE6\x97\xA5\xE6\x9C\xAC";   // not in Windows-1252
    EXPECT_EQ(OptionsBytes(), good);

    form->ProxyEdit->Text = "\xE2\x82\xAC";   // the euro sign is
    EXPECT_EQ(OptionsBytes().substr(12, 2), std::string("\x01\x80", 2));

    // A later change that fits is written again.
    form->ProxyEdit->Text = "";
    EXPECT_EQ(OptionsBytes(), good);

    // While one field holds such a text, the others are still saved, that
    // field with its value stored last; across a restart nothing is lost.
    form->URLEdit->Text = "http://h.d/" + std::string(300, 'b');
    form->Autosaug->Checked = true;
    form->FileTypeList().Add("TIF");
    form->ProxyEdit->Text = "proxy:8080";
    const std::string now = OptionsBytes();
    EXPECT_EQ(now[0], '\x01');
    EXPECT_EQ(now.substr(1, 11), Text("http://ok/"));
    EXPECT_EQ(now.substr(12, 11), Text("proxy:8080"));
    Restart();
    EXPECT_EQ(form->URLEdit->Text(), "http://ok/");
    EXPECT_EQ(form->ProxyEdit->Text(), "proxy:8080");
    EXPECT_TRUE(form->Autosaug->Checked());
    EXPECT_EQ(form->FileTypeList().Count(), 8);
    EXPECT_EQ(form->FileTypeList().Get(7), "TIF");
}

TEST_F(OptionsTest, EncodeAndDecodeAgreeForEveryByte)
{
    TOptionsRecord o;
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    TDecodedOptions d = DecodeOptions(std::string(1, '\0') + Text(all.substr(0, 200)) + Text(all.substr(200)) +
                                      Text("") + Count(0));
    ASSERT_TRUE(d.Address && d.Proxy && d.FileTypes);
    o.Address = *d.Address;
    o.Proxy = *d.Proxy;
    auto bytes = EncodeOptions(o);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->substr(1, 201), Text(all.substr(0, 200)));
    EXPECT_EQ(bytes->substr(202, 56), Text(all.substr(200)));
}

TEST_F(OptionsTest, WritingGoesThroughATemporaryFileThatNeverRemains)
{
    const fs::path target = folder.Path() / "x.dat";
    WriteBytes(target, "old");
    EXPECT_TRUE(WriteFileAtomically(target.string(), "new"));
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_FALSE(WriteFileAtomically((folder.Path() / "missing" / "x.dat").string(), "new"));
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder.Path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(OptionsPlacement, DisabledOptionsAreNeitherReadNorWritten)
{
    TempFolder dir;
    TMainFormSetup setup;
    setup.UseOptionsFile = false;
    TMainForm f(setup);
    EXPECT_EQ(f.OptionsReadPath(), "");
    EXPECT_EQ(f.OptionsWritePath(), "");
    f.URLEdit->Text = "x";   // must not throw or write anywhere
    EXPECT_EQ(f.URLEdit->Text(), "x");
}

// ---------------------------------------------------------------------------
// Image-list files

class ImageListTest : public MainFormTest {
protected:
    void Load(const std::string& bytes)
    {
        const fs::path p = folder.Path() / "in.bls";
        WriteBytes(p, bytes);
        responder.AnswerFile(p.string());
        form->OpenLBtn->Click();
    }
};

TEST_F(ImageListTest, SavingWritesEveryRowWithCrLf)
{
    for (const char* a : {"http://h.d/1.gif", "http://h.d/2.gif", "http://h.d/3.gif"})
        form->AddFoundImage(a);
    form->ListBox1->SetSelected(1, true);
    responder.AnswerFile((folder.Path() / "list").string());
    form->SaveLBtn->Click();
    ASSERT_EQ(responder.Asked().size(), 1u);
    EXPECT_EQ(responder.Asked()[0].Kind, TAskKind::SaveFile);
    EXPECT_EQ(responder.Asked()[0].Filter, "Bildliste (*.bls)|*.bls");
    EXPECT_EQ(responder.Asked()[0].DefaultExt, "bls");
    EXPECT_EQ(ReadBytes(folder.Path() / "list.bls"), "http://h.d/1.gif\r\nhttp://h.d/2.gif\r\nhttp://h.d/3.gif\r\n");
}

TEST_F(ImageListTest, SavingOverAnExistingFileAsksFirst)
{
    form->AddFoundImage("http://h.d/new.gif");
    const fs::path p = folder.Path() / "keep.bls";
    WriteBytes(p, "old\r\n");
    responder.AnswerFile(p.string());
    responder.AnswerMessage(mrNo);
    responder.AnswerFile(std::nullopt);   // the dialog comes back; the user cancels
    form->SaveLBtn->Click();
    EXPECT_EQ(ReadBytes(p), "old\r\n");
    ASSERT_EQ(responder.Asked().size(), 3u);
    EXPECT_EQ(responder.Asked()[1].Kind, TAskKind::Message);

    responder.AnswerFile(p.string());
    responder.AnswerMessage(mrYes);
    form->SaveLBtn->Click();
    EXPECT_EQ(ReadBytes(p), "http://h.d/new.gif\r\n");
}

TEST_F(ImageListTest, FailuresAreReportedInGerman)
{
    form->AddFoundImage("http://h.d/a.gif");
    responder.AnswerFile((folder.Path() / "no" / "such" / "dir.bls").string());
    responder.AnswerMessage(mrOk);
    form->SaveLBtn->Click();
    ASSERT_EQ(responder.Asked().size(), 2u);
    EXPECT_EQ(responder.Asked()[1].Text, "Konnte Datei nicht erstellen...");
    EXPECT_EQ(responder.Asked()[1].Caption, "Fehler...");
    EXPECT_EQ(responder.Asked()[1].Icon, TMsgIcon::Error);
    EXPECT_EQ(responder.Asked()[1].Buttons, static_cast<TMsgButtons>(mbOK));

    responder.AnswerFile((folder.Path() / "absent.bls").string());
    responder.AnswerMessage(mrOk);
    form->OpenLBtn->Click();
    ASSERT_EQ(responder.Asked().size(), 4u);
    EXPECT_EQ(responder.Asked()[3].Text, "Konnte Datei nicht öffnen...");
    EXPECT_EQ(responder.Asked()[3].Caption, "Fehler...");
    EXPECT_EQ(form->FoundImageList().Count(), 1);

    responder.AnswerFile(std::nullopt);
    form->OpenLBtn->Click();
    EXPECT_EQ(responder.Unanswered(), 0) << "cancelling the dialog asks nothing more";
}

TEST_F(ImageListTest, LoadingMergesWithTheFoldedDuplicateTest)
{
    Load("A\r\na\r\nB\r\n");
    EXPECT_EQ(form->FoundImageList().ToVector(), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(form->ClearBtn->Enabled());
    Load("A\r\na\r\nB\r\n");
    EXPECT_EQ(form->FoundImageList().ToVector(), (std::vector<std::string>{"A", "B"}));
    Load("c\r\n\r\n\r\nb\nD");
    EXPECT_EQ(form->FoundImageList().ToVector(), (std::vector<std::string>{"A", "B", "c", "", "D"})) << "one empty row, old rows first";

    // Earlier versions wrote raw UTF-8: such a line loads as the address a
    // scan forms today, and its escaped twin is the same row.
    form->FoundImageList().Clear();
    Load("http://h.d/B\xC3\xA4ume 1.jpg\r\nhttp://h.d/B%c3%a4ume%201.jpg\r\nhttp://h.d/%42%C3%A4ume%201.JPG\r\n");
    EXPECT_EQ(form->FoundImageList().ToVector(), std::vector<std::string>{"http://h.d/B%C3%A4ume%201.jpg"});
    // The list shows it as a browser's address bar does.
    const TStringListModel& model = form->ListBox1->Model();
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString().toStdString(), "http://h.d/B\xC3\xA4ume 1.jpg");
}

TEST_F(ImageListTest, LinesEndAtCrLfLfOrCr)
{
    EXPECT_EQ(SplitListLines(""), std::vector<std::string>{});
    EXPECT_EQ(SplitListLines("x"), std::vector<std::string>{"x"});
    EXPECT_EQ(SplitListLines("x\r\n"), std::vector<std::string>{"x"});
    EXPECT_EQ(SplitListLines("\r\n"), std::vector<std::string>{""});
    EXPECT_EQ(SplitListLines("a\rb\nc\r\n\r\nd"), (std::vector<std::string>{"a", "b", "c", "", "d"}));
    EXPECT_EQ(SplitListLines(std::string("a\0b\n", 4)), std::vector<std::string>{std::string("a\0b", 3)});
    EXPECT_EQ(JoinListLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
}

TEST_F(OptionsTest, AnOversizedFileIsReadOnlyUpToItsLimit)
{
    std::string bytes = std::string(1, '\0') + Text("http://big/") + Text("") + Text("") + Count(1) + Text("GIF");
    bytes.resize(kMaxOptionsFileBytes + 4096, 'x');
    WriteBytes(OptionsFile(), bytes);
    Restart();
    EXPECT_EQ(form->URLEdit->Text(), "http://big/");
    EXPECT_EQ(form->FileTypeList().ToVector(), std::vector<std::string>{"GIF"});
}
