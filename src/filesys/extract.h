// Writes the files of a listing out of the image set into a folder of the
// host: complete files by default, damaged ones only when asked and then
// marked, never a path outside the folder.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "filesys/listing.h"

struct ExtractOptions {
    std::vector<std::string> paths;  // files or folders of the volume ("/DCIM"); none: all of it
    bool damaged = false;            // write damaged files too, as NAME.damaged
};

struct ExtractResult {
    uint64_t written = 0;         // complete files written now
    uint64_t alreadyThere = 0;    // complete files found written before (same size and time)
    uint64_t writtenDamaged = 0;  // damaged files written as NAME.damaged
    uint64_t leftOut = 0;         // damaged or unknown files not written
    uint64_t failed = 0;          // files or folders the host would not take
    uint64_t renamed = 0;         // names made safe for the host
    uint64_t bytes = 0;           // bytes written
    std::vector<std::string> notFound;  // named paths that are not in the volume
};

// What a missing sector of a damaged file is written as: this text, over and over.
extern const char kMissingFill[16];

// Writes into `folder` (which is created); `say` gets one line for each file
// left out, written damaged, renamed or failed.
ExtractResult ExtractFiles(ISectorReader& reader, const Listing& listing, const std::string& folder,
                           const ExtractOptions& options, const std::function<void(const std::string&)>& say);

// A name from the volume as the host can store it: no separator, no NUL or
// control character, not "." or "..", at most 255 bytes; on Windows neither
// its reserved characters and device names nor a final dot or space.
std::string SafeName(const std::string& name);
