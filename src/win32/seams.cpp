#include "win32/seams.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "ui/logic/dialog_rules.h"

namespace {
constexpr UINT kForcedPowerOff = EWX_SHUTDOWN | EWX_FORCE;  // 5
constexpr DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;  // 0x28
constexpr DWORD kPathBuffer = MAX_PATH;

bool RequestPowerOff() { return ExitWindowsEx(kForcedPowerOff, 0) != 0; }
}  // namespace

void CWindowPoster::Post(unsigned msg, unsigned wParam, const char*)
{
    // A failed post (window gone, queue full) is ignored: the sender goes on.
    PostMessageA(window_, msg, wParam, 0);
}

int CWin32Prompt::MessageBox(const char* text, const char* caption, unsigned type)
{
    return ::MessageBoxA(nullptr, text, caption, type | MB_SETFOREGROUND);
}

bool CWin32Prompt::ChooseFile(const FileChoice& choice, std::string* path)
{
    char file[kPathBuffer] = "";
    std::strncpy(file, choice.defaultName.c_str(), kPathBuffer - 1);
    std::string filter = NulSeparatedFilter(choice.filter);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = static_cast<HWND>(choice.owner);
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = kPathBuffer;
    ofn.lpstrInitialDir = choice.initialDir.empty() ? nullptr : choice.initialDir.c_str();
    ofn.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | (choice.mustExist ? OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST : 0);
    if (!GetOpenFileNameA(&ofn)) return false;
    *path = file;
    return true;
}

bool CSystemPowerOff::ShutdownWindows()
{
    // Where the user already holds an enabled shutdown privilege no token is opened.
    if (RequestPowerOff()) return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), kTokenAccess, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // Also ERROR_NOT_ALL_ASSIGNED: the privilege is not the user's to enable.
    DWORD error = GetLastError();
    CloseHandle(token);
    if (error != 0) return false;
    return RequestPowerOff();
}

std::unique_ptr<IPowerOff> MakePowerOff()
{
#ifdef GLEANOR_TEST_SEAMS
    const char* marker = std::getenv(kPowerOffMarkerVariable);
    if (marker && *marker) return std::make_unique<CMarkerPowerOff>(marker);
#endif
    return std::make_unique<CSystemPowerOff>();
}

bool ChooseExtractFolder(HWND owner, std::string* path)
{
#ifdef GLEANOR_TEST_SEAMS
    const char* answer = std::getenv(kExtractFolderVariable);
    if (answer && *answer) {
        *path = answer;
        return true;
    }
#endif
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = L"Extract Files to";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST item = SHBrowseForFolderW(&info);
    if (!item) return false;
    wchar_t chosen[MAX_PATH] = L"";
    bool ok = SHGetPathFromIDListW(item, chosen) && chosen[0];
    CoTaskMemFree(item);
    if (!ok) return false;
    int n = WideCharToMultiByte(CP_UTF8, 0, chosen, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return false;
    path->assign(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, chosen, -1, &(*path)[0], n, nullptr, nullptr);
    path->resize(size_t(n - 1));
    return true;
}
