// TViewPicForm: the picture viewer, shown modally from the browser. The
// browser fills ViewPicture and ViewFileName before ShowModal and frees its
// picture afterwards; the viewer never frees that one. Paging to the next or
// previous picture of the folder loads pictures of the viewer's own, which
// it frees when it pages on or its window goes away.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "raster/Rasterwerk.h"
#include "ui/Form.h"

class TPanel;
class TLabel;
class TSpinEdit;
class TScrollBox;
class TPaintBox;

class TViewPicForm : public TForm {
public:
    TViewPicForm();
    ~TViewPicForm() override;

    raster::DibHandle ViewPicture;
    std::string ViewFileName;
    // Told the path of each picture paging brings on show (the browser moves
    // its selection along).
    std::function<void(const std::string& path)> OnPictureChanged;
    bool PaintSuspended = false;
    bool Dragging = false;

    TPanel* Panel5;
    TButton* ReadyBtn;
    TButton* PrintBrn;
    TButton* OpenBtn;
    TLabel* Label1;
    TSpinEdit* ZoomEd;
    TScrollBox* ScrollBox1;
    TPaintBox* PaintBox1;

    void PaintBox1Paint();
    void ZoomEdChange();
    void PaintBox1MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    void PaintBox1MouseMove(TShiftState Shift, int X, int Y);
    void PaintBox1MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    void PrintBrnClick();
    void OpenBtnClick();
    // Esc closes; + and - step the zoom, 0 fits the picture into the
    // window; Page Down and Space show the next picture of the folder, Page
    // Up and Backspace the one before.
    void FormKeyDown(Word& Key, TShiftState Shift);
    // Ctrl and the wheel step the zoom.
    void ScrollBox1MouseWheel(TShiftState Shift, int WheelDelta, bool& Handled);
    void FormShow();
    void FormHide();

    // The zoom one step of ZoomEd up (steps > 0) or down.
    void StepZoom(int steps);
    // The largest zoom at which the whole picture fits into the view.
    void FitZoom();
    // Shows the picture `step` places on in the folder's order, passing over
    // files that cannot be opened; false at either end of the folder.
    bool ShowNeighbour(int step);

    // Pictures drawn so far (tests and the benchmark count draws per zoom step).
    long DrawCount() const { return drawCount_; }

private:
    // The title names the file, its size in pixels and the zoom.
    void UpdateCaption();
    // Puts a picture the viewer loaded itself on show, freeing the one before.
    void TakePicture(const raster::DibHandle& picture, const std::string& path);
    void ReleaseOwnPicture();

    // The picture loaded by paging, or none.
    raster::DibHandle ownPicture_;
    // Wheel turns below one notch (fine-grained wheels and touch pads), kept until they make one.
    int wheelRest_ = 0;
    // The press, in the scroll box's view (a frame that stays put while the
    // picture moves under the pointer), and the scroll positions then.
    int pressX_ = 0, pressY_ = 0;
    int pressHorz_ = 0, pressVert_ = 0;
    long drawCount_ = 0;
};

// The pictures of `folder` (ending in "/"): names of files with the
// extension of a picture type, in the order the browser shows them.
std::vector<std::string> FolderPictures(const std::string& folder);

extern TViewPicForm* ViewPicForm;
