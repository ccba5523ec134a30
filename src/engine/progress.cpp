// ReportProgress: the copy's counters as the texts of the Progress panel,
// the destination's free space and the percentage in the window title.
#include "engine/recovery_engine.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kPermille = 1000;
constexpr uint32_t kMsPerSecond = 1000;

// Slots of the Progress panel, in panel order.
enum ProgressSlot : int {
    kSlotCurrent = 1,
    kSlotRead,
    kSlotMissing,
    kSlotSpeed,
    kSlotErrors,
    kSlotFailure,
    kSlotTotal,
};

// Divides by sectorCount - 1, so a fully read disc shows 100.0% (or a little
// more on very small discs); 0 or 1 sectors count as complete.
uint32_t Permille(uint32_t sectorsRead, uint32_t sectorCount)
{
    if (sectorCount < 2) return kPermille;
    return sectorsRead * kPermille / (sectorCount - 1);
}

}  // namespace

void CRecoveryEngine::ReportProgress()
{
    const FlagHeader& h = header;
    StatusPrintf(kSlotSectors, "Sectors:\t   %lu", (unsigned long)h.sectorCount);
    StatusPrintf(kSlotCurrent, "Current:\t   %lu", (unsigned long)position.load(std::memory_order_relaxed));
    StatusPrintf(kSlotRead, "Read:\t   %lu", (unsigned long)h.sectorsRead);
    StatusPrintf(kSlotMissing, "Missing:\t   %lu", (unsigned long)(h.sectorCount - h.sectorsRead));
    // Sectors read over the last four ticks of 500 ms: kilobytes per second.
    StatusPrintf(kSlotSpeed, "K/Sec:\t   %lu", (unsigned long)(h.sectorsRead - readHistory[0]));
    StatusPrintf(kSlotErrors, "Errors:\t   %lu", (unsigned long)h.readErrors);
    // One static buffer behind FormatHms: each text is posted before the next call.
    StatusPrintf(kSlotFailure, "Failure:\t   %s", FormatHms(FailureMs() / kMsPerSecond));
    StatusPrintf(kSlotTotal, "Total:\t   %s", FormatHms(h.elapsedSeconds + (tickNow - tickStart) / kMsPerSecond));
    StatusPrintf(kSlotDestination, "Destination  (%lu MB Free)", (unsigned long)GetFreeMB());
    uint32_t permille = Permille(h.sectorsRead, h.sectorCount);
    StatusPrintf(kSlotTitle, "%u.%u%% %s", unsigned(permille / 10), unsigned(permille % 10), drive.VolumeLabel());
    StatusPrintf(kSlotRepaintMap, "");
    if (progressObserver) progressObserver->OnProgress(*this);
}
