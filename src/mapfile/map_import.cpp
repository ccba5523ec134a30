// Bringing what ddrescue rescued into an image set: the finished blocks of its
// mapfile, with the data from its output file.
//
// The same order as the import merge keeps: a sector's data reaches the image
// before its flag is cleared, the image is flushed before the flag file every
// 30 s and at the end, and the header's sectorsRead is written last. A merge
// killed at any point leaves every sector marked read holding its data, and
// running it again brings in the rest.
#include <algorithm>
#include <vector>

#include "mapfile/mapfile.h"
#include "platform/clock.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kRunSectors = 16;     // sectors moved per read and write
constexpr uint32_t kMergeSyncMs = 30000; // image, then flag file, reach the device this often

// The first block whose position or size is not whole sectors, or nullptr.
const MapBlock* UnevenBlock(const Mapfile& map, uint32_t sectorSize)
{
    for (const MapBlock& b : map.blocks)
        if (b.pos % sectorSize != 0 || b.size % sectorSize != 0) return &b;
    return nullptr;
}

class CMapImporter {
public:
    CMapImporter(CRecoveryEngine& e, int from, const char* fromName, MapImportTally* tally)
        : e_(e), from_(from), fromName_(fromName), tally_(tally), data_(kRunSectors * e.header.sectorSize),
          lastSync_(TickCount())
    {
    }

    // The sectors first .. first+count-1 (all below the sector count) of a finished block.
    bool Block(uint32_t first, uint32_t count)
    {
        const uint32_t end = first + count;
        for (uint32_t lba = first; lba < end;) {
            const uint32_t n = std::min(kRunSectors, end - lba);
            const uint32_t missing = e_.AccessFlags(lba, int32_t(n), false);
            for (uint32_t i = 0; i < n;) {
                if (!((missing >> i) & 1)) {
                    ++i;
                    continue;
                }
                uint32_t j = i;
                while (j < n && ((missing >> j) & 1)) ++j;
                if (!Store(lba + i, j - i)) return false;
                i = j;
            }
            lba += n;
            Sync(false);
        }
        return true;
    }

    void Sync(bool now)
    {
        uint32_t tick = TickCount();
        if (!now && int32_t(tick - lastSync_) < int32_t(kMergeSyncMs)) return;
        e_.imageFile.Sync();
        e_.flagFile.Sync();
        lastSync_ = tick;
    }

private:
    bool Store(uint32_t lba, uint32_t n)
    {
        const uint32_t size = e_.header.sectorSize;
        const int64_t at = int64_t(lba) * size;
        const int want = int(n * size);
        if (rawio::Seek(from_, at, rawio::kSeekSet) != at || rawio::Read(from_, data_.data(), unsigned(want)) != want) {
            LogPrintf(0, "Error Reading %s at Sector %lu", fromName_, (unsigned long)lba);
            return false;
        }
        if (!e_.WriteSectors(lba, n, data_.data())) {
            LogPrintf(0, "Error Writing %s", e_.imageFile.GetFileName());
            return false;
        }
        e_.AccessFlags(lba, int32_t(n), true);
        e_.header.sectorsRead += n;
        tally_->imported += n;
        LogPrintf(2, "Import %lu +%lu", (unsigned long)lba, (unsigned long)n);
        return true;
    }

    CRecoveryEngine& e_;
    int from_;
    const char* fromName_;
    MapImportTally* tally_;
    std::vector<uint8_t> data_;
    uint32_t lastSync_;
};

// Goes through the finished blocks; blocks past the sector count are counted.
bool ImportBlocks(CRecoveryEngine& e, const Mapfile& map, CMapImporter& importer, MapImportTally* tally)
{
    const uint64_t size = e.header.sectorSize;
    const uint64_t count = e.header.sectorCount;
    for (const MapBlock& b : map.blocks) {
        if (b.status != kMapFinished) continue;
        uint64_t first = b.pos / size;
        uint64_t end = first + b.size / size;
        if (end > count) {
            tally->beyond += end - std::max(first, count);
            end = count;
        }
        if (first < end && !importer.Block(uint32_t(first), uint32_t(end - first))) return false;
    }
    return true;
}

// True, with the reason logged, when the set cannot take the map; asked
// before anything is opened for writing.
bool Refused(CRecoveryEngine& e, const Mapfile& map)
{
    if (!e.flagFile.Exists()) {
        LogPrintf(0, "Cannot Import! - Missing *.FLG file:");
        LogPrintf(0, "%s", e.flagFile.GetPath());
        return true;
    }
    FlagHeader h;
    std::string error;
    if (!ReadFlagHeader(e.flagFile.GetPath(), &h, &error)) {
        LogPrintf(0, "Cannot Import! - %s", error.c_str());
        return true;
    }
    if (const MapBlock* b = UnevenBlock(map, h.sectorSize)) {
        LogPrintf(0, "Cannot Import! - Block 0x%llX 0x%llX is not whole Sectors of %lu Bytes",
                  (unsigned long long)b->pos, (unsigned long long)b->size, (unsigned long)h.sectorSize);
        return true;
    }
    if (!e.imageFile.Exists() && FlagFileMarksAnyRead(e.flagFile.GetPath())) {
        LogPrintf(0, "Cannot Import! - Missing *.ISO file:");
        LogPrintf(0, "%s", e.imageFile.GetPath());
        return true;
    }
    return false;
}

}  // namespace

bool ImportMapfile(CRecoveryEngine& e, const Mapfile& map, const char* fromPath, MapImportTally* tally)
{
    *tally = MapImportTally();
    e.exportMode = false;
    if (Refused(e, map)) return false;
    const int from = rawio::OpenReadOnly(fromPath);
    if (from < 0) {
        LogPrintf(0, "Cannot Import! - Cannot open %s", fromPath);
        return false;
    }
    bool image = e.imageFile.Open();
    bool flags = image && e.flagFile.Open();
    bool headerRead = false;
    bool done = false;
    if (!(image && flags)) {
        LogPrintf(0, "Cannot Import! - Cannot open the image set");
    } else if (LoadMergeHeader(e)) {
        headerRead = true;
        CMapImporter importer(e, from, fromPath, tally);
        done = ImportBlocks(e, map, importer, tally);
        importer.Sync(true);
        if (!e.WriteHeader()) {
            LogPrintf(0, "Error Writing %s", e.flagFile.GetFileName());
            done = false;
        }
        e.flagFile.Sync();
    }
    if (tally->beyond)
        LogPrintf(0, "%lu Sectors imported, %llu Sectors beyond the last Sector passed over",
                  (unsigned long)tally->imported, (unsigned long long)tally->beyond);
    else
        LogPrintf(0, "%lu Sectors imported", (unsigned long)tally->imported);
    if (image) e.imageFile.Close();
    if (flags) e.flagFile.Close();
    rawio::Close(from);
    tally->complete = headerRead && done;
    return tally->complete;
}
