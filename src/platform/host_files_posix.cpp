#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/host_files.h"

namespace hostfs {

Kind KindOf(const std::string& path, uint64_t* size, int64_t* seconds)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Kind::None;
    if (S_ISDIR(st.st_mode)) return Kind::Folder;
    if (!S_ISREG(st.st_mode)) return Kind::Other;
    if (size) *size = uint64_t(st.st_size);
    if (seconds) *seconds = int64_t(st.st_mtime);
    return Kind::File;
}

bool MakeFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return KindOf(path, nullptr, nullptr) == Kind::Folder;
}

int CreateEmpty(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
}

bool SetModified(const std::string& path, int64_t seconds, uint32_t nanoseconds)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(seconds);
    times[1].tv_nsec = long(nanoseconds);
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Rename(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

bool Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool CharAllowed(unsigned char c) { return c >= 0x20 && c != 0x7F; }

}  // namespace hostfs
