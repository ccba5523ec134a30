// Folders and files of the host by name, for writing files out of an image
// set. Names are UTF-8; the descriptors work with rawio's Write and Close.
#pragma once
#include <cstdint>
#include <string>

namespace hostfs {

enum class Kind { None, File, Folder, Other };

// What `path` names (a link is not followed); a file's size and modification time.
Kind KindOf(const std::string& path, uint64_t* size, int64_t* seconds);
// True when a folder is there afterwards.
bool MakeFolder(const std::string& path);
// Creates the file, or empties it; -1 on failure.
int CreateEmpty(const std::string& path);
bool SetModified(const std::string& path, int64_t seconds, uint32_t nanoseconds);
// Renames `from` to `to`, replacing a file of that name.
bool Rename(const std::string& from, const std::string& to);
bool Remove(const std::string& path);
// Whether a name of this host may hold the character ('/' and NUL it never may).
bool CharAllowed(unsigned char c);
// Windows names: compared without case, UTF-16 (the bytes must be UTF-8), no
// final dot or space, no device names such as CON or LPT1.
constexpr bool kWindowsNames =
#ifdef _WIN32
    true;
#else
    false;
#endif

}  // namespace hostfs
