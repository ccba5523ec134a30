// Image sets and disc files made by hand for the mapfile tests.
#pragma once
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/recovery_engine.h"

inline std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A disc of `sectors` sectors of 2048 random bytes.
inline std::vector<uint8_t> RandomDisc(uint32_t sectors, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> disc(size_t(sectors) * kNormalSectorSize);
    for (uint8_t& b : disc) b = uint8_t(rng());
    return disc;
}

// A flag file for `read.size()` sectors (true: read) with a valid header, and
// an image holding the disc's data for the sectors read and zeros elsewhere.
inline void WriteImageSet(const std::string& base, const std::vector<bool>& read, const std::vector<uint8_t>& disc)
{
    FlagHeader h;
    h.sectorCount = uint32_t(read.size());
    h.sectorSize = kNormalSectorSize;
    std::vector<uint8_t> flg(kFlagHeaderSize + 4 * (read.size() / 32 + 3), 0xFF);
    std::vector<uint8_t> iso(read.size() * kNormalSectorSize, 0);
    for (size_t i = 0; i < read.size(); ++i) {
        if (!read[i]) continue;
        flg[kFlagHeaderSize + i / 8] &= uint8_t(~(1u << (i % 8)));
        ++h.sectorsRead;
        std::copy_n(disc.begin() + long(i * kNormalSectorSize), kNormalSectorSize, iso.begin() + long(i * kNormalSectorSize));
    }
    h.checksum = 0u - h.Sum();
    h.Encode(flg.data());
    WriteBytes(base + ".flg", flg);
    WriteBytes(base + ".iso", iso);
}

inline bool FlagRead(const std::vector<uint8_t>& flg, uint32_t lba)
{
    size_t at = kFlagHeaderSize + lba / 8;
    return at < flg.size() && !((flg[at] >> (lba % 8)) & 1);
}
