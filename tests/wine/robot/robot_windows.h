// The robot's hands and eyes: finding another program's windows and reading
// or operating its controls through window messages only, as a person would.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A visible top-level window whose title equals `title` (or starts with it,
// with `prefix`); nullptr when there is none.
HWND FindTopWindow(const std::string& title, bool prefix);
// Waits up to `ms` for such a window.
HWND WaitTopWindow(const std::string& title, bool prefix, DWORD ms);

// Lets the window's thread finish the message in hand (WM_NULL, sent).
void Settle(HWND window);

std::string WindowText(HWND window);
bool SetWindowTextTo(HWND window, const std::string& text);
// List box or combo box lines, read with the wide-character messages.
std::vector<std::string> ListLines(HWND list);
std::vector<std::string> ComboLines(HWND combo);
int ComboSelection(HWND combo);

// A click as a person could make it: only on a visible, enabled control.
// Returns false (and clicks nothing) otherwise.
// Whether a person could click it: visible, and neither it nor its window disabled.
bool Clickable(HWND control);
bool Click(HWND control);
bool IsChecked(HWND control);
// Chooses entry `index` of a drop-down list and tells its owner, as a
// selection by the user does.
bool ChooseComboEntry(HWND combo, int index);
