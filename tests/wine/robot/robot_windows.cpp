#include "robot_windows.h"

namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr int kTextMax = 1024;
constexpr DWORD kPollMs = 50;

std::string Narrow(const wchar_t* text)
{
    char buffer[kTextMax * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

struct FindRequest {
    std::string title;
    bool prefix;
    HWND found;
};

BOOL CALLBACK MatchTop(HWND window, LPARAM param)
{
    auto* request = reinterpret_cast<FindRequest*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    std::string text = WindowText(window);
    bool match = request->prefix ? text.compare(0, request->title.size(), request->title) == 0 : text == request->title;
    if (!match) return TRUE;
    request->found = window;
    return FALSE;
}

LRESULT SendWithTimeout(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) return -1;
    return LRESULT(result);
}

}  // namespace

HWND FindTopWindow(const std::string& title, bool prefix)
{
    FindRequest request{title, prefix, nullptr};
    EnumWindows(MatchTop, LPARAM(&request));
    return request.found;
}

HWND WaitTopWindow(const std::string& title, bool prefix, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND w = FindTopWindow(title, prefix)) return w;
        if (GetTickCount() - start >= ms) return nullptr;
        Sleep(kPollMs);
    }
}

void Settle(HWND window) { SendWithTimeout(window, WM_NULL, 0, 0); }

std::string WindowText(HWND window)
{
    wchar_t text[kTextMax] = L"";
    if (SendWithTimeout(window, WM_GETTEXT, kTextMax, LPARAM(text)) < 0) return "";
    return Narrow(text);
}

bool SetWindowTextTo(HWND window, const std::string& text)
{
    wchar_t wide[kTextMax] = L"";
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, kTextMax);
    return SendWithTimeout(window, WM_SETTEXT, 0, LPARAM(wide)) >= 0;
}

namespace {

// The items of a list box or a combo box, through the control's own count,
// length and text messages.
std::vector<std::string> ItemLines(HWND control, UINT countMsg, UINT lengthMsg, UINT textMsg)
{
    std::vector<std::string> lines;
    LRESULT count = SendWithTimeout(control, countMsg, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[kTextMax] = L"";
        if (SendWithTimeout(control, lengthMsg, WPARAM(i), 0) >= kTextMax) continue;
        SendWithTimeout(control, textMsg, WPARAM(i), LPARAM(text));
        lines.push_back(Narrow(text));
    }
    return lines;
}

}  // namespace

std::vector<std::string> ListLines(HWND list)
{
    return ItemLines(list, LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

std::vector<std::string> ComboLines(HWND combo)
{
    return ItemLines(combo, CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

int ComboSelection(HWND combo) { return int(SendWithTimeout(combo, CB_GETCURSEL, 0, 0)); }

bool Clickable(HWND control)
{
    // Under wine BM_CLICK runs the handler even on a disabled button, or on
    // one in a window that a modal dialog it owns has disabled.
    return control && IsWindowVisible(control) && IsWindowEnabled(control) &&
           IsWindowEnabled(GetAncestor(control, GA_ROOT));
}

bool Click(HWND control)
{
    if (!control) return false;
    Settle(GetParent(control));
    if (!Clickable(control)) return false;
    // Posted: a click that closes a modal dialog must not be waited for.
    return PostMessageW(control, BM_CLICK, 0, 0) != 0;
}

bool IsChecked(HWND control) { return SendWithTimeout(control, BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool ChooseComboEntry(HWND combo, int index)
{
    if (!combo || !IsWindowVisible(combo) || !IsWindowEnabled(combo)) return false;
    if (SendWithTimeout(combo, CB_SETCURSEL, WPARAM(index), 0) != index) return false;
    HWND owner = GetParent(combo);
    int id = GetDlgCtrlID(combo);
    return PostMessageW(owner, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), LPARAM(combo)) != 0;
}
