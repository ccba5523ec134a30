#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
// windows.h maps ReplaceFile to ReplaceFileA; ours is rawio::ReplaceFile.
#undef ReplaceFile

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/rawio.h"

namespace rawio {

namespace {
thread_local const char* lastOpenFailure = "";
}

int OpenReadWrite(const char* path, bool create)
{
    int fd = _sopen(path, _O_RDWR | _O_BINARY, _SH_DENYWR);
    if (fd < 0 && create) fd = _sopen(path, _O_RDWR | _O_BINARY | _O_CREAT, _SH_DENYWR, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        lastOpenFailure = GetLastError() == ERROR_SHARING_VIOLATION ? "in use by another program" : std::strerror(errno);
    return fd;
}

const char* LastOpenFailure() { return lastOpenFailure; }

int OpenReadOnly(const char* path)
{
    int fd = _sopen(path, _O_RDONLY | _O_BINARY, _SH_DENYNO);
    if (fd < 0) lastOpenFailure = std::strerror(errno);
    return fd;
}

int Read(int fd, void* buf, unsigned len) { return _read(fd, buf, len); }

int Write(int fd, const void* buf, unsigned len) { return _write(fd, buf, len); }

int64_t Seek(int fd, int64_t offset, int whence)
{
    int w = whence == kSeekSet ? SEEK_SET : whence == kSeekCur ? SEEK_CUR : SEEK_END;
    return int64_t(_lseeki64(fd, offset, w));
}

int64_t Size(int fd) { return int64_t(_filelengthi64(fd)); }

bool Close(int fd) { return _close(fd) == 0; }

bool SyncData(int fd) { return _commit(fd) == 0; }

bool ReplaceFile(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool StillAt(int fd, const char* path)
{
    BY_HANDLE_FILE_INFORMATION open{}, named{};
    HANDLE handle = HANDLE(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &open)) return true;
    HANDLE other = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    bool same = GetFileInformationByHandle(other, &named) && open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(other);
    return same;
}

bool FreeBytes(const char* folder, uint64_t* bytes)
{
    ULARGE_INTEGER avail{}, total{}, free{};
    if (!GetDiskFreeSpaceExA((folder && *folder) ? folder : nullptr, &avail, &total, &free)) return false;
    *bytes = avail.QuadPart;
    return true;
}

bool FileSystemName(const char* root, char* name, unsigned size)
{
    char volume[32] = {};
    char fs[32] = {};
    DWORD serial = 0, maxLen = 0, flags = 0;
    if (!GetVolumeInformationA(root, volume, sizeof volume, &serial, &maxLen, &flags, fs, sizeof fs)) return false;
    if (size == 0) return false;
    std::strncpy(name, fs, size - 1);
    name[size - 1] = '\0';
    return true;
}

}  // namespace rawio
