// CForceSizeDlg: the Force Volume Size dialog. The fields and their rules are
// CForceSizeFields; this class only moves texts between them and the controls.
#pragma once
#include "engine/recovery_engine.h"
#include "ui/logic/force_size_fields.h"
#include "win32/dialog.h"

constexpr int kSizeDetailBuffer = 51;  // SizeBySource writes at most 50 characters

class CForceSizeDlg : public CDialog {
public:
    CForceSizeDlg(uint32_t sectors, CRecoveryEngine* engine);
    CForceSizeFields fields;

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int code) override;

private:
    void ShowFields();
    void OnSourceChanged();
    CRecoveryEngine* engine_;
};
