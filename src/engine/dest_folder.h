// The destination folder of the image set. The front end's thread writes it
// (its folder choice, the flag file choice of Force Volume Size) and so does
// the worker (the image file choice); the idle worker reads it for its
// free-space query at any moment. The path lives in a fixed buffer that is
// only copied in and out under a lock, so no reader sees half of a change.
#pragma once
#include <mutex>
#include <string>

#include "engine/raw_file.h"

class CDestFolder {
public:
    // Keeps at most 260 characters of `path`.
    void Set(const char* path);
    CDestFolder& operator=(const std::string& path)
    {
        Set(path.c_str());
        return *this;
    }
    // The folder of `filePath`: up to and including its last separator.
    void SetToFolderOf(const char* filePath);

    std::string Get() const;
    // The same into a buffer of kMaxPath + 1 bytes, without allocating.
    void CopyTo(char out[kMaxPath + 1]) const;

private:
    mutable std::mutex lock_;
    char path_[kMaxPath + 1] = "";
};
