// The file-system reader over arbitrary volumes: it never crashes, never reads
// out of bounds, and what it lists is consistent with the sectors it had.
//
// The input is the tree to read (one byte), then a sparse volume of 600
// sectors: records of a sector number (2 bytes), flags (1: missing, 2: seal
// the tag), a length (2 bytes) and the sector's leading bytes (the rest reads
// as zeros). UDF
// descriptor tags at the start of a sector get their checksum and CRC made
// whole, so that the fuzzer reaches the structures behind them.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "filesys/listing.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kSectors = 600;

uint16_t Crc(const uint8_t* p, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = uint16_t(crc ^ (p[i] << 8));
        for (int b = 0; b < 8; ++b) crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

void SealTag(uint8_t* s)
{
    uint16_t id = uint16_t(s[0] | s[1] << 8);
    if (!((id >= 1 && id <= 9) || (id >= 256 && id <= 266))) return;
    size_t crcLen = size_t(s[10] | s[11] << 8);
    if (crcLen <= kFsSectorSize - 16) {
        uint16_t crc = Crc(s + 16, crcLen);
        s[8] = uint8_t(crc);
        s[9] = uint8_t(crc >> 8);
    }
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4) sum = uint8_t(sum + s[i]);
    s[4] = sum;
}

class SparseVolume : public ISectorReader {
public:
    uint32_t SectorCount() const override { return kSectors; }
    bool Present(uint32_t lba) const override { return lba < kSectors && !missing.count(lba); }
    bool Read(uint32_t lba, uint8_t* out) override
    {
        if (!Present(lba)) return false;
        auto it = sectors.find(lba);
        if (it == sectors.end()) std::memset(out, 0, kFsSectorSize);
        else std::memcpy(out, it->second.data(), kFsSectorSize);
        return true;
    }
    std::map<uint32_t, std::vector<uint8_t>> sectors;
    std::map<uint32_t, bool> missing;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    FsChoice choice = FsChoice(data[0] % 4);
    SparseVolume v;
    size_t at = 1;
    while (at + 5 <= size) {
        uint32_t lba = uint32_t(data[at] | data[at + 1] << 8) % kSectors;
        uint8_t flags = data[at + 2];
        size_t len = std::min<size_t>(size_t(data[at + 3] | data[at + 4] << 8) % (kFsSectorSize + 1), size - at - 5);
        std::vector<uint8_t> bytes(data + at + 5, data + at + 5 + len);
        at += 5 + len;
        bytes.resize(kFsSectorSize, 0);
        if (flags & 2) SealTag(bytes.data());
        v.sectors[lba] = bytes;
        if (flags & 1) v.missing[lba] = true;
    }
    Listing l;
    std::string error;
    if (!ListFiles(v, choice, &l, &error)) {
        fuzz::Check(!error.empty(), "a refusal without a reason");
        return 0;
    }
    for (const FileRecord& f : l.files) {
        uint64_t sectors = 0, bytes = 0;
        for (const FileExtent& e : f.extents) {
            sectors += (e.bytes + kFsSectorSize - 1) / kFsSectorSize;
            bytes += e.bytes;
        }
        fuzz::Check(f.missingSectors <= sectors, "more sectors missing than the file has");
        fuzz::Check(f.missingBytes <= bytes, "more bytes missing than the file's extents hold");
        fuzz::Check(!f.path.empty() && f.path[0] == '/', "a path that is not absolute");
    }
    DamageSummary s = Summarise(l);
    size_t links = size_t(std::count_if(l.files.begin(), l.files.end(), [](const FileRecord& f) { return f.symlink; }));
    fuzz::Check(s.complete + s.damaged + s.unknown >= l.files.size() - links, "files lost in the summary");
    ClaimedVolumeSectors(v);
    return 0;
}
