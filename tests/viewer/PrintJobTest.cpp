// The print job on a real PDF printer: the file is rasterised with pdftoppm
// and the picture's rectangle measured on the page, in both size modes. The
// file appears only complete, under the name the user chose.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include <gtest/gtest.h>

#include "ui/Printer.h"
#include "ui/ScriptedResponder.h"
#include "viewer/PrintFUnit.h"
#include "ViewerTestSupport.h"

namespace fs = std::filesystem;
using viewertest::Folder;
using viewertest::Picture;

namespace {

// Letter paper (612 x 792 pt) with half-inch margins at 300 dpi: a printable
// area of 2250 x 3000 device pixels whose corner is at (36 pt, 36 pt).
void LetterPdf(QPrinter& p)
{
    p.setOutputFormat(QPrinter::PdfFormat);
    p.setOutputFileName(QString());
    p.setResolution(300);
    p.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(36, 36, 36, 36),
                                QPageLayout::Point));
}

struct Box {
    int left = -1, top = -1, right = -1, bottom = -1;   // inclusive pixel edges
    int pageW = 0, pageH = 0;
};

// Rasterises page 1 at `dpi` (72: one pixel per point) and finds the pixels
// that are not white.
Box Measure(const fs::path& pdf, const fs::path& work, int dpi = 72)
{
    Box b;
    const fs::path prefix = work / "page";
    const std::string cmd = "pdftoppm -r " + std::to_string(dpi) + " -singlefile '" + pdf.string() + "' '" +
                            prefix.string() + "'";
    if (std::system(cmd.c_str()) != 0)
        return b;
    std::ifstream in(prefix.string() + ".ppm", std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> b.pageW >> b.pageH >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255 || b.pageW <= 0 || b.pageH <= 0 || b.pageW > 5000 || b.pageH > 5000)
        return Box{};
    std::vector<unsigned char> px(size_t(b.pageW) * size_t(b.pageH) * 3);
    in.read(reinterpret_cast<char*>(px.data()), std::streamsize(px.size()));
    for (int y = 0; y < b.pageH; ++y)
        for (int x = 0; x < b.pageW; ++x) {
            const unsigned char* p = &px[(size_t(y) * size_t(b.pageW) + size_t(x)) * 3];
            if (p[0] > 240 && p[1] > 240 && p[2] > 240)
                continue;
            if (b.left < 0 || x < b.left) b.left = x;
            if (x > b.right) b.right = x;
            if (b.top < 0 || y < b.top) b.top = y;
            if (y > b.bottom) b.bottom = y;
        }
    return b;
}

int PdfPages(const fs::path& pdf)
{
    const std::string cmd = "pdfinfo '" + pdf.string() + "' 2>/dev/null";
    FILE* f = ::popen(cmd.c_str(), "r");
    if (!f)
        return -1;
    char line[512];
    int pages = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "Pages: %d", &pages) == 1)
            break;
    ::pclose(f);
    return pages;
}

std::vector<std::string> Names(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

} // namespace

TEST(PrintJob, PdfPageHoldsThePictureWhereThePreviewPutsIt)
{
    viewertest::PrivateSettings();
    Folder dir;
    QPrinter printer(QPrinter::HighResolution);
    LetterPdf(printer);
    ASSERT_EQ(PrintablePage(printer).Width, 2250);
    ASSERT_EQ(PrintablePage(printer).Height, 3000);
    Picture pic(200, 100);

    struct Case {
        const char* name;
        TPrintOptions options;
        // Expected rectangle in points: 36 + device pixels * 72 / 300.
        double left, top, width, height;
    };
    TPrintOptions full;   // full page, ratio kept, centred: 2250 x 1125 at (0, 937)
    TPrintOptions user;   // user-defined 50 % x 50 %, centred: 1125 x 1500 at (562, 750)
    user.UseFull = false;
    user.KeepRatio = false;
    TPrintOptions corner = user;   // not centred, 100 % x 10 %: 2250 x 300 at (0, 0)
    corner.Centred = false;
    corner.Breite = 100;
    corner.Hoehe = 10;
    const Case cases[] = {
        {"full.pdf", full, 36, 36 + 937 * 0.24, 540, 270},
        {"user.pdf", user, 36 + 562 * 0.24, 36 + 750 * 0.24, 270, 360},
        {"corner.pdf", corner, 36, 36, 540, 72},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedResponder r;
        TResponderScope scope(r);
        const fs::path target = dir.path / c.name;
        r.AnswerFile(target.string());
        ASSERT_TRUE(PrintPictureJob(printer, pic.dib, c.options));
        ASSERT_EQ(r.Asked().size(), 1u);
        EXPECT_EQ(r.Asked()[0].Kind, TAskKind::SaveFile);
        EXPECT_EQ(PdfPages(target), 1);
        const Box b = Measure(target, dir.path);
        EXPECT_EQ(b.pageW, 612);
        EXPECT_EQ(b.pageH, 792);
        // One point of slack for the rasteriser's edge pixels.
        EXPECT_NEAR(b.left, c.left, 1.0);
        EXPECT_NEAR(b.top, c.top, 1.0);
        EXPECT_NEAR(b.right + 1 - b.left, c.width, 1.5);
        EXPECT_NEAR(b.bottom + 1 - b.top, c.height, 1.5);
        // The printer asks again next time: the file was the job's, not the printer's.
        EXPECT_TRUE(printer.outputFileName().isEmpty());
    }
}

TEST(PrintJob, KeptRatioPrintsTheEnteredWidthInThePicturesProportions)
{
    viewertest::PrivateSettings();
    Folder dir;
    QPrinter printer(QPrinter::HighResolution);
    LetterPdf(printer);
    Picture pic(400, 300);
    TPrintOptions small;
    small.UseFull = false;
    small.Breite = 5;
    small.Hoehe = 3;   // what the dialog shows: 2.8 rounded
    TScriptedResponder r;
    TResponderScope scope(r);
    const fs::path target = dir.path / "klein.pdf";
    r.AnswerFile(target.string());
    ASSERT_TRUE(PrintPictureJob(printer, pic.dib, small));
    // At the printer's own 300 dpi: 5 % of 2250 is 112.5, to the even 112; the
    // height 112 * 3 / 4 = 84 (3 % of the page would be 90, 2 % 60).
    const Box b = Measure(target, dir.path, 300);
    ASSERT_EQ(b.pageW, 2550);
    const int w = b.right + 1 - b.left, h = b.bottom + 1 - b.top;
    EXPECT_NEAR(w, 112, 1);
    EXPECT_NEAR(h, 84, 1);
    EXPECT_NEAR(double(w) / h, 4.0 / 3.0, 0.03);
}

TEST(PrintJob, CancelledFileChoicePrintsNothingAndAnExistingFileNeedsConsent)
{
    viewertest::PrivateSettings();
    Folder dir;
    QPrinter printer(QPrinter::HighResolution);
    LetterPdf(printer);
    Picture pic(20, 10);
    TScriptedResponder r;
    TResponderScope scope(r);

    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(PrintPictureJob(printer, pic.dib, TPrintOptions{}));
    EXPECT_TRUE(Names(dir.path).empty());

    // A file of the user's under the chosen name: "No" asks for another name,
    // and cancelling then leaves the old file exactly as it was.
    const fs::path mine = dir.path / "mine.pdf";
    { std::ofstream(mine) << "keep me"; }
    r.AnswerFile(mine.string());
    r.AnswerMessage(mrNo);
    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(PrintPictureJob(printer, pic.dib, TPrintOptions{}));
    std::stringstream kept;
    kept << std::ifstream(mine).rdbuf();
    EXPECT_EQ(kept.str(), "keep me");
    EXPECT_EQ(Names(dir.path), std::vector<std::string>{"mine.pdf"});

    // "Yes" replaces it with a complete PDF and leaves no temporary file behind.
    r.AnswerFile(mine.string());
    r.AnswerMessage(mrYes);
    EXPECT_TRUE(PrintPictureJob(printer, pic.dib, TPrintOptions{}));
    EXPECT_EQ(PdfPages(mine), 1);
    EXPECT_EQ(Names(dir.path), std::vector<std::string>{"mine.pdf"});
    EXPECT_EQ(r.Unanswered(), 0);
}

TEST(PrintJob, FileChosenInTheSetUpIsUsedWithoutAsking)
{
    viewertest::PrivateSettings();
    Folder dir;
    QPrinter printer(QPrinter::HighResolution);
    LetterPdf(printer);
    const fs::path chosen = dir.path / "gewaehlt.pdf";
    TScriptedResponder r;
    TResponderScope scope(r);
    r.AnswerPrinterSetup([&](QPrinter& p) {
        p.setOutputFileName(QString::fromStdString(chosen.string()));
        return true;
    });
    ASSERT_TRUE(Responder().PrinterSetup(printer));
    Picture pic(20, 10);
    EXPECT_TRUE(PrintPictureJob(printer, pic.dib, TPrintOptions{}));
    EXPECT_EQ(PdfPages(chosen), 1);
    EXPECT_EQ(r.Asked().size(), 1u);   // only the set-up
    EXPECT_EQ(printer.outputFileName().toStdString(), chosen.string());
    // A folder that cannot take the file: nothing printed, nothing claimed.
    printer.setOutputFileName(QString::fromStdString((dir.path / "fehlt" / "x.pdf").string()));
    EXPECT_FALSE(PrintPictureJob(printer, pic.dib, TPrintOptions{}));
}

TEST(PrintJob, APrintoutIsAnOrdinaryFileAndAnEarlierOneUnderTheSetUpsNameIsReplacedOnlyWithConsent)
{
    viewertest::PrivateSettings();
    Folder dir;
    const mode_t oldMask = ::umask(022);
    QPrinter printer(QPrinter::HighResolution);
    LetterPdf(printer);
    const fs::path chosen = dir.path / "setup.pdf";
    printer.setOutputFileName(QString::fromStdString(chosen.string()));
    TScriptedResponder r;
    TResponderScope scope(r);
    auto modeOf = [](const fs::path& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
    };
    auto bytesOf = [](const fs::path& p) {
        std::stringstream s;
        s << std::ifstream(p, std::ios::binary).rdbuf();
        return s.str();
    };

    // The first printout under that name: no question, and readable as any new file.
    Picture small(20, 10);
    ASSERT_TRUE(PrintPictureJob(printer, small.dib, TPrintOptions{}));
    EXPECT_TRUE(r.Asked().empty());
    EXPECT_EQ(modeOf(chosen), mode_t(0644));
    const std::string first = bytesOf(chosen);

    // The next one would replace it: "No" offers the file dialog at that
    // name, and cancelling it leaves the first printout as it was.
    Picture large(200, 100);
    r.AnswerMessage(mrNo);
    r.AnswerFile(std::nullopt);
    EXPECT_FALSE(PrintPictureJob(printer, large.dib, TPrintOptions{}));
    ASSERT_EQ(r.Asked().size(), 2u);
    EXPECT_EQ(r.Asked()[0].Kind, TAskKind::Message);
    EXPECT_EQ(r.Asked()[1].Kind, TAskKind::SaveFile);
    EXPECT_EQ(bytesOf(chosen), first);
    EXPECT_EQ(Names(dir.path), std::vector<std::string>{"setup.pdf"});

    // "Yes" replaces it; a file the user had made private stays private.
    ASSERT_EQ(::chmod(chosen.c_str(), 0600), 0);
    r.AnswerMessage(mrYes);
    EXPECT_TRUE(PrintPictureJob(printer, large.dib, TPrintOptions{}));
    EXPECT_NE(bytesOf(chosen), first);
    EXPECT_EQ(PdfPages(chosen), 1);
    EXPECT_EQ(modeOf(chosen), mode_t(0600));
    EXPECT_EQ(Names(dir.path), std::vector<std::string>{"setup.pdf"});
    EXPECT_EQ(r.Unanswered(), 0);
    ::umask(oldMask);
}
