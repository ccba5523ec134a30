#include "cli/rescue_check.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/recovery_engine.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool ReadAt(FILE* f, uint64_t offset, void* buf, size_t len)
{
    if (fseeko(f, off_t(offset), SEEK_SET) != 0) return false;
    return std::fread(buf, 1, len, f) == len;
}

}  // namespace

RescueCheck CheckRescue(const std::string& flagPath, const std::string& imagePath, const DiscReader& disc)
{
    RescueCheck r;
    File flags(std::fopen(flagPath.c_str(), "rb"));
    uint8_t raw[kFlagHeaderSize];
    if (!flags || std::fread(raw, 1, sizeof raw, flags.get()) != sizeof raw) {
        r.problem = "cannot read the header of " + flagPath;
        return r;
    }
    FlagHeader header;
    header.Decode(raw);
    r.headerValid = header.Sum() == 0;
    r.sectorCount = header.sectorCount;
    r.sectorSize = header.sectorSize;
    r.headerRead = header.sectorsRead;
    if (header.sectorSize != kNormalSectorSize) {
        r.problem = "the flag file holds " + std::to_string(header.sectorSize) + "-byte sectors";
        return r;
    }
    File image(std::fopen(imagePath.c_str(), "rb"));
    // The bitmap is read whole: a demo disc's is a few kilobytes. Bytes the
    // file does not hold count as missing, as the engine reads them.
    std::vector<uint8_t> bitmap((uint64_t(header.sectorCount) + 7) / 8, 0xFF);
    size_t got = std::fread(bitmap.data(), 1, bitmap.size(), flags.get());
    (void)got;
    r.filesRead = true;
    std::vector<uint8_t> expected(kNormalSectorSize), actual(kNormalSectorSize);
    for (uint32_t lba = 0; lba < header.sectorCount; ++lba) {
        if (bitmap[lba / 8] & (1u << (lba % 8))) continue;  // still missing
        ++r.marked;
        bool same = image && disc(lba, expected.data()) &&
                    ReadAt(image.get(), uint64_t(lba) * kNormalSectorSize, actual.data(), actual.size()) &&
                    std::memcmp(expected.data(), actual.data(), expected.size()) == 0;
        if (same) {
            ++r.correct;
        } else {
            if (r.wrong == 0) r.firstWrong = lba;
            ++r.wrong;
        }
    }
    return r;
}
