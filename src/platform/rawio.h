// Low-level file I/O on descriptors, POSIX-style, and the two volume queries.
//
// This is the only file access the engine has. Windows: _sopen/_lseeki64 with
// a deny-write share mode. POSIX: open/lseek with an exclusive advisory lock on
// every read-write open, so a second program cannot write the same files.
#pragma once
#include <cstdint>

namespace rawio {

constexpr int kSeekSet = 0;
constexpr int kSeekCur = 1;
constexpr int kSeekEnd = 2;

// The path separator of this platform, and MAX_PATH.
#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif
constexpr int kMaxPath = 260;

// Opens an existing file for reading and writing, denying others write access.
// With `create`, a missing file is created (never truncated). -1 on failure,
// also when another program (or another descriptor of ours) holds the file.
int OpenReadWrite(const char* path, bool create);
// Why this thread's last failed OpenReadWrite or OpenReadOnly failed: the system's reason
// ("Permission denied", "No such file or directory"), or "in use by another
// gleanor" when another program holds the file.
const char* LastOpenFailure();
// Opens read-only with full sharing. -1 on failure.
int OpenReadOnly(const char* path);
// Bytes moved, or -1.
int Read(int fd, void* buf, unsigned len);
int Write(int fd, const void* buf, unsigned len);
// New position, or -1.
int64_t Seek(int fd, int64_t offset, int whence);
// File size in bytes, or -1.
int64_t Size(int fd);
bool Close(int fd);
// Flushes file data to the device (fdatasync / _commit).
bool SyncData(int fd);
// Renames `from` to `to`, replacing a file of that name in one step.
bool ReplaceFile(const char* from, const char* to);
// Whether `path` still names the file open as `fd` (same device and inode, or
// volume and file index). False when the path is gone or names another file;
// a query that fails for another reason counts as still there.
bool StillAt(int fd, const char* path);

// Bytes available to the caller on the volume that holds `folder`; false on failure.
bool FreeBytes(const char* folder, uint64_t* bytes);
// File system name of the volume whose root is `root` (nullptr: the current
// directory's) into `name` (at least 32 bytes); false on failure. On POSIX the
// name is "NTFS" for any file system that holds files over 4 GB and "FAT" for FAT.
bool FileSystemName(const char* root, char* name, unsigned size);

}  // namespace rawio
