#include "crash/verify.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "engine/recovery_engine.h"

namespace {

std::string Problem(const char* what, uint32_t lba)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s (LBA %u)", what, lba);
    return text;
}

}  // namespace

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FlagMissing(const std::vector<uint8_t>& flg, uint32_t lba)
{
    size_t at = kFlagHeaderSize + lba / 8;
    return at >= flg.size() || ((flg[at] >> (lba % 8)) & 1);
}

std::map<uint32_t, std::vector<std::vector<uint8_t>>> ImportRecords(const std::vector<uint8_t>& imp, uint32_t count,
                                                                     uint32_t size)
{
    // Every offset is tried: a torn record's head is followed by the start of
    // the next record, so taking it whole would step over a good head.
    std::map<uint32_t, std::vector<std::vector<uint8_t>>> out;
    for (size_t at = 0; at + kImportHeadSize + size <= imp.size(); ++at) {
        const uint8_t* h = &imp[at];
        ImportRecord r;
        r.Decode(h);
        if (r.Sum() != 0 || r.sectorCount != count || r.sectorSize != size) continue;
        out[r.lba].emplace_back(h + kImportHeadSize, h + kImportHeadSize + size);
    }
    return out;
}

SetReport VerifySet(CSimulatedAspi& disc, const std::string& flgPath, const std::string& imagePath,
                    const std::string& importPath, const std::vector<uint8_t>& startFlags)
{
    SetReport rep;
    std::vector<uint8_t> flg = ReadAll(flgPath);
    if (flg.size() < kFlagHeaderSize) return rep;  // no header yet: nothing claimed
    FlagHeader h;
    h.Decode(flg.data());
    rep.sectorCount = h.sectorCount;
    rep.headerRead = h.sectorsRead;
    rep.headerSums = h.Sum() == 0;
    if (h.sectorSize != kSimSectorSize) {
        rep.ok = false;
        rep.problem = "flag header sector size is not the disc's";
        return rep;
    }
    bool exporting = !importPath.empty();
    std::vector<uint8_t> image = exporting ? std::vector<uint8_t>() : ReadAll(imagePath);
    auto records = exporting ? ImportRecords(ReadAll(importPath), h.sectorCount, h.sectorSize)
                             : std::map<uint32_t, std::vector<std::vector<uint8_t>>>();
    std::vector<uint8_t> want(kSimSectorSize);
    for (uint32_t lba = 0; lba < h.sectorCount && rep.ok; ++lba) {
        if (FlagMissing(flg, lba)) continue;
        ++rep.markedRead;
        if (!disc.DiscContent(0, lba, want.data())) {
            rep.ok = false;
            rep.problem = Problem("a sector marked read lies beyond the disc", lba);
        } else if (!exporting) {
            size_t at = size_t(lba) * kSimSectorSize;
            if (image.size() < at + kSimSectorSize || std::memcmp(&image[at], want.data(), kSimSectorSize) != 0) {
                rep.ok = false;
                rep.problem = Problem("a sector marked read does not hold the disc's content", lba);
            }
        } else if (FlagMissing(startFlags, lba)) {
            bool found = false;
            for (const auto& data : records[lba]) found = found || data == want;
            if (!found) {
                rep.ok = false;
                rep.problem = Problem("a sector marked read is not in the import file", lba);
            }
        }
    }
    for (uint32_t lba = h.sectorCount; rep.ok && kFlagHeaderSize + lba / 8 < flg.size(); ++lba) {
        if (!FlagMissing(flg, lba)) {
            rep.ok = false;
            rep.problem = Problem("a bit past the last sector says read", lba);
        }
    }
    return rep;
}
