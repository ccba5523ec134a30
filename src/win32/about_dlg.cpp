#include "win32/about_dlg.h"

#include <shellapi.h>

#include "ui/logic/readme.h"
#include "win32/resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

bool CAboutDlg::OnCommand(int id, int code)
{
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_VIEW_README: {
        CReadMeDlg readMe;
        readMe.DoModal(hwnd_);
        return true;
    }
    case IDC_HOMEPAGE:
        // No browser or mail program: nothing is shown.
        ShellExecuteA(nullptr, "open", kAuthorHomePage, nullptr, nullptr, SW_SHOW);
        return true;
    case IDC_SEND_EMAIL:
        ShellExecuteA(nullptr, "open", kAuthorMailTo, nullptr, nullptr, SW_SHOW);
        return true;
    default:
        return false;
    }
}

CReadMeDlg::CReadMeDlg() : CDialog(IDD_README) {}

BOOL CReadMeDlg::OnInitDialog()
{
    for (int i = 0; ReadMeLines[i]; ++i) SendItem(IDC_README_LIST, LB_ADDSTRING, 0, LPARAM(ReadMeLines[i]));
    return TRUE;
}
