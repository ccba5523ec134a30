// Where the file-system reader gets its sectors from: the image set of a
// rescue (image and flag file), a drive, or memory in the tests.
//
// A sector that the flag file marks missing is unreadable: the reader never
// takes the zeros (or old bytes) that the image holds at its place.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kFsSectorSize = 2048;

class ISectorReader {
public:
    virtual ~ISectorReader() = default;
    // Sectors of the copy: LBAs 0 .. SectorCount()-1.
    virtual uint32_t SectorCount() const = 0;
    // Whether the sector's content is known (read); false beyond the copy.
    virtual bool Present(uint32_t lba) const = 0;
    // The sector's 2048 bytes; false when it is not present or cannot be read.
    virtual bool Read(uint32_t lba, uint8_t* out) = 0;
};

// An image set on disk, opened read-only. The flag file's bitmap is held in
// memory (one bit a sector: 290 KB for a single-layer DVD).
class CImageSetReader : public ISectorReader {
public:
    CImageSetReader() = default;
    ~CImageSetReader() override;
    CImageSetReader(const CImageSetReader&) = delete;
    CImageSetReader& operator=(const CImageSetReader&) = delete;

    // False with *error set when a file cannot be opened or the flag file
    // holds no usable header (too short, or sectors other than 2048 bytes).
    bool Open(const std::string& flagPath, const std::string& imagePath, std::string* error);

    uint32_t SectorCount() const override { return sectorCount_; }
    bool Present(uint32_t lba) const override;
    bool Read(uint32_t lba, uint8_t* out) override;
    // Whether the header's words sum to zero.
    bool HeaderValid() const { return headerValid_; }

private:
    int imageFd_ = -1;
    uint32_t sectorCount_ = 0;
    uint64_t imageSectors_ = 0;    // whole sectors the image file holds
    bool headerValid_ = false;
    std::vector<uint8_t> bitmap_;  // bit set: missing
};

// Sectors held in memory, for tests and the fuzz target: `image` holds the
// sectors one after another (a short last sector is padded with zeros).
class CMemoryReader : public ISectorReader {
public:
    CMemoryReader(const uint8_t* image, size_t bytes, uint32_t sectorCount);
    void SetMissing(uint32_t lba, bool missing);

    uint32_t SectorCount() const override { return sectorCount_; }
    bool Present(uint32_t lba) const override;
    bool Read(uint32_t lba, uint8_t* out) override;

private:
    const uint8_t* image_;
    size_t bytes_;
    uint32_t sectorCount_;
    std::vector<bool> missing_;
};
