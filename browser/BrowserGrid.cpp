// The thumbnail grid of the browser window: painting, selection, the
// commands on the selected picture and the progress panel.
#include "browser/BrowserFUnit.h"

// system
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

// Qt
#include <QApplication>
#include <QFontMetrics>

// ours
#include "raster/DibDraw.h"
#include "ui/Canvas.h"
#include "ui/DibImage.h"
#include "ui/Responder.h"
#include "ui/ScrollBox.h"
#include "ui/Trash.h"
#include "viewer/ViewPicFUnit.h"

using namespace raster;

int TBrowserForm::Columns() const
{
    return std::max(1, PaintBox1->Width() / CellWidth);
}

std::string TBrowserForm::InfoText() const
{
    if (Selected > ThumbCount || Selected < 1)
        return "Bild: keins   ";
    const ThumbInfo& i = ThumbInfos[static_cast<size_t>(Selected - 1)];
    const std::string position = " (" + std::to_string(Selected) + " von " + std::to_string(ThumbCount) + ")";
    if (!Thumbs[static_cast<size_t>(Selected - 1)].Bits)
        return "Bild nicht lesbar " + position;
    return "Thumbnail: " + std::to_string(i.PictureWidth) + " x " + std::to_string(i.PictureHeight) + " x " +
           std::to_string(i.ColorCount) + " - " + std::to_string(i.SizeKB) + " KByte " + " (" +
           std::to_string(Selected) + " von " + std::to_string(ThumbCount) + ")";
}

void TBrowserForm::FitGrid()
{
    const int width = ScrollBox1->ClientWidth();
    if (PaintBox1->Width() != width)
        PaintBox1->Width = width;
    const int height = (ThumbCount / Columns() + 1) * CellHeight;
    if (PaintBox1->Height() != height)
        PaintBox1->Height = height;
}

void TBrowserForm::ShowInfo()
{
    const std::string info = InfoText();
    if (StatusBar->Panels[1].Text != info) {
        StatusBar->Panels[1].Text = info;
        StatusBar->Repaint();
    }
}

void TBrowserForm::Paint()
{
    FitGrid();
    if (PaintFrom > 0) {
        // A new cell is drawn at once, straight into what is shown; should a
        // whole paint be due (a scroll, an earlier request), it follows anyway.
        PaintCells(PaintBox1->ClipRect());
    } else {
        // Whole-grid repaints are merged: at most one per displayed frame.
        PaintBox1->Invalidate();
    }
    ShowInfo();
}

void TBrowserForm::PaintBox1Paint()
{
    FitGrid();
    const TRect clip = PaintBox1->ClipRect();
    if (PaintFrom <= 0) {
        // The paint box covers the scroll box: what no cell covers shows the scroll box's colour.
        TCanvas& canvas = PaintBox1->Canvas();
        canvas.Brush.Color = ScrollBox1->Color();
        canvas.FillRect(clip);
    }
    PaintCells(clip);
    ShowInfo();
}

void TBrowserForm::PaintCells(const TRect& clip)
{
    // Only the cells that meet the area being painted: a folder of 100,000
    // pictures costs what the window shows.
    if (clip.Right <= clip.Left || clip.Bottom <= clip.Top || ThumbCount <= 0)
        return;
    const int cols = Columns();
    const LogPalette* palette =
        Selected >= 1 && Selected <= ThumbCount ? Thumbs[static_cast<size_t>(Selected - 1)].PaletteHandle : nullptr;
    const int row0 = std::max(0, clip.Top / CellHeight);
    const int row1 = std::max(0, (clip.Bottom - 1) / CellHeight);
    const int col0 = std::max(0, clip.Left / CellWidth);
    const int col1 = std::min(cols - 1, std::max(0, (clip.Right - 1) / CellWidth));
    for (int row = row0; row <= row1; ++row)
        for (int col = col0; col <= col1; ++col) {
            const long long k = static_cast<long long>(row) * cols + col + 1;
            if (k > ThumbCount)
                return;
            if (k >= PaintFrom)
                DrawCell(static_cast<int>(k), cols, palette);
        }
}

void TBrowserForm::DrawCell(int k, int cols, const LogPalette* palette)
{
    TCanvas& canvas = PaintBox1->Canvas();
    const int x = ((k - 1) % cols) * CellWidth;
    const int y = ((k - 1) / cols) * CellHeight;
    const DibHandle& thumb = Thumbs[static_cast<size_t>(k - 1)];
    const ThumbInfo& info = ThumbInfos[static_cast<size_t>(k - 1)];

    canvas.Pen.Color = clWhite;
    canvas.MoveTo(x + 2, y + 108);
    canvas.LineTo(x + 2, y + 2);
    canvas.LineTo(x + 88, y + 2);
    canvas.Pen.Color = clGray;
    canvas.LineTo(x + 88, y + 108);
    canvas.LineTo(x + 2, y + 108);

    int w = 80, h = info.ThumbWidth > 0 ? info.ThumbHeight * 80 / info.ThumbWidth : 80;
    if (h > 80) {
        h = 80;
        w = info.ThumbHeight > 0 ? info.ThumbWidth * 80 / info.ThumbHeight : 80;
    }
    const int px = x + 5 + (80 - w) / 2, py = y + 5 + (80 - h) / 2;
    const TColor back = k == Selected ? clBlue : clSilver;
    const std::string caption = CellCaption(ThumbNames[static_cast<size_t>(k - 1)]);
    if (!thumb.Bits) {
        // A file that could not be read: a grey square where its picture would be.
        canvas.Brush.Color = back;
        canvas.FillRect(TRect{x + 3, y + 3, x + 87, y + 107});
        canvas.Brush.Color = clGray;
        canvas.FillRect(TRect{x + 5, y + 5, x + 85, y + 85});
        canvas.Brush.Color = back;
        canvas.Pen.Color = clBlack;
        canvas.TextRect(TRect{x + 3, y + 90, x + 87, y + 110}, x + 3, y + 90, caption);
        return;
    }
    canvas.Brush.Color = back;
    canvas.FillRect(TRect{x + 3, y + 3, px, y + 107});
    canvas.FillRect(TRect{px, y + 3, px + w, py});
    canvas.FillRect(TRect{px, py + h, px + w, y + 107});
    canvas.FillRect(TRect{px + w, y + 3, x + 87, y + 107});
    const double ratio = PaintBox1->PixelRatio();
    if (ratio == 1) {
        DrawDibScaled(PaintBox1->DC(), px, py, w, h, thumb, 0, 0, DibWidth(thumb), DibHeight(thumb), true, SRCCOPY,
                      k == Selected, palette);
    } else if (ScreenBitsPerPixel() > 8) {
        // The thumbnail has fewer pixels than the screen gives the cell:
        // filtered, it is enlarged smoothly instead of in blocks.
        canvas.StretchDraw(TRect{px, py, px + w, py + h}, DibToImage(thumb));
    } else {
        // Palettes and halftones need the device context, which counts in screen pixels.
        auto device = [ratio](int v) { return static_cast<int32_t>(std::lround(v * ratio)); };
        DrawDibScaled(PaintBox1->DC(), device(px), device(py), device(px + w) - device(px),
                      device(py + h) - device(py), thumb, 0, 0, DibWidth(thumb), DibHeight(thumb), true, SRCCOPY,
                      k == Selected, palette);
    }
    canvas.Brush.Color = back;
    canvas.Pen.Color = clBlack;  // the text colour
    canvas.TextRect(TRect{x + 3, y + 90, x + 87, y + 110}, x + 3, y + 90, caption);
}

std::string TBrowserForm::CellCaption(const std::string& name) const
{
    // A name wider than the cell ends in "…", so the user sees it goes on.
    const QFontMetrics metrics(QApplication::font());
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    return metrics.elidedText(text, Qt::ElideRight, 84).toStdString();
}

void TBrowserForm::PaintBox1MouseDown(TMouseButton, TShiftState, int X, int Y)
{
    KeyEdit->SetFocus();
    const int cols = Columns();
    const int col = X / CellWidth, row = Y / CellHeight;
    if (X < 0 || Y < 0 || col >= cols)
        return;
    const int x = col * CellWidth, y = row * CellHeight;
    const long long k = static_cast<long long>(row) * cols + col + 1;
    // Frames do not overlap, so the cell under the point is the only candidate.
    if (k > ThumbCount || X < x + 2 || X > x + 88 || Y < y + 2 || Y > y + 108)
        return;
    Selected = static_cast<int>(k);
    EnsureVisible();
    Paint();
}

void TBrowserForm::ScrollBox1MouseDown(TMouseButton, TShiftState, int, int)
{
    KeyEdit->SetFocus();
}

void TBrowserForm::PaintBox1MouseMove(TShiftState, int, int)
{
    ShowInfo();
}

void TBrowserForm::ScrollBox1MouseMove(TShiftState s, int x, int y)
{
    PaintBox1MouseMove(s, x, y);
}

void TBrowserForm::DirectoryListBox1MouseMove(TShiftState s, int x, int y)
{
    PaintBox1MouseMove(s, x, y);
}

void TBrowserForm::EnsureVisible()
{
    // The scroll range must already cover the grid the selection lies in.
    FitGrid();
    const int cols = Columns();
    const int top = ((Selected - 1) / cols) * CellHeight + 2;
    const int bottom = top + 106;
    const int pos = ScrollBox1->VertScrollBar.Position();
    if (top < pos)
        ScrollBox1->VertScrollBar.Position = top;
    else if (bottom > pos + ScrollBox1->ClientHeight())
        ScrollBox1->VertScrollBar.Position = bottom - ScrollBox1->ClientHeight();
}

void TBrowserForm::PaintBox1DblClick()
{
    Open();
}

void TBrowserForm::Open()
{
    if (Selected >= 1 && Selected <= ThumbCount)
        ShowPicture(IncludeBackslash(SelectedFolder()) + ThumbNames[static_cast<size_t>(Selected - 1)]);
}

void TBrowserForm::ShowPicture(const std::string& path)
{
    DibHandle picture;
    OpenDib(picture, path.c_str(), dtAuto, this);
    if (ViewPicForm) {
        ViewPicForm->ViewPicture = picture;
        ViewPicForm->ViewFileName = path;
    }
    if (!picture.Bits) {
        MessageDlg("Konnte die Bilddatei nicht öffnen!", "Fehler", TMsgIcon::Error, mbOK);
        return;
    }
    if (ViewPicForm) {
        // Paging in the viewer takes the selection along, so the grid shows
        // the picture the user stopped at.
        ViewPicForm->OnPictureChanged = [this](const std::string& shown) {
            const std::string name = shown.substr(shown.rfind('/') + 1);
            for (int k = 0; k < ThumbCount; ++k)
                if (ThumbNames[static_cast<size_t>(k)] == name) {
                    Selected = k + 1;
                    EnsureVisible();
                    Paint();
                    break;
                }
        };
        ViewPicForm->ShowModal();
        ViewPicForm->OnPictureChanged = nullptr;
    }
    deldib(picture);
    // The viewer's copy would point at freed memory.
    if (ViewPicForm)
        ViewPicForm->ViewPicture = DibHandle();
}

void TBrowserForm::Delete()
{
    // The question names the file and where it goes, so nobody answers blind.
    std::string text = "Wollen Sie die markierte Datei wirklich löschen?";
    if (Selected >= 1 && Selected <= ThumbCount)
        text += "\n\n" + ThumbNames[static_cast<size_t>(Selected - 1)] + " wird in den Papierkorb verschoben.";
    if (MessageDlg(text, "Löschen", TMsgIcon::Question, mbYes | mbNo) != mrYes)
        return;
    if (Selected < 1 || Selected > ThumbCount)
        return;
    const std::string path = IncludeBackslash(SelectedFolder()) + ThumbNames[static_cast<size_t>(Selected - 1)];
    struct stat st {};
    const bool gone = ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
    // A file that did not reach the trash is still there: its thumbnail stays
    // too. One that is gone already only leaves its thumbnail.
    if (!gone && !MoveToTrash(path)) {
        MessageDlg("Konnte die Datei nicht in den Papierkorb verschieben!", "Fehler", TMsgIcon::Error, mbOK);
        return;
    }
    RemoveThumb(Selected - 1);
    if (Selected > ThumbCount)
        Selected = ThumbCount;
    if (Selected < 1)
        Selected = 1;
    Paint();
}

void TBrowserForm::KeyEditKeyDown(Word& Key, TShiftState)
{
    const int cols = Columns();
    switch (Key) {
    case VK_UP:
        if (Selected - cols >= 1)
            Selected -= cols;
        break;
    case VK_DOWN:
        if (Selected + cols <= ThumbCount)
            Selected += cols;
        break;
    case VK_LEFT:
        if (Selected >= 2)
            Selected -= 1;
        break;
    case VK_RIGHT:
        if (Selected + 1 <= ThumbCount)
            Selected += 1;
        break;
    case VK_HOME:
        if (ThumbCount >= 1)
            Selected = 1;
        break;
    case VK_END:
        if (ThumbCount >= 1)
            Selected = ThumbCount;
        break;
    case VK_PRIOR:
    case VK_NEXT: {
        if (ThumbCount < 1)
            break;
        // A page is the rows the grid shows whole, at least one.
        const int rows = std::max(1, ScrollBox1->ClientHeight() / CellHeight);
        const long long step = static_cast<long long>(rows) * cols;
        const long long target = Key == VK_PRIOR ? Selected - step : Selected + step;
        Selected = static_cast<int>(std::clamp<long long>(target, 1, ThumbCount));
        break;
    }
    case VK_DELETE:
        if (Selected >= 1 && Selected <= ThumbCount)
            Delete();
        return;
    case VK_RETURN:
        if (Selected >= 1 && Selected <= ThumbCount)
            Open();
        return;
    default:
        return;
    }
    EnsureVisible();
    Paint();
}

// ---------------------------------------------------------------------------
// Progress panel

void TBrowserForm::StatusBarDrawPanel(TStatusBar& Bar, int Panel, const TRect& Rect)
{
    if (Panel != 0)
        return;
    TCanvas& canvas = Bar.Canvas();
    canvas.Brush.Color = clNavy;
    canvas.Pen.Color = clNavy;
    canvas.Rectangle(Rect.Left, Rect.Top, Rect.Left + (Rect.Right - Rect.Left) * ProgressPercent / 100, Rect.Bottom);
    ProgressRect = Rect;
}

void TBrowserForm::SBarPaintMore()
{
    TCanvas& canvas = StatusBar->Canvas();
    canvas.Brush.Color = clNavy;
    canvas.Pen.Color = clNavy;
    const TRect& r = ProgressRect;
    canvas.Rectangle(r.Left, r.Top, r.Left + (r.Right - r.Left) * ProgressPercent / 100, r.Bottom);
}

void TBrowserForm::SetProStatus(int percent)
{
    // A bar wider than its panel would paint over the information panel.
    percent = std::clamp(percent, 0, 100);
    if (percent == ProgressPercent)
        return;
    if (percent < ProgressPercent) {
        ProgressPercent = percent;
        StatusBar->Repaint();
    } else {
        ProgressPercent = percent;
        SBarPaintMore();
    }
}
