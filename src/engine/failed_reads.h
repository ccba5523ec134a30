// What a copy learned of the disc in one drive: how often each 16-sector block
// failed to read. Kept while the program runs and in a small side file beside
// the image set ("NAME.tries"), so that a resumed copy in the same drive does
// not pay again for every block that failed before the pause. Another drive
// reads differently: its copy starts with an empty history.
//
// The side file is a hint, never a promise: a missing, damaged or foreign one
// is ignored, and the flag file alone says what is read. Text, one item a line:
//   Gleanor failed reads 1
//   drive <the drive's identity>
//   sectors <sector count> <sector size>
//   ended <1 when the last copy ended, finished or given up; else 0>
//   <block number> <failed reads>      (one line per block, block = LBA / 16)
#pragma once
#include <cstdint>
#include <map>
#include <string>

constexpr uint32_t kHistoryBlock = 16;  // sectors per block of the history

struct FailedReadsFile {
    std::string drive;
    uint32_t sectorCount = 0;
    uint32_t sectorSize = 0;
    bool ended = false;
    std::map<uint32_t, uint32_t> failures;  // block -> failed reads, each > 0, block < sector count / 16 rounded up
};

// The side file of the set whose flag file is `flagPath`: its name with the
// extension ".tries" in place of ".flg".
std::string FailedReadsPath(const char* flagPath);
// Reads the side file at `path`; false (and *out empty) when it is missing,
// damaged, or out of the sizes it claims.
bool LoadFailedReads(const char* path, FailedReadsFile* out);

class CFailedReads {
public:
    // Makes this the history of the set at `flagPath` in `drive`: kept as it
    // is when it already is that; else taken from the side file when that
    // names the same drive and geometry; else empty.
    void Adopt(const char* flagPath, const std::string& drive, uint32_t sectorCount, uint32_t sectorSize);
    // A read request of `count` sectors at lba failed: each block it touched.
    void Failed(uint32_t lba, uint32_t count);
    uint32_t Failures(uint32_t block) const;
    const std::map<uint32_t, uint32_t>& Blocks() const { return file_.failures; }
    // Writes the side file (through a temporary file renamed over it), with
    // whether the copy has ended. False when it could not be written.
    bool Save(bool ended);

private:
    std::string path_;
    FailedReadsFile file_;
};
