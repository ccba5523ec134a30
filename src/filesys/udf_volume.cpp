#include "filesys/udf_volume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fs {
namespace {

constexpr uint16_t kTagAnchor = 2;
constexpr uint16_t kTagPartition = 5;
constexpr uint16_t kTagLogicalVolume = 6;
constexpr uint16_t kTagTerminator = 8;
constexpr uint32_t kAnchorLba = 256;
constexpr uint32_t kMaxSequenceSectors = 64;
constexpr size_t kPartitionMaps = 440;
constexpr uint32_t kMaxRuns = 65536;

uint16_t Crc16(const uint8_t* p, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = uint16_t(crc ^ (p[i] << 8));
        for (int b = 0; b < 8; ++b) crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

bool Identifier(const uint8_t* regid, const char* name)
{
    size_t n = std::strlen(name);
    return std::memcmp(regid + 1, name, n) == 0;
}

}  // namespace

bool UdfTagValid(const uint8_t* d, size_t len, uint16_t id)
{
    if (len < 16 || Le16(d) != id) return false;
    uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4) sum = uint8_t(sum + d[i]);
    if (sum != d[4]) return false;
    size_t crcLen = Le16(d + 10);
    return crcLen > len - 16 || Crc16(d + 16, crcLen) == Le16(d + 8);
}

bool CUdfVolume::ReadSequence(uint32_t lba, uint32_t bytes, bool* complete)
{
    uint32_t sectors = bytes / kFsSectorSize;
    if (sectors > kMaxSequenceSectors) sectors = kMaxSequenceSectors;
    uint8_t s[kFsSectorSize];
    *complete = true;
    bool any = false;
    for (uint32_t i = 0; i < sectors; ++i) {
        if (!reader_.Read(lba + i, s)) {
            *complete = false;
            continue;
        }
        any = true;
        uint16_t id = Le16(s);
        if (!UdfTagValid(s, kFsSectorSize, id)) continue;
        if (id == kTagTerminator) break;
        if (id == kTagPartition) {
            PartDesc p{Le16(s + 22), Le32(s + 188), Le32(s + 192)};
            bool known = false;
            for (const PartDesc& q : partitions_) known = known || q.number == p.number;
            if (!known) partitions_.push_back(p);
        } else if (id == kTagLogicalVolume && !haveLvd_) {
            std::memcpy(lvd_, s, kFsSectorSize);
            haveLvd_ = true;
        }
    }
    return any;
}

bool CUdfVolume::Physical(uint16_t number, uint32_t* start, uint32_t* length) const
{
    for (const PartDesc& p : partitions_) {
        if (p.number == number) {
            *start = p.start;
            *length = p.length;
            return true;
        }
    }
    return false;
}

bool CUdfVolume::MapRuns(const std::vector<Run>& runs, uint32_t block, uint32_t* lba)
{
    for (const Run& r : runs) {
        if (block >= r.first && block - r.first < r.blocks) {
            *lba = r.sector + (block - r.first);
            return true;
        }
    }
    return false;
}

bool CUdfVolume::LoadMetadata(Partition* p, uint32_t fileBlock, uint32_t mirrorBlock, std::string* error)
{
    uint8_t s[kFsSectorSize];
    for (int copy = 0; copy < 2; ++copy) {
        uint32_t block = copy ? mirrorBlock : fileBlock;
        std::vector<Run>& runs = copy ? p->mirror : p->main;
        if (block >= p->length || !reader_.Read(p->start + block, s)) continue;
        uint16_t id = Le16(s);
        if (!(id == kUdfTagFileEntry || id == kUdfTagExtFileEntry) || !UdfTagValid(s, kFsSectorSize, id)) continue;
        size_t head = id == kUdfTagFileEntry ? 176 : 216;
        uint32_t eaLen = Le32(s + head - 8), adLen = Le32(s + head - 4);
        if (uint64_t(head) + eaLen + adLen > kFsSectorSize || (Le16(s + 34) & 7) != 0) continue;
        uint32_t next = 0;
        for (size_t at = head + eaLen; at + 8 <= head + eaLen + adLen && runs.size() < kMaxRuns; at += 8) {
            uint32_t len = Le32(s + at) & 0x3FFFFFFF, pos = Le32(s + at + 4);
            if (len == 0) break;
            uint32_t blocks = (len + kFsSectorSize - 1) / kFsSectorSize;
            if ((Le32(s + at) >> 30) == 0 && pos < p->length) runs.push_back({next, p->start + pos, blocks});
            next += blocks;
        }
    }
    if (p->main.empty() && p->mirror.empty()) {
        *error = "the metadata file and its mirror are unreadable";
        return false;
    }
    return true;
}

bool CUdfVolume::Open(std::string* error, std::vector<std::string>* notes)
{
    // The backups lie at N-257 and N-1 of the volume; a copy often holds one
    // sector less than the volume (it counts up to the drive's last address),
    // so both places are looked for as if the volume were one sector longer too.
    uint64_t count = reader_.SectorCount();
    const uint64_t anchors[5] = {kAnchorLba, count - 1 - kAnchorLba, count - kAnchorLba, count - 1, count};
    uint8_t s[kFsSectorSize];
    bool found = false;
    for (int i = 0; i < 5 && !partitions_.size(); ++i) {
        if (anchors[i] >= count || anchors[i] > UINT32_MAX) continue;  // also the ones that wrapped below 0
        uint32_t at = uint32_t(anchors[i]);
        if (at < kAnchorLba || !reader_.Read(at, s) || !UdfTagValid(s, kFsSectorSize, kTagAnchor) || Le32(s + 12) != at)
            continue;
        found = true;
        if (volumeEnd < at + 1) volumeEnd = at + 1;
        if (i > 0) notes->push_back("the UDF anchor at sector 256 is unreadable: used the one at sector " + std::to_string(at));
        bool mainWhole = false, reserveWhole = false;
        bool mainRead = ReadSequence(Le32(s + 20), Le32(s + 16), &mainWhole);
        if (!mainWhole || !haveLvd_ || partitions_.empty()) {
            ReadSequence(Le32(s + 28), Le32(s + 24), &reserveWhole);
            if (haveLvd_ && !partitions_.empty())
                notes->push_back(std::string("the main UDF descriptor sequence is ") +
                                 (mainRead ? "partly unreadable" : "unreadable") + ": used the reserve sequence");
        }
    }
    if (!found) {
        *error = "no readable UDF anchor at sector 256, N-257 or N-1";
        return false;
    }
    if (!haveLvd_ || partitions_.empty()) {
        *error = "the UDF logical volume or partition descriptor is unreadable in both descriptor sequences";
        return false;
    }
    if (Le32(lvd_ + 212) != kFsSectorSize) {
        *error = "UDF logical blocks of " + std::to_string(Le32(lvd_ + 212)) + " bytes are not supported";
        return false;
    }
    uint16_t rev = Le16(lvd_ + 216 + 24);
    char text[16];
    std::snprintf(text, sizeof text, "%x.%02x", rev >> 8, rev & 0xFF);
    revision = text;
    fileSet = {Le32(lvd_ + 252), Le16(lvd_ + 256)};
    uint32_t tableLen = Le32(lvd_ + 264), mapCount = Le32(lvd_ + 268);
    if (tableLen > kFsSectorSize - kPartitionMaps) tableLen = kFsSectorSize - kPartitionMaps;
    for (const PartDesc& p : partitions_)
        if (uint64_t(p.start) + p.length > volumeEnd) volumeEnd = uint32_t(std::min<uint64_t>(UINT32_MAX, uint64_t(p.start) + p.length));
    size_t at = kPartitionMaps;
    for (uint32_t i = 0; i < mapCount && at + 2 <= kPartitionMaps + tableLen; ++i) {
        const uint8_t* m = lvd_ + at;
        size_t len = m[1];
        if (len < 6 || at + len > kPartitionMaps + tableLen) break;
        at += len;
        Partition p;
        if (m[0] == 1) {
            p.number = Le16(m + 4);
        } else if (m[0] == 2 && len >= 64) {
            p.number = Le16(m + 38);
            if (Identifier(m + 4, "*UDF Virtual Partition")) {
                *error = "UDF virtual partitions (incremental CD-R) are not read";
                return false;
            }
            p.metadata = Identifier(m + 4, "*UDF Metadata Partition");
            if (Identifier(m + 4, "*UDF Sparable Partition"))
                notes->push_back("sparable partition: blocks moved by the sparing table are read at their first place");
        } else {
            *error = "UDF partition map of type " + std::to_string(m[0]) + " is not known";
            return false;
        }
        if (!Physical(p.number, &p.start, &p.length)) {
            *error = "UDF partition " + std::to_string(p.number) + " has no readable partition descriptor";
            return false;
        }
        if (p.metadata && !LoadMetadata(&p, Le32(m + 40), Le32(m + 44), error)) return false;
        maps_.push_back(p);
    }
    if (maps_.empty()) {
        *error = "the UDF logical volume has no partition map";
        return false;
    }
    return true;
}

bool CUdfVolume::Sector(UdfAddress a, uint32_t* lba) const
{
    if (a.partition >= maps_.size()) return false;
    const Partition& p = maps_[a.partition];
    if (p.metadata) return MapRuns(p.main, a.block, lba) || MapRuns(p.mirror, a.block, lba);
    if (a.block >= p.length) return false;
    *lba = p.start + a.block;
    return true;
}

bool CUdfVolume::ReadBlock(UdfAddress a, uint8_t* out)
{
    uint32_t lba;
    if (a.partition >= maps_.size()) return false;
    const Partition& p = maps_[a.partition];
    if (!p.metadata) return Sector(a, &lba) && reader_.Read(lba, out);
    if (MapRuns(p.main, a.block, &lba) && reader_.Read(lba, out)) return true;
    if (MapRuns(p.mirror, a.block, &lba) && reader_.Read(lba, out)) {
        mirrorUsed = true;
        return true;
    }
    return false;
}

bool CUdfVolume::Runs(UdfAddress a, uint64_t bytes, std::vector<FileExtent>* out) const
{
    if (a.partition >= maps_.size()) return false;
    const Partition& p = maps_[a.partition];
    uint64_t blocks = (bytes + kFsSectorSize - 1) / kFsSectorSize;
    for (uint64_t k = 0; k < blocks;) {
        uint64_t block = a.block + k, n = 0;
        uint32_t lba = 0;
        if (!p.metadata) {
            if (block + (blocks - k) > p.length) return false;
            lba = uint32_t(p.start + block);
            n = blocks - k;
        } else {
            for (const Run& r : p.main.empty() ? p.mirror : p.main) {
                if (block >= r.first && block - r.first < r.blocks) {
                    lba = uint32_t(r.sector + (block - r.first));
                    n = std::min<uint64_t>(blocks - k, r.blocks - (block - r.first));
                }
            }
            if (n == 0) return false;
        }
        uint64_t chunk = std::min<uint64_t>(n * kFsSectorSize, bytes - k * kFsSectorSize);
        out->push_back({lba, chunk});
        k += n;
    }
    return true;
}

}  // namespace fs
