// The short fixed command sequences of the drive object: selection, and the
// three kinds of drive care the recovery loop asks for.
#include "drive/cd_drive.h"
#include "platform/clock.h"

bool CCdDrive::SelectDrive(int index)
{
    if (index < 0 || index >= driveCount) {
        selectedIndex = 0;
        return false;
    }
    selectedIndex = index;
    detached_ = false;
    labelSettled_ = false;
    const DriveEntry& e = driveList.entries[index];
    aspi_.SetTimeout(e.hostAdapter, e.target, e.lun, kSelectTimeoutHalfSeconds);
    // The first TEST UNIT READY after a change often reports the change itself
    // (unit attention); the second one tells the state.
    DrvReady();
    if (DrvReady()) DrvCap();
    return true;
}

bool CCdDrive::PauseDrive(uint32_t milliseconds)
{
    DrvStop();
    SleepMs(milliseconds);
    DrvStart();
    DrvReady();
    return DrvReady();
}

bool CCdDrive::CycleTray(uint32_t milliseconds)
{
    DrvStop();
    // A drive that cannot close its tray cannot move it at all: only stop and start it.
    if (DrvClose()) {
        DrvOpen();
        uint32_t half = milliseconds >> 1;  // both halves: an odd millisecond is dropped
        SleepMs(half);
        DrvClose();
        SleepMs(half);
        DrvReady();
    }
    DrvStart();
    return DrvReady();
}

bool CCdDrive::SpinUp(uint32_t firstLba, uint32_t count)
{
    DrvStart();
    DrvReady();
    if (!DrvReady()) return false;
    for (uint32_t i = 0; i < count; ++i)
        if (!DrvBlkRead(firstLba + i, 1)) return false;
    return true;
}
