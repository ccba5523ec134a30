#include "engine/dest_folder.h"

#include <cstring>

void CDestFolder::Set(const char* path)
{
    size_t n = path ? std::strlen(path) : 0;
    if (n > size_t(kMaxPath)) n = kMaxPath;
    std::lock_guard<std::mutex> hold(lock_);
    if (n) std::memcpy(path_, path, n);
    path_[n] = '\0';
}

void CDestFolder::SetToFolderOf(const char* filePath)
{
    char folder[kMaxPath + 1];
    size_t n = size_t(LastSeparator(filePath) + 1);
    if (n > size_t(kMaxPath)) n = kMaxPath;
    std::memcpy(folder, filePath, n);
    folder[n] = '\0';
    Set(folder);
}

std::string CDestFolder::Get() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return path_;
}

void CDestFolder::CopyTo(char out[kMaxPath + 1]) const
{
    std::lock_guard<std::mutex> hold(lock_);
    std::memcpy(out, path_, sizeof path_);
}
