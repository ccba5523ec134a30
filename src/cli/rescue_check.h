// Checks a rescued image set against the disc it came from: every sector
// whose flag says read must hold the disc's content in the image.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

struct RescueCheck {
    bool filesRead = false;     // the flag file header and the image could be read
    bool headerValid = false;   // the header's twelve words sum to zero
    uint32_t sectorCount = 0;   // from the header
    uint32_t sectorSize = 0;
    uint32_t headerRead = 0;    // the header's sectorsRead
    uint32_t marked = 0;        // flags that say read
    uint32_t correct = 0;       // of those, sectors equal to the disc's
    uint32_t wrong = 0;         // of those, sectors that differ or are not in the image
    uint32_t firstWrong = 0;    // LBA of the first wrong one (when wrong > 0)
    std::string problem;        // why filesRead is false
};

// The disc's 2048 bytes at `lba`; false where the disc has none.
using DiscReader = std::function<bool(uint32_t lba, uint8_t* out)>;

RescueCheck CheckRescue(const std::string& flagPath, const std::string& imagePath, const DiscReader& disc);
