// Keeping the evidence sectors, and reading them again from the selected drive.
#include "drive/disc_evidence.h"

#include <cstring>

#include "drive/cd_drive.h"

void CDiscEvidence::Reset(uint32_t sectorCount, uint32_t sectorSize)
{
    for (Sample& s : slots_) s.held = false;
    sectorCount_ = sectorCount;
    sectorSize_ = sectorSize <= kMaxSectorSize ? sectorSize : 0;  // 0: nothing is kept
}

int CDiscEvidence::SlotOf(uint32_t lba) const
{
    if (lba >= sectorCount_) return -1;
    if (lba == kDescriptorLba) return 0;
    return 1 + int(uint64_t(lba) * kRegions / sectorCount_);
}

bool CDiscEvidence::Wants(uint32_t lba) const
{
    int slot = SlotOf(lba);
    return sectorSize_ != 0 && slot >= 0 && !slots_[slot].held;
}

void CDiscEvidence::Offer(uint32_t lba, const uint8_t* data)
{
    if (!Wants(lba)) return;
    Sample& s = slots_[SlotOf(lba)];
    s.lba = lba;
    std::memcpy(s.data, data, sectorSize_);
    s.held = true;
}

int CDiscEvidence::Count() const
{
    int n = 0;
    for (const Sample& s : slots_) n += s.held ? 1 : 0;
    return n;
}

EvidenceVerdict CCdDrive::CompareEvidence(const CDiscEvidence& evidence)
{
    EvidenceVerdict verdict;
    // A one-sector read fills one block of the drive; what a larger image
    // sector holds beyond it did not come from the disc.
    const uint32_t bytes = evidence.SectorSize() < blockLength ? evidence.SectorSize() : blockLength;
    for (int slot = 0; slot < CDiscEvidence::kSlots && !verdict.differs; ++slot) {
        if (!evidence.Held(slot) || !DrvBlkRead(evidence.Lba(slot), 1)) continue;
        if (std::memcmp(readBuffer, evidence.Data(slot), bytes) == 0) {
            ++verdict.compared;
        } else {
            verdict.differs = true;
            verdict.differingLba = evidence.Lba(slot);
        }
    }
    return verdict;
}
