// TViewPicForm: the picture viewer, shown modally from the browser. The
// browser fills ViewPicture and ViewFileName before ShowModal and frees the
// picture afterwards; the viewer never frees it.
#pragma once

#include <string>

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

    // Pictures drawn so far (tests and the benchmark count draws per zoom step).
    long DrawCount() const { return drawCount_; }

private:
    // The press, in the scroll box's view (a frame that stays put while the
    // picture moves under the pointer), and the scroll positions then.
    int pressX_ = 0, pressY_ = 0;
    int pressHorz_ = 0, pressVert_ = 0;
    long drawCount_ = 0;
};

extern TViewPicForm* ViewPicForm;
