#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/rawio.h"

namespace rawio {

namespace {

constexpr const char kInUse[] = "in use by another gleanor";
thread_local const char* lastOpenFailure = "";

// Stands in for the deny-write share mode: one writer per file, system-wide.
int LockOrClose(int fd)
{
    if (fd < 0) {
        lastOpenFailure = std::strerror(errno);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastOpenFailure = errno == EWOULDBLOCK ? kInUse : std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int OpenReadWrite(const char* path, bool create)
{
    int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0 && create && errno == ENOENT) fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    return LockOrClose(fd);
}

const char* LastOpenFailure() { return lastOpenFailure; }

int OpenReadOnly(const char* path)
{
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) lastOpenFailure = std::strerror(errno);
    return fd;
}

int Read(int fd, void* buf, unsigned len)
{
    unsigned done = 0;
    while (done < len) {
        ssize_t n = ::read(fd, static_cast<char*>(buf) + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? int(done) : -1;
        if (n == 0) break;
        done += unsigned(n);
    }
    return int(done);
}

int Write(int fd, const void* buf, unsigned len)
{
    unsigned done = 0;
    while (done < len) {
        ssize_t n = ::write(fd, static_cast<const char*>(buf) + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? int(done) : -1;
        done += unsigned(n);
    }
    return int(done);
}

int64_t Seek(int fd, int64_t offset, int whence)
{
    static_assert(sizeof(off_t) == 8, "64-bit file offsets required");
    int w = whence == kSeekSet ? SEEK_SET : whence == kSeekCur ? SEEK_CUR : SEEK_END;
    return int64_t(::lseek(fd, off_t(offset), w));
}

int64_t Size(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return int64_t(st.st_size);
}

bool Close(int fd) { return ::close(fd) == 0; }

bool SyncData(int fd) { return ::fdatasync(fd) == 0; }

bool ReplaceFile(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool StillAt(int fd, const char* path)
{
    struct stat open {}, named {};
    if (::fstat(fd, &open) != 0) return true;
    if (::stat(path, &named) != 0) return errno != ENOENT && errno != ENOTDIR;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool FreeBytes(const char* folder, uint64_t* bytes)
{
    struct statvfs vfs {};
    const char* where = (folder && *folder) ? folder : ".";
    if (::statvfs(where, &vfs) != 0) return false;
    *bytes = uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize);
    return true;
}

bool FileSystemName(const char* root, char* name, unsigned size)
{
    struct statfs fs {};
    const char* where = (root && *root) ? root : ".";
    if (size == 0 || ::statfs(where, &fs) != 0) return false;
    constexpr long kMsdosMagic = 0x4d44;    // FAT12/16/32
    constexpr long kExfatMagic = 0x2011BAB0;  // holds large files, counts as big
    const char* kind = (fs.f_type == kMsdosMagic) ? "FAT" : "NTFS";
    (void)kExfatMagic;
    std::strncpy(name, kind, size - 1);
    name[size - 1] = '\0';
    return true;
}

}  // namespace rawio
