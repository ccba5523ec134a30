#include "copy_helpers.h"

#include <fstream>
#include <iterator>

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

bool FileExists(const std::string& path)
{
    return std::ifstream(path, std::ios::binary).good();
}

std::vector<uint8_t> NewFlagFile(uint32_t sectors, uint32_t sectorSize, uint32_t sectorsRead)
{
    FlagHeader h;
    h.sectorCount = sectors;
    h.sectorSize = sectorSize;
    h.sectorsRead = sectorsRead;
    h.checksum = 0 - h.Sum();
    std::vector<uint8_t> bytes(kFlagHeaderSize + 4 * (sectors / 32 + 3), 0xFF);
    h.Encode(bytes.data());
    return bytes;
}

FlagHeader HeaderOf(const std::vector<uint8_t>& flagFile)
{
    FlagHeader h;
    if (flagFile.size() >= kFlagHeaderSize) h.Decode(flagFile.data());
    return h;
}

bool Missing(const std::vector<uint8_t>& flagFile, uint32_t lba)
{
    size_t at = kFlagHeaderSize + lba / 8;
    return at >= flagFile.size() || (flagFile[at] >> (lba % 8) & 1);
}

void SetMissing(std::vector<uint8_t>& flagFile, uint32_t lba, bool missing)
{
    uint8_t bit = uint8_t(1u << (lba % 8));
    uint8_t& byte = flagFile[kFlagHeaderSize + lba / 8];
    byte = missing ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
}

uint32_t CountRead(const std::vector<uint8_t>& flagFile, uint32_t sectors)
{
    uint32_t n = 0;
    for (uint32_t lba = 0; lba < sectors; ++lba) n += !Missing(flagFile, lba);
    return n;
}
