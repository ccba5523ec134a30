// Finding the selected drive again after it went away: a USB drive that drops
// out and is plugged in again comes back at another address, and what answers
// at the old one may be another drive, or the same drive with another disc.
// Only the same drive holding the same disc is taken.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drive/cd_drive.h"

namespace {

constexpr int kMaxCandidates = 64;  // CD/DVD devices looked at in one search
constexpr uint32_t kVolumeDescriptorLba = 16;

bool SameAddress(const DeviceAddress& a, const DriveEntry& e)
{
    return a.hostAdapter == e.hostAdapter && a.target == e.target && a.lun == e.lun;
}

}  // namespace

bool CCdDrive::IsSameDrive(const DriveEntry& wanted, uint32_t lastLba, uint32_t length, const char* label,
                           const CDiscEvidence* evidence)
{
    char name[sizeof wanted.name];
    char revision[sizeof wanted.revision];
    if (!Inquire(name, revision)) return false;
    if (std::strcmp(name, wanted.name) != 0 || std::strcmp(revision, wanted.revision) != 0) return false;
    // The first TEST UNIT READY after a drive appears reports the change itself.
    DrvReady();
    if (!DrvReady()) return false;
    uint32_t nowLastLba = 0;
    uint32_t nowLength = 0;
    if (!ReadCapacity(&nowLastLba, &nowLength) || nowLastLba != lastLba || nowLength != length) return false;
    // A label that was never read from the disc says nothing, and neither
    // does a descriptor that fails to read now; one that reads is compared
    // as ReadVolumeLabel takes it.
    if (labelSettled_ && DrvBlkRead(kVolumeDescriptorLba, 1)) {
        char nowLabel[kLabelSize];
        LabelOfDescriptor(readBuffer, nowLabel);
        if (std::strcmp(nowLabel, label) != 0) return false;
    }
    return evidence == nullptr || !CompareEvidence(*evidence).differs;
}

bool CCdDrive::FindAgain(const CDiscEvidence* evidence)
{
    if (selectedIndex < 0 || selectedIndex >= driveCount) return false;
    DriveEntry& entry = driveList.entries[selectedIndex];
    const DriveEntry wanted = entry;
    const uint32_t lastLba = reportedLastLba.load(std::memory_order_relaxed);
    const uint32_t length = blockLength;

    DeviceAddress found[kMaxCandidates];
    int count = aspi_.RescanCdDevices(found, kMaxCandidates);
    // The old address first: a drive that only stopped answering for a while is still there.
    std::stable_partition(found, found + count, [&](const DeviceAddress& a) { return SameAddress(a, wanted); });

    detached_ = false;  // the candidates are asked through the entry, one after the other
    for (int i = 0; i < count; ++i) {
        entry.hostAdapter = found[i].hostAdapter;
        entry.target = found[i].target;
        entry.lun = found[i].lun;
        if (!IsSameDrive(wanted, lastLba, length, volumeLabel, evidence)) continue;
        std::snprintf(entry.addressText, sizeof entry.addressText, "[%x:%x:%x] ", unsigned(entry.hostAdapter),
                      unsigned(entry.target), unsigned(entry.lun));
        // A device that appeared anew has the manager's default time-out.
        aspi_.SetTimeout(entry.hostAdapter, entry.target, entry.lun, kSelectTimeoutHalfSeconds);
        return true;
    }
    entry.hostAdapter = wanted.hostAdapter;
    entry.target = wanted.target;
    entry.lun = wanted.lun;
    // The rescan may have given the old address to another device.
    detached_ = true;
    return false;
}
