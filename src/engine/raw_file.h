// CRawFile: one file of the image set, by path, on a raw descriptor.
//
// Unbuffered, binary, 64-bit seeks; opened so that other programs may read but
// not write it. Destroying a CRawFile does not close it: owners close their
// files explicitly. No operation shows a message or logs.
#pragma once
#include <cstdint>

#include "platform/rawio.h"

constexpr int kMaxPath = rawio::kMaxPath;  // 260 characters plus the NUL

class CRawFile {
public:
    CRawFile() = default;
    virtual ~CRawFile() = default;
    CRawFile(const CRawFile&) = delete;
    CRawFile& operator=(const CRawFile&) = delete;

    // Stores at most 260 characters of `path`.
    bool SetPath(const char* path);
    const char* GetPath() const { return path; }
    // The part after the last separator; the whole path when it has none.
    const char* GetFileName() const;
    // Keeps the path up to and including its last separator and appends `name`
    // (cut so that the path stays within 260 characters).
    bool ReplaceFileName(const char* name);
    // Cuts at the last dot of the final component, if any, and appends "." ext.
    bool SetExtension(const char* ext);

    // Existing file read-write (never truncated), else created. False when
    // already open (it stays open) or when no descriptor could be had.
    bool Open();
    bool Close();
    bool IsOpen() const { return descriptor != -1; }
    bool Exists() const;
    // Size / 1,048,576, truncated; 0 when it cannot be opened or queried.
    uint32_t GetSizeMB() const;

    // Thin wrappers over the descriptor for the engine's own use.
    int Read(void* buf, unsigned len) { return rawio::Read(descriptor, buf, len); }
    int Write(const void* buf, unsigned len) { return rawio::Write(descriptor, buf, len); }
    int64_t Seek(int64_t offset, int whence = rawio::kSeekSet) { return rawio::Seek(descriptor, offset, whence); }
    int64_t Size() const { return rawio::Size(descriptor); }
    bool Sync() { return IsOpen() && rawio::SyncData(descriptor); }
    // Whether the open file still sits at its path (true while closed).
    bool InPlace() const { return !IsOpen() || rawio::StillAt(descriptor, path); }
    int Descriptor() const { return descriptor; }

private:
    int descriptor = -1;
    char path[kMaxPath + 1] = "";
};

// Index of the last path separator in `path`, or -1.
int LastSeparator(const char* path);
