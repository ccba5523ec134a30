#include "win32/force_size_dlg.h"

#include "win32/resource.h"

CForceSizeDlg::CForceSizeDlg(uint32_t sectors, CRecoveryEngine* engine)
    : CDialog(IDD_FORCESIZE), fields(sectors), engine_(engine)
{
}

BOOL CForceSizeDlg::OnInitDialog()
{
    for (const char* name : kSourceNames) SendItem(IDC_SIZE_SOURCE, CB_ADDSTRING, 0, LPARAM(name));
    SendItem(IDC_SIZE_SOURCE, CB_SETCURSEL, kSourceDriveReported);
    SendItem(IDC_SIZE_SECTORS, EM_LIMITTEXT, kSectorsFieldLimit);
    SendItem(IDC_SIZE_MB, EM_LIMITTEXT, kMegabytesFieldLimit);
    ShowFields();
    SetItemText(IDC_SIZE_DETAIL, "");
    return TRUE;
}

void CForceSizeDlg::ShowFields()
{
    SetItemText(IDC_SIZE_SECTORS, fields.SectorsText().c_str());
    SetItemText(IDC_SIZE_MB, fields.MegabytesText().c_str());
}

void CForceSizeDlg::OnSourceChanged()
{
    int index = int(SendItem(IDC_SIZE_SOURCE, CB_GETCURSEL));
    EnableItem(IDC_SIZE_SECTORS, false);
    EnableItem(IDC_SIZE_MB, false);
    bool editable = fields.ChooseSource(index, [this](int choice, std::string* detail) {
        char text[kSizeDetailBuffer] = "";
        uint32_t sectors = engine_->SizeBySource(choice, text, hwnd_);
        *detail = text;
        return sectors;
    });
    if (editable) {
        EnableItem(IDC_SIZE_SECTORS, true);
        EnableItem(IDC_SIZE_MB, true);
    } else {
        SetItemText(IDC_SIZE_DETAIL, fields.detail.c_str());
    }
    ShowFields();
}

bool CForceSizeDlg::OnCommand(int id, int code)
{
    switch (id) {
    case IDC_SIZE_SOURCE:
        if (code == CBN_SELCHANGE) OnSourceChanged();
        return true;
    case IDC_SIZE_SECTORS:
        if (code == EN_SETFOCUS) fields.FocusSectors();
        if (code == EN_UPDATE) {
            SendItem(IDC_SIZE_SECTORS, EM_LIMITTEXT, kSectorsFieldLimit);
            if (fields.SectorsTextChanged(ItemText(IDC_SIZE_SECTORS, kFieldReadLimit)))
                SetItemText(IDC_SIZE_MB, fields.MegabytesText().c_str());
        }
        return true;
    case IDC_SIZE_MB:
        if (code == EN_SETFOCUS) fields.FocusMegabytes();
        if (code == EN_UPDATE) {
            SendItem(IDC_SIZE_MB, EM_LIMITTEXT, kMegabytesFieldLimit);
            if (fields.MegabytesTextChanged(ItemText(IDC_SIZE_MB, kFieldReadLimit)))
                SetItemText(IDC_SIZE_SECTORS, fields.SectorsText().c_str());
        }
        return true;
    default:
        return false;
    }
}
