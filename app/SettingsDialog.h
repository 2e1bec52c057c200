// TSettingsForm: "Einstellungen", the modal dialog for the user's settings
// that options.dat has no room for (network, scan bounds and rules). OK
// checks every value, keeps them in the user's settings and hands them to the
// main window at once; Abbrechen changes nothing.
#pragma once

#include <string>

#include "ui/Form.h"

class TMainForm;

class TSettingsForm : public TForm {
public:
    TSettingsForm();

    TEdit* ConnectionsEdit;
    TCheckBox* KeepAliveCheck;
    TEdit* IdleEdit;
    TEdit* CaFileEdit;
    TButton* CaFileBtn;
    TCheckBox* NoCheckCertCheck;
    TLabel* NoCheckWarning;
    TEdit* MaxPagesEdit;
    TEdit* MaxLevelEdit;
    TCheckBox* ModernBox;
    TCheckBox* NoParentCheck;
    TButton* OkBtn;
    TButton* CancelBtn;

    // Fills the fields with what the window uses now.
    void Load(TMainForm& form);
    // The window the values go to on OK.
    TMainForm* Target = nullptr;

    void OkBtnClick();
    void CaFileBtnClick();
    void NoCheckCertCheckClick();

private:
    // Empty when every field holds a usable value; else the message naming
    // the first field that does not, which then gets the focus.
    std::string Check();
};
