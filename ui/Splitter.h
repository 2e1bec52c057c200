// A bar between two aligned controls that the user drags to share the space:
// it resizes the control it lies against (Control), which must have the same
// alignment (left, right, top or bottom) and be placed before it.
#pragma once

#include "ui/Controls.h"

class TSplitter : public TControl {
public:
    TSplitter(TWinControl* parent, std::string name);

    TControl* Control = nullptr;
    // The resized control is never made smaller than this.
    int MinSize = 30;
    TNotifyEvent OnMoved;

    // What dragging the bar by (dx, dy) pixels does.
    void DragBy(int dx, int dy);

private:
    friend class SplitterWidget;
    void SetCursorForAlign();
};
