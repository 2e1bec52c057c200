// TViewPicForm: the picture viewer, shown modally from the browser.
#pragma once

#include <string>

#include "raster/Rasterwerk.h"
#include "ui/Form.h"

class TViewPicForm : public TForm {
public:
    TViewPicForm();

    // The picture to show and its path, set by the browser before ShowModal.
    raster::DibHandle ViewPicture;
    std::string ViewFileName;
};

extern TViewPicForm* ViewPicForm;
