#include "cli/rescue_check.h"

#include <cstring>
#include <fstream>
#include <vector>

#include "engine/recovery_engine.h"

namespace {

bool ReadAt(std::ifstream& f, uint64_t offset, void* buf, size_t len)
{
    f.clear();
    f.seekg(std::streamoff(offset));
    f.read(static_cast<char*>(buf), std::streamsize(len));
    return f.good() && size_t(f.gcount()) == len;
}

}  // namespace

RescueCheck CheckRescue(const std::string& flagPath, const std::string& imagePath, const DiscReader& disc)
{
    RescueCheck r;
    std::ifstream flags(flagPath, std::ios::binary);
    uint8_t raw[kFlagHeaderSize];
    if (!ReadAt(flags, 0, raw, sizeof raw)) {
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
    std::ifstream image(imagePath, std::ios::binary);
    // The bitmap is read whole: a demo disc's is a few kilobytes. Bytes the
    // file does not hold count as missing, as the engine reads them.
    std::vector<uint8_t> bitmap((uint64_t(header.sectorCount) + 7) / 8, 0xFF);
    flags.read(reinterpret_cast<char*>(bitmap.data()), std::streamsize(bitmap.size()));
    r.filesRead = true;
    std::vector<uint8_t> expected(kNormalSectorSize), actual(kNormalSectorSize);
    for (uint32_t lba = 0; lba < header.sectorCount; ++lba) {
        if (bitmap[lba / 8] & (1u << (lba % 8))) continue;  // still missing
        ++r.marked;
        bool same = image.is_open() && disc(lba, expected.data()) &&
                    ReadAt(image, uint64_t(lba) * kNormalSectorSize, actual.data(), actual.size()) &&
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
