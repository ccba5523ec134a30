// ISO 9660 volume descriptors and sessions. Private to the file-system room.
#pragma once
#include <cstdint>
#include <vector>

#include "filesys/readers.h"

namespace fs {

constexpr uint32_t kFirstDescriptor = 16;
constexpr size_t kRootRecord = 156;

struct Descriptors {
    bool primary = false;
    bool joliet = false;
    uint8_t pvd[kFsSectorSize];
    uint8_t svd[kFsSectorSize];
    std::vector<uint32_t> unreadable;  // descriptor sectors that are missing
};

inline uint32_t VolumeEnd(const Descriptors& d) { return d.primary ? Le32(d.pvd + 80) : d.joliet ? Le32(d.svd + 80) : 0; }

struct Session {
    uint32_t start = 0;
    unsigned number = 1;
    uint32_t end = 0;  // the sector after the session: the volume's size as the disc's file system claims it
    bool unsure = false;  // a sector where a later session's descriptor could lie is missing
};

// The descriptors of the last session, which a mounting system shows (the
// first session's when the disc holds one). `scan` looks for each next
// session in every sector of the gap before it, else in the places a CD puts
// it only: a drive is asked for a few sectors, an image set for many.
Session ReadSession(ISectorReader& reader, Descriptors* d, bool scan);

}  // namespace fs
