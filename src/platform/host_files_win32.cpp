#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/host_files.h"

namespace hostfs {

namespace {

constexpr size_t kLongPath = 240;

// A long absolute path (C:\...) gets the prefix that lifts MAX_PATH: deep
// folders of a disc reach past it.
std::wstring Wide(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), &w[0], n);
    if (w.size() >= kLongPath && w[1] == L':' && w[2] == L'\\' && w.find(L'/') == std::wstring::npos)
        w = L"\\\\?\\" + w;
    return w;
}

// 100-nanosecond steps from 1601 to 1970.
constexpr int64_t kEpochSteps = 116444736000000000LL;

}  // namespace

Kind KindOf(const std::string& path, uint64_t* size, int64_t* seconds)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &a)) return Kind::None;
    if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Kind::Folder;
    if (a.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return Kind::Other;
    if (size) *size = uint64_t(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
    int64_t steps = int64_t(uint64_t(a.ftLastWriteTime.dwHighDateTime) << 32 | a.ftLastWriteTime.dwLowDateTime);
    if (seconds) *seconds = (steps - kEpochSteps) / 10000000;
    return Kind::File;
}

bool MakeFolder(const std::string& path)
{
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    return KindOf(path, nullptr, nullptr) == Kind::Folder;
}

int CreateEmpty(const std::string& path)
{
    return _wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool SetModified(const std::string& path, int64_t seconds, uint32_t nanoseconds)
{
    HANDLE h = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    uint64_t steps = uint64_t(seconds * 10000000 + kEpochSteps + nanoseconds / 100);
    FILETIME ft;
    ft.dwLowDateTime = DWORD(steps);
    ft.dwHighDateTime = DWORD(steps >> 32);
    bool ok = SetFileTime(h, nullptr, nullptr, &ft) != 0;
    CloseHandle(h);
    return ok;
}

bool Rename(const std::string& from, const std::string& to)
{
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool Remove(const std::string& path) { return DeleteFileW(Wide(path).c_str()) != 0; }

bool CharAllowed(unsigned char c) { return c >= 0x20 && c != 0x7F && !std::strchr("<>:\"\\|?*", c); }

}  // namespace hostfs
