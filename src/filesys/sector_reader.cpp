#include "filesys/sector_reader.h"

#include <algorithm>
#include <cstring>

#include "engine/recovery_engine.h"

CImageSetReader::~CImageSetReader()
{
    if (imageFd_ >= 0) rawio::Close(imageFd_);
}

bool CImageSetReader::Open(const std::string& flagPath, const std::string& imagePath, std::string* error)
{
    int flagFd = rawio::OpenReadOnly(flagPath.c_str());
    if (flagFd < 0) {
        *error = flagPath + ": cannot open the flag file";
        return false;
    }
    uint8_t raw[kFlagHeaderSize];
    bool headerRead = rawio::Read(flagFd, raw, kFlagHeaderSize) == int(kFlagHeaderSize);
    FlagHeader header;
    if (headerRead) header.Decode(raw);
    if (!headerRead || header.sectorSize != kFsSectorSize) {
        rawio::Close(flagFd);
        *error = flagPath + (headerRead ? ": the flag file holds " + std::to_string(header.sectorSize) +
                                              "-byte sectors; file systems are read from 2048-byte sectors"
                                        : ": too short for a flag file header");
        return false;
    }
    headerValid_ = header.Sum() == 0;
    sectorCount_ = header.sectorCount;
    // Bytes the file does not hold read as missing, as the engine reads them.
    bitmap_.assign((uint64_t(sectorCount_) + 7) / 8, 0xFF);
    size_t got = 0;
    while (got < bitmap_.size()) {
        unsigned chunk = unsigned(std::min<size_t>(bitmap_.size() - got, 1u << 20));
        int n = rawio::Read(flagFd, bitmap_.data() + got, chunk);
        if (n <= 0) break;
        got += size_t(n);
    }
    rawio::Close(flagFd);
    imageFd_ = rawio::OpenReadOnly(imagePath.c_str());
    if (imageFd_ < 0) {
        *error = imagePath + ": cannot open the image";
        return false;
    }
    return true;
}

bool CImageSetReader::Present(uint32_t lba) const
{
    return lba < sectorCount_ && !(bitmap_[lba / 8] & (1u << (lba % 8)));
}

bool CImageSetReader::Read(uint32_t lba, uint8_t* out)
{
    if (!Present(lba) || imageFd_ < 0) return false;
    int64_t offset = int64_t(lba) * kFsSectorSize;
    return rawio::Seek(imageFd_, offset, rawio::kSeekSet) == offset &&
           rawio::Read(imageFd_, out, kFsSectorSize) == int(kFsSectorSize);
}

CMemoryReader::CMemoryReader(const uint8_t* image, size_t bytes, uint32_t sectorCount)
    : image_(image), bytes_(bytes), sectorCount_(sectorCount), missing_(sectorCount, false)
{
}

void CMemoryReader::SetMissing(uint32_t lba, bool missing)
{
    if (lba < sectorCount_) missing_[lba] = missing;
}

bool CMemoryReader::Present(uint32_t lba) const
{
    return lba < sectorCount_ && !missing_[lba];
}

bool CMemoryReader::Read(uint32_t lba, uint8_t* out)
{
    if (!Present(lba)) return false;
    uint64_t offset = uint64_t(lba) * kFsSectorSize;
    size_t have = offset < bytes_ ? size_t(std::min<uint64_t>(bytes_ - offset, kFsSectorSize)) : 0;
    if (have) std::memcpy(out, image_ + offset, have);
    std::memset(out + have, 0, kFsSectorSize - have);
    return true;
}
