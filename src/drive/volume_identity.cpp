// What the drive object can tell about the disc before a copy: its volume
// label from the ISO 9660 primary volume descriptor, and its size by reading.
#include <cstdio>

#include "drive/cd_drive.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kVolumeDescriptorLba = 16;   // primary volume descriptor
constexpr int kVolumeIdOffset = 40;             // volume identifier field
constexpr int kVolumeIdLength = 32;

bool EndsLabel(uint8_t c)
{
    return c == 0 || c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool CCdDrive::ReadVolumeLabel()
{
    labelSettled_ = SettleVolumeLabel();
    return labelSettled_;
}

bool CCdDrive::SettleVolumeLabel()
{
    volumeLabel[0] = '\0';
    if (driveCount == 0) return false;
    if (!DrvReady()) return false;
    if (!DrvBlkRead(kVolumeDescriptorLba, 1)) {
        std::snprintf(volumeLabel, sizeof volumeLabel, "%s", kUnnamedVolume);
        return false;
    }
    LabelOfDescriptor(readBuffer, volumeLabel);
    return true;
}

void LabelOfDescriptor(const uint8_t* sector, char (&label)[kLabelSize])
{
    // Only the first word of the identifier: the label becomes a file name.
    const uint8_t* id = sector + kVolumeIdOffset;
    int n = 0;
    while (n < kVolumeIdLength && !EndsLabel(id[n])) {
        label[n] = char(id[n]);
        ++n;
    }
    label[n] = '\0';
    if (n == 0) std::snprintf(label, kLabelSize, "%s", kUnnamedVolume);
}

// Assumes the readable part of the disc is one run from the start: probes
// powers of two upward, then settles the bits below the highest one that read.
uint32_t CCdDrive::EstimateSize()
{
    blockLength = kDefaultBlockLength;
    uint32_t address = 1;
    while (DrvBlkRead(address, 1)) {
        LogPrintf(4, "top %u", address);
        address <<= 1;
        if (address == 0) break;  // every power of two read; the result is 0
    }
    uint32_t result = address >> 1;
    if (result != 0) {
        // The last round has no bit left: it reads the result once more.
        for (uint32_t bit = result >> 1;; bit >>= 1) {
            if (DrvBlkRead(result | bit, 1)) result |= bit;
            LogPrintf(4, "lba %u", result);
            if (bit == 0) break;
        }
    }
    estimatedLastLba.store(result, std::memory_order_relaxed);
    return result;
}
