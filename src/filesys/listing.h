// What a file system says about its files, and what the copy lacks of them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "filesys/file_time.h"
#include "filesys/sector_reader.h"

// A run of sectors that holds `bytes` bytes of a file, from the start of `lba`.
struct FileExtent {
    uint32_t lba = 0;
    uint64_t bytes = 0;
};

struct FileRecord {
    std::string path;                 // "/DCIM/IMG_0001.JPG", UTF-8
    uint64_t size = 0;                // bytes
    std::vector<FileExtent> extents;  // where the bytes lie (sparse parts have none)
    bool unknown = false;             // where the file lies is not known (its entry is unreadable); size too
    bool symlink = false;             // a symbolic link: no data of its own, not counted as a file
    std::string linkTarget;           // where it points, as recorded ("../x", "/usr/bin"); may be empty
    FileTime modified;                // when it last changed, where the volume says
    std::string embedded;             // the data itself, when the entry holds it (UDF); no extents then
    // Filled by MeasureDamage:
    uint32_t missingSectors = 0;
    uint64_t missingBytes = 0;
};

enum class FsKind { Iso9660, RockRidge, Joliet, Udf };

struct Listing {
    FsKind kind = FsKind::Iso9660;
    std::string systemName;            // "ISO 9660", "ISO 9660 + Rock Ridge", "Joliet", "UDF 2.01"
    std::vector<FileRecord> files;
    std::vector<std::string> folders;  // the folders read, "/DCIM" (not the root)
    // Parts that stay unknown, one sentence each ("directory /DCIM unreadable:
    // its files are not listed"), and the other copies that were used.
    std::vector<std::string> unknown;
    std::vector<std::string> notes;
    uint32_t volumeSectors = 0;        // the size the file system claims, 0 when not known
};

// Fills missingSectors and missingBytes of every known file: sectors that are
// not present in the copy (beyond its end included).
void MeasureDamage(const ISectorReader& reader, Listing* listing);

struct DamageSummary {
    uint64_t complete = 0;
    uint64_t damaged = 0;
    uint64_t unknown = 0;   // files whose place is unknown, and unreadable parts
    uint64_t bytesLost = 0; // data that several names share (hard links) counts once
};
DamageSummary Summarise(const Listing& listing);

// Which tree to list. Any: Rock Ridge or Joliet names over plain ISO 9660, and
// UDF when the volume has no readable ISO 9660 tree.
enum class FsChoice { Any, Iso, Joliet, Udf };

// Reads the chosen tree, files sorted by path. False with *error set when the
// file system itself cannot be read (no volume descriptor, no root directory).
// All reads of one listing share one budget of a few times the copy's
// sectors; a volume whose structures ask for more is listed as far as the
// budget goes, and an unknown line says so.
bool ListFiles(ISectorReader& reader, FsChoice choice, Listing* listing, std::string* error);

// The volume size that the file system claims in sectors (ISO 9660 volume
// space size, of the last session where a CD puts one; UDF partition end or
// last anchor), 0 when none is found. Reads a few sectors: `reader` may be a drive.
uint32_t ClaimedVolumeSectors(ISectorReader& reader);
