// Evidence that a disc is the one an image set was taken from: a few sectors
// the set already holds, with their bytes, spread over the disc.
//
// Nine sectors at most: sector 16 (the volume descriptor, which differs from
// one disc to the next even where the size is the same) and one held sector
// in each eighth of the disc. They are read again from a candidate disc one
// at a time and compared byte for byte. That costs the drive nine single-
// sector reads, a few seconds with their seeks, and only when a copy starts
// into an existing set or a drive is looked for again: sectors the set holds
// read well once already, so they seldom hit damage. A read that fails is no
// evidence either way; one sector that differs proves another disc.
#pragma once
#include <cstdint>

class CDiscEvidence {
public:
    static constexpr int kRegions = 8;
    static constexpr int kSlots = kRegions + 1;  // slot 0: sector 16
    static constexpr uint32_t kDescriptorLba = 16;
    static constexpr uint32_t kMaxSectorSize = 4096;

    // Empties every slot; samples are `sectorSize` bytes of a disc of `sectorCount` sectors.
    void Reset(uint32_t sectorCount, uint32_t sectorSize);
    // Whether a sector at `lba` would fill an empty slot.
    bool Wants(uint32_t lba) const;
    // Keeps the sector when its slot is empty; `data` holds the sector's bytes.
    void Offer(uint32_t lba, const uint8_t* data);
    // The region (1..8) or slot 0 that `lba` belongs to; -1 beyond the disc.
    int SlotOf(uint32_t lba) const;

    int Count() const;
    uint32_t SectorCount() const { return sectorCount_; }
    uint32_t SectorSize() const { return sectorSize_; }
    bool Held(int slot) const { return slots_[slot].held; }
    uint32_t Lba(int slot) const { return slots_[slot].lba; }
    const uint8_t* Data(int slot) const { return slots_[slot].data; }

private:
    struct Sample {
        bool held = false;
        uint32_t lba = 0;
        uint8_t data[kMaxSectorSize];
    };
    Sample slots_[kSlots];
    uint32_t sectorCount_ = 0;
    uint32_t sectorSize_ = 0;
};

// What reading the evidence again from a disc showed.
struct EvidenceVerdict {
    int compared = 0;        // sectors read and found equal
    bool differs = false;    // one sector read and found different: another disc
    uint32_t differingLba = 0;
};
