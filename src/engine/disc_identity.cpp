// Whether the disc in the drive is the one the image set was taken from.
//
// The flag file's header knows only the sector count, and two discs of the
// same size are common. So the copy also keeps a few sectors the set already
// holds (see CDiscEvidence) and reads them again from the disc before it
// writes anything, and again from a drive that is looked for on the bus.
#include <cstring>

#include "engine/recovery_engine.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kFlagChunk = 4096;  // bitmap bytes read at once
constexpr uint8_t kAllMissingByte = 0xFF;
constexpr uint32_t kBitsPerByte = 8;

// Reads sector `lba` of the image into `data`; false when the image does not hold it whole.
bool ImageSector(CRecoveryEngine& e, uint32_t lba, uint8_t* data)
{
    const uint32_t size = e.copySectorSize;
    const int64_t at = int64_t(uint64_t(lba) * size);
    return e.imageFile.Seek(at) == at && e.imageFile.Read(data, size) == int(size);
}

// One held sector per empty slot, in the order the bitmap lists them. The
// bitmap is only read: a short flag file is not filled in here.
void EvidenceFromImage(CRecoveryEngine& e)
{
    CDiscEvidence& ev = e.evidence;
    const uint32_t count = e.header.sectorCount;
    uint8_t chunk[kFlagChunk];
    uint8_t data[CDiscEvidence::kMaxSectorSize];
    for (uint64_t byte = 0; byte * kBitsPerByte < count && ev.Count() < CDiscEvidence::kSlots;) {
        const int64_t at = int64_t(kFlagHeaderSize + byte);
        int got = e.flagFile.Seek(at) == at ? e.flagFile.Read(chunk, kFlagChunk) : -1;
        if (got <= 0) return;
        for (int i = 0; i < got; ++i) {
            if (chunk[i] == kAllMissingByte) continue;
            for (uint32_t bit = 0; bit < kBitsPerByte; ++bit) {
                const uint64_t lba = (byte + uint64_t(i)) * kBitsPerByte + bit;
                if (lba >= count || (chunk[i] >> bit) & 1 || !ev.Wants(uint32_t(lba))) continue;
                if (ImageSector(e, uint32_t(lba), data)) ev.Offer(uint32_t(lba), data);
            }
        }
        byte += uint64_t(got);
    }
}

// Export mode: no image here. Records of earlier runs in the import file are
// the evidence: one looked at in each eighth of the file, where records of
// one geometry stand at a fixed stride. A head that does not sum up there
// (a torn record shifted the rest) gives none.
void EvidenceFromImport(CRecoveryEngine& e)
{
    const uint64_t stride = kImportHeadSize + uint64_t(e.copySectorSize);
    const int64_t size = e.importFile.Size();
    if (size <= 0) return;
    const uint64_t records = uint64_t(size) / stride;
    uint8_t raw[kImportHeadSize];
    uint8_t data[CDiscEvidence::kMaxSectorSize];
    for (uint64_t k = 0; k < CDiscEvidence::kRegions && records != 0; ++k) {
        const int64_t at = int64_t(records * k / CDiscEvidence::kRegions * stride);
        if (e.importFile.Seek(at) != at || e.importFile.Read(raw, kImportHeadSize) != int(kImportHeadSize)) continue;
        ImportRecord head;
        head.Decode(raw);
        if (head.Sum() != 0 || head.sectorCount != e.header.sectorCount || head.sectorSize != e.copySectorSize) continue;
        if (!e.evidence.Wants(head.lba)) continue;
        if (e.importFile.Read(data, e.copySectorSize) == int(e.copySectorSize)) e.evidence.Offer(head.lba, data);
    }
}

}  // namespace

void CRecoveryEngine::GatherEvidence()
{
    evidence.Reset(header.sectorCount, copySectorSize);
    if (exportMode) EvidenceFromImport(*this);
    else EvidenceFromImage(*this);
}

bool CRecoveryEngine::DiscBelongsToImageSet()
{
    GatherEvidence();
    EvidenceVerdict verdict = drive.CompareEvidence(evidence);
    if (verdict.differs) {
        LogPrintf(0, "Another disc: sector %lu differs from the image set's", (unsigned long)verdict.differingLba);
        return false;
    }
    LogPrintf(2, "Same disc: %d of %d held sectors read again and equal", verdict.compared, evidence.Count());
    return true;
}
