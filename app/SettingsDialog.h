// TSettingsForm: "Einstellungen", the modal dialog for the user's settings
// that options.dat has no room for (network, scan bounds and rules). OK
// checks every value, keeps them in the user's settings and hands them to the
// main window at once; Abbrechen changes nothing.
#pragma once

#include <string>

#include "engine/CookieFile.h"

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
    // Second column: which pictures, and how politely to fetch them.
    TCheckBox* SkipThumbnailsCheck;
    TEdit* MinSizeEdit;
    TEdit* MinBytesEdit;
    TCheckBox* SkipDuplicatesCheck;
    TEdit* WaitEdit;
    TCheckBox* RandomWaitCheck;
    TEdit* LimitRateEdit;
    TCheckBox* RobotsCheck;
    TEdit* UserAgentEdit;
    TEdit* CookieFileEdit;
    TButton* CookieFileBtn;
    TButton* OkBtn;
    TButton* CancelBtn;

    // Fills the fields with what the window uses now.
    void Load(TMainForm& form);
    // The window the values go to on OK.
    TMainForm* Target = nullptr;

    void OkBtnClick();
    void CaFileBtnClick();
    void CookieFileBtnClick();
    void NoCheckCertCheckClick();

private:
    // Empty when every field holds a usable value; else the message naming
    // the first field that does not, which then gets the focus.
    std::string Check();
    // The cookies of the file CookieFileEdit names, read by Check.
    TCookieJar cookies_;
};
