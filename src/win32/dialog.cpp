#include "win32/dialog.h"

#include <vector>

namespace {

// A dialog with an owner opens centred over it rather than at its corner.
void CenterOnOwner(HWND dialog)
{
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (!owner) return;
    RECT o, d;
    GetWindowRect(owner, &o);
    GetWindowRect(dialog, &d);
    int x = o.left + ((o.right - o.left) - (d.right - d.left)) / 2;
    int y = o.top + ((o.bottom - o.top) - (d.bottom - d.top)) / 2;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR CDialog::DoModal(HWND parent)
{
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId_), parent, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

std::string CDialog::ItemText(int id, int maxChars) const
{
    std::vector<char> buffer(size_t(maxChars) + 1, '\0');
    UINT n = GetDlgItemTextA(hwnd_, id, buffer.data(), maxChars + 1);
    return std::string(buffer.data(), n);
}

INT_PTR CDialog::HandleMessage(UINT msg, WPARAM wParam, LPARAM, bool* handled)
{
    *handled = false;
    if (msg != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDOK && code == BN_CLICKED) {
        OnOK();
        *handled = true;
    } else if (id == IDCANCEL && code == BN_CLICKED) {
        OnCancel();
        *handled = true;
    } else {
        *handled = OnCommand(id, code);
    }
    return TRUE;
}

INT_PTR CALLBACK CDialog::Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, LONG_PTR(self));
        self->hwnd_ = hwnd;
        CenterOnOwner(hwnd);
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self) return FALSE;
    bool handled = false;
    INT_PTR result = self->HandleMessage(msg, wParam, lParam, &handled);
    if (!handled) return FALSE;
    return result;
}
