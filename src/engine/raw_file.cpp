// CRawFile: path helpers and the descriptor's life. The path always fits its
// 260-character buffer; helpers that would make it longer cut it so that what
// matters most survives (the extension, which tells the set's files apart).
#include "engine/raw_file.h"

#include <cstring>

namespace {

constexpr int64_t kBytesPerMBShift = 20;  // 1 MB = 1,048,576 bytes
constexpr char kExtensionDot = '.';

// Copies at most `room` characters of `src` to `dst` and terminates it.
void CopyCut(char* dst, const char* src, size_t room)
{
    size_t n = std::strlen(src);
    if (n > room) n = room;
    std::memmove(dst, src, n);
    dst[n] = '\0';
}

uint32_t SizeToMB(int64_t bytes)
{
    if (bytes < 0) return 0;
    return uint32_t(bytes >> kBytesPerMBShift);
}

}  // namespace

int LastSeparator(const char* path)
{
    const char* sep = std::strrchr(path, rawio::kSep);
    return sep ? int(sep - path) : -1;
}

bool CRawFile::SetPath(const char* newPath)
{
    CopyCut(path, newPath ? newPath : "", kMaxPath);
    return true;
}

const char* CRawFile::GetFileName() const
{
    return path + (LastSeparator(path) + 1);
}

bool CRawFile::ReplaceFileName(const char* name)
{
    size_t keep = size_t(LastSeparator(path) + 1);  // 0 without a separator: the whole path stays
    if (keep == 0) keep = std::strlen(path);
    CopyCut(path + keep, name ? name : "", kMaxPath - keep);
    return true;
}

bool CRawFile::SetExtension(const char* ext)
{
    size_t len = std::strlen(path);
    for (size_t i = len; i > 0; --i) {
        char c = path[i - 1];
        if (c == rawio::kSep) break;
        if (c == kExtensionDot) {
            len = i - 1;
            break;
        }
    }
    // The extension must survive a cut: image, flag and import file differ
    // only in it, and two of them sharing one name would overwrite each other.
    size_t extLen = std::strlen(ext) + 1;  // with the dot
    if (extLen > size_t(kMaxPath)) extLen = kMaxPath;
    if (len + extLen > size_t(kMaxPath)) len = kMaxPath - extLen;
    path[len] = kExtensionDot;
    CopyCut(path + len + 1, ext, extLen - 1);
    return true;
}

bool CRawFile::Open()
{
    if (IsOpen() || path[0] == '\0') return false;
    descriptor = rawio::OpenReadWrite(path, true);
    return IsOpen();
}

bool CRawFile::Close()
{
    if (!IsOpen()) return false;
    bool closed = rawio::Close(descriptor);
    descriptor = -1;
    return closed;
}

bool CRawFile::Exists() const
{
    if (IsOpen()) return true;
    if (path[0] == '\0') return false;
    int fd = rawio::OpenReadOnly(path);
    if (fd < 0) return false;
    rawio::Close(fd);
    return true;
}

uint32_t CRawFile::GetSizeMB() const
{
    if (IsOpen()) return SizeToMB(rawio::Size(descriptor));
    if (path[0] == '\0') return 0;
    int fd = rawio::OpenReadOnly(path);
    if (fd < 0) return 0;
    uint32_t mb = SizeToMB(rawio::Size(fd));
    rawio::Close(fd);
    return mb;
}
