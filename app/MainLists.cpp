// TMainForm: the found-image list (ListBox1) and the file-type list (ListBox2).
#include "app/MainUnit.h"

// ours
#include "app/AddTypeBtn.h"
#include "base/AsciiCase.h"
#include "app/MainFiles.h"
#include "engine/PageAddress.h"
#include "ui/StringListModel.h"


TStrings& TMainForm::FoundImageList()
{
    return ListBox1->Items();
}

TStrings& TMainForm::FileTypeList()
{
    return ListBox2->Items();
}

bool TMainForm::FoundImageListHas(const std::string& address) const
{
    return ListBox1->Model().HasKey(UpperAscii(AddressKey(address)));
}

bool TMainForm::AddFoundImage(const std::string& address)
{
    return ListBox1->Model().AppendNewKey(address);
}

void TMainForm::ListBoxChanged()
{
    const bool any = FoundImageList().Count() > 0;
    // The download buttons stay off while a job runs, so no download can start
    // inside a scan's wait.
    DownAllBtn->Enabled = any && !JobRunning;
    DownBtn->Enabled = any && !JobRunning;
    ClearBtn->Enabled = any;
    DelBtn->Enabled = any;
    MarkBtn->Enabled = any;
    NotBtn->Enabled = any;
}

void TMainForm::ClearBtnClick()
{
    FoundImageList().Clear();
    ListBoxChanged();
}

void TMainForm::DelBtnClick()
{
    // One pass removes every marked row; the others keep their order.
    ListBox1->Model().RemoveFlagged(ListBox1->SelectionFlags());
    ListBoxChanged();
}

void TMainForm::MarkBtnClick()
{
    ListBox1->SelectAll();
}

void TMainForm::NotBtnClick()
{
    ListBox1->ClearSelection();
}

void TMainForm::ListBox1KeyDown(Word& Key, TShiftState Shift)
{
    // Del does what the button beside the list does, and only when it may.
    if (Key == VK_DELETE && !(Shift & (ssCtrl | ssAlt | ssShift))) {
        DelBtn->Click();
        Key = 0;
        return;
    }
    if (!(Shift & ssCtrl))
        return;
    if (Key == 'A')
        ListBox1->SelectAll();
    else if (Key == 'D')
        ListBox1->ClearSelection();
}

void TMainForm::NewFTBtnClick()
{
    if (!AddTypeForm)
        return;
    AddTypeForm->Edit1->Text = "";
    if (AddTypeForm->ShowModal() != mrOk)
        return;
    FileTypeList().Add(AddTypeForm->Edit1->Text());
    SaveOptions();
}

void TMainForm::DelFTBtnClick()
{
    const int i = ListBox2->ItemIndex();
    if (i >= 0)
        FileTypeList().Delete(i);
    SaveOptions();
}
