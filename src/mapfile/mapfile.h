// GNU ddrescue mapfiles: the rescue world's common map of what was read.
//
// A mapfile is text: comment lines, a status line "current_pos current_status
// current_pass", then one line per block "pos size status" in bytes, blocks in
// order and not overlapping. Gleanor writes one from a flag file (a block per
// run of equal sectors: '+' read, '-' missing after a failed read, '?' missing
// and not tried; the failed reads come from the side file beside the set, and
// the status line is '+' once the copy has ended) and reads one to bring in
// what ddrescue rescued from the same disc.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/recovery_engine.h"

constexpr char kMapFinished = '+';   // block status: rescued
constexpr char kMapNonTried = '?';   // block status: not tried; also the "copying" phase
constexpr char kMapBadSector = '-';  // block status: failed to read
constexpr uint64_t kMapMaxEnd = 0x7FFFFFFFFFFFFFFFull;  // pos + size stays within a signed 64-bit offset

struct MapBlock {
    uint64_t pos = 0;   // bytes from the start of the disc
    uint64_t size = 0;  // pos + size <= kMapMaxEnd
    char status = kMapNonTried;
};

struct Mapfile {
    uint64_t currentPos = 0;
    char currentStatus = kMapNonTried;
    unsigned currentPass = 1;
    std::vector<MapBlock> blocks;  // ordered, not overlapping
};

// Parses mapfile text as ddrescue accepts it: '#' at a line's start or after
// blank space starts a comment; numbers decimal, 0x hexadecimal or 0 octal.
// False with *error naming the line and what is wrong.
bool ParseMapfile(const std::string& text, Mapfile* map, std::string* error);
// The whole file at `path`, parsed; false with *error.
bool LoadMapfile(const char* path, Mapfile* map, std::string* error);

// What the comments and the status line of a written map say.
struct MapfileInfo {
    std::string program;      // "Gleanor 1.6"
    std::string image;        // the image file the map describes
    uint64_t currentPos = 0;  // bytes: where a running copy stands
    unsigned currentPass = 1;
};

// The flag file's header, read without locking (it may be in use by a copy).
// False with *error when it cannot be read, fails its checksum, or has a
// sector size of 0.
bool ReadFlagHeader(const char* flagPath, FlagHeader* header, std::string* error);

// Writes the map of the flag file at `flagPath` to `out`. Bits that the file
// does not hold count as missing.
bool WriteMapfile(const char* flagPath, const MapfileInfo& info, std::FILE* out, std::string* error);
// The same into `mapPath`, written as "mapPath.tmp" and renamed over it, so
// a reader never sees half a map.
bool SaveMapfile(const char* flagPath, const MapfileInfo& info, const char* mapPath, std::string* error);

// What ImportMapfile did.
struct MapImportTally {
    uint32_t imported = 0;     // sectors that were missing and came in
    uint64_t beyond = 0;       // sectors of finished blocks past the flag file's sector count
    bool complete = false;     // every finished block was gone through
};

// Brings every finished block of `map` whose sectors the image set still
// misses into it, the data taken from `fromPath` (ddrescue's output file) at
// the same byte positions: data first, then the flag; the header's
// sectorsRead counted and written back. The engine's imageFile and flagFile
// paths name the set. A map whose blocks are not whole sectors of the flag
// file's size is refused before anything is opened for writing. Logs as the
// import merge does and ends with one closing line. False when refused or
// stopped early.
bool ImportMapfile(CRecoveryEngine& e, const Mapfile& map, const char* fromPath, MapImportTally* tally);
