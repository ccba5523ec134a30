#include "filesys/sector_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/rawio.h"

namespace {

constexpr unsigned kFlagHeaderBytes = 48;

uint32_t Word(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

CImageSetReader::~CImageSetReader()
{
    if (imageFd_ >= 0) rawio::Close(imageFd_);
}

bool CImageSetReader::Open(const std::string& flagPath, const std::string& imagePath, std::string* error)
{
    int flagFd = rawio::OpenReadOnly(flagPath.c_str());
    if (flagFd < 0) {
        *error = flagPath + ": cannot open the flag file: " + rawio::LastOpenFailure();
        return false;
    }
    // The header: sector count, sector size, ..., twelve words that sum to zero.
    uint8_t raw[kFlagHeaderBytes];
    bool headerRead = rawio::Read(flagFd, raw, kFlagHeaderBytes) == int(kFlagHeaderBytes);
    uint32_t sectorSize = headerRead ? Word(raw + 4) : 0;
    if (!headerRead || sectorSize != kFsSectorSize) {
        rawio::Close(flagFd);
        *error = flagPath + (headerRead ? ": the flag file holds " + std::to_string(sectorSize) +
                                              "-byte sectors; file systems are read from 2048-byte sectors"
                                        : ": too short for a flag file header");
        return false;
    }
    uint32_t sum = 0;
    for (unsigned i = 0; i < kFlagHeaderBytes; i += 4) sum += Word(raw + i);
    headerValid_ = sum == 0;
    sectorCount_ = Word(raw);
    // Bytes the file does not hold read as missing, as the engine reads them;
    // the bitmap is never larger than the file (the header may claim anything).
    int64_t flagBytes = rawio::Size(flagFd);
    uint64_t held = flagBytes > int64_t(kFlagHeaderBytes) ? uint64_t(flagBytes) - kFlagHeaderBytes : 0;
    bitmap_.assign(size_t(std::min<uint64_t>((uint64_t(sectorCount_) + 7) / 8, held)), 0xFF);
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
        *error = imagePath + ": cannot open the image: " + rawio::LastOpenFailure();
        return false;
    }
    // Sectors past the end of the image are not in the copy, whatever the flags say.
    int64_t imageBytes = rawio::Size(imageFd_);
    imageSectors_ = imageBytes > 0 ? uint64_t(imageBytes) / kFsSectorSize : 0;
    return true;
}

bool CImageSetReader::Present(uint32_t lba) const
{
    return lba < sectorCount_ && lba < imageSectors_ && lba / 8 < bitmap_.size() &&
           !(bitmap_[lba / 8] & (1u << (lba % 8)));
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
