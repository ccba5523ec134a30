// UDF volume structures: the anchors, the main and reserve descriptor
// sequences, the partitions (physical, sparable, metadata) and the logical
// volume. Private to the file-system folder.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "filesys/readers.h"

namespace fs {

constexpr uint16_t kUdfTagFileSet = 256;
constexpr uint16_t kUdfTagFileId = 257;
constexpr uint16_t kUdfTagAllocExtent = 258;
constexpr uint16_t kUdfTagFileEntry = 261;
constexpr uint16_t kUdfTagExtFileEntry = 266;

// A descriptor tag that is whole: identifier, checksum, and its CRC where
// the CRC's length lies within `len` bytes.
bool UdfTagValid(const uint8_t* d, size_t len, uint16_t id);

// A block address in a partition: logical block number and partition reference.
struct UdfAddress {
    uint32_t block = 0;
    uint16_t partition = 0;
};

class CUdfVolume {
public:
    explicit CUdfVolume(ISectorReader& reader) : reader_(reader) {}

    // Anchor, descriptor sequences, partitions, logical volume. False with
    // *error set when no usable volume is found; notes name the copies used.
    bool Open(std::string* error, std::vector<std::string>* notes);

    // The sector of a logical block, or false when it has none.
    bool Sector(UdfAddress a, uint32_t* lba) const;
    // Reads a logical block, from the metadata mirror when the metadata file's copy is lost.
    bool ReadBlock(UdfAddress a, uint8_t* out);
    // Splits `bytes` from block `a` on into runs of sectors, as the partition places them.
    bool Runs(UdfAddress a, uint64_t bytes, std::vector<FileExtent>* out) const;

    UdfAddress fileSet;       // where the file set descriptor lies
    uint32_t volumeEnd = 0;   // the sector after the last partition, or after the last anchor
    std::string revision;     // "2.01"
    bool mirrorUsed = false;

private:
    struct Run {
        uint32_t first = 0;   // block in the metadata partition
        uint32_t sector = 0;  // its sector
        uint32_t blocks = 0;
    };
    struct Partition {
        bool metadata = false;
        uint16_t number = 0;   // partition descriptor's number
        uint32_t start = 0, length = 0;
        std::vector<Run> main, mirror;
    };
    bool ReadSequence(uint32_t lba, uint32_t bytes, bool* complete);
    bool LoadMetadata(Partition* p, uint32_t fileBlock, uint32_t mirrorBlock, std::string* error);
    bool Physical(uint16_t number, uint32_t* start, uint32_t* length) const;
    static bool MapRuns(const std::vector<Run>& runs, uint32_t block, uint32_t* lba);

    ISectorReader& reader_;
    std::vector<Partition> maps_;  // by partition reference
    struct PartDesc {
        uint16_t number;
        uint32_t start, length;
    };
    std::vector<PartDesc> partitions_;
    bool haveLvd_ = false;
    uint8_t lvd_[kFsSectorSize] = {};
};

}  // namespace fs
