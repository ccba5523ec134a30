// A small modal dialog class: one dialog procedure that hands every message to
// the object behind the window, plus helpers for the controls.
//
// Subclasses override HandleMessage; OK and Cancel end the dialog unless
// OnOK/OnCancel say otherwise. Values move between controls and plain structs
// in the subclasses, never through HWNDs kept elsewhere.
#pragma once
#include <windows.h>

#include <string>

class CDialog {
public:
    explicit CDialog(int resourceId) : resourceId_(resourceId) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; IDOK, IDCANCEL or -1 when it could not be created.
    INT_PTR DoModal(HWND parent);
    HWND Handle() const { return hwnd_; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // A WM_COMMAND other than IDOK/IDCANCEL; true when handled.
    virtual bool OnCommand(int /*id*/, int /*code*/) { return false; }
    virtual void OnOK() { EndDialog(hwnd_, IDOK); }
    virtual void OnCancel() { EndDialog(hwnd_, IDCANCEL); }
    // Any message; set *handled and return the dialog procedure's result.
    virtual INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool* handled);

    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    std::string ItemText(int id, int maxChars = 260) const;
    void SetItemText(int id, const char* text) { SetDlgItemTextA(hwnd_, id, text); }
    void EnableItem(int id, bool on) { EnableWindow(Item(id), on ? TRUE : FALSE); }
    bool IsChecked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }
    void SetChecked(int id, bool on) { CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); }
    LRESULT SendItem(int id, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendDlgItemMessageA(hwnd_, id, msg, wParam, lParam);
    }

    HWND hwnd_ = nullptr;

private:
    static INT_PTR CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    int resourceId_;
};
