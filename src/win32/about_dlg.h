// The About dialog (from the system menu) and the read-me dialog it opens.
#pragma once
#include "win32/dialog.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    bool OnCommand(int id, int code) override;
};

class CReadMeDlg : public CDialog {
public:
    CReadMeDlg();

protected:
    BOOL OnInitDialog() override;
};
