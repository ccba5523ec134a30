// Drive care: what a failing drive gets between read errors, now and then,
// at random: a pause, a spin-up read, a tray cycle or a long cooldown.
#include "app/core/settings.h"
#include "engine/recovery_engine.h"
#include "platform/clock.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kCountdownMask = 0xF;  // 0..15 errors pass between two actions
constexpr uint32_t kChoiceMask = 0xF;
constexpr uint32_t kLastPauseChoice = 7;      // 0..7: pause the drive
constexpr uint32_t kLastSpinUpChoice = 11;    // 8..11: spin-up read
constexpr uint32_t kLastTrayChoice = 13;      // 12..13: tray cycle; 14..15: cooldown
constexpr uint32_t kPauseRangeMs = 8192;
constexpr uint32_t kSpinUpSectors = 4096;     // discs of at most this many sectors get none
constexpr uint32_t kTrayRangeMs = 16384;
constexpr uint32_t kCooldownRangeSeconds = 1800;

constexpr uint32_t kCooldownMaxSeconds = 1800;
constexpr uint32_t kCooldownClampSeconds = 1799;  // what a value above the maximum becomes
constexpr uint32_t kCooldownMinSeconds = 5;
constexpr uint32_t kCountdownStepMs = 1000;
constexpr uint32_t kSecondsPerMinute = 60;
// A drive that has not answered for a whole wait is detached; while it is,
// it is looked for on the bus every 5 s (20 steps of the wait): a USB drive
// plugged in again is there within seconds, under a new address. A drive
// that is only slow to become ready is never looked for.
constexpr uint32_t kLookAgainEverySteps = 20;
constexpr uint32_t kReadyWaitLimitMs = kReadyWaitTries * kReadyWaitMs;  // one minute
constexpr uint32_t kMsPerSecond = 1000;

// The tick count compared with a deadline as a signed distance, so that the
// counter's wrap every 49.7 days does not make the deadline look far away.
bool TickAfter(uint32_t now, uint32_t deadline)
{
    return int32_t(now - deadline) > 0;
}

}  // namespace

uint32_t CRecoveryEngine::DriveCare()
{
    uint32_t countdown = careCountdown & kCountdownMask;
    if (countdown != 0) {
        careCountdown = countdown - 1;
        return 0;
    }
    careCountdown = Random15();
    uint32_t choice = Random15() & kChoiceMask;
    uint32_t start = TickCount();

    if (choice <= kLastPauseChoice) {
        uint32_t ms = ScaledRandom(kPauseRangeMs);
        LogPrintf(2, "Pause %lu msec", (unsigned long)ms);
        drive.PauseDrive(ms);
    } else if (choice <= kLastSpinUpChoice) {
        if (header.sectorCount > kSpinUpSectors) {
            uint32_t lba = ScaledRandom(header.sectorCount - kSpinUpSectors);
            uint32_t count = ScaledRandom(kSpinUpSectors);
            LogPrintf(2, "Spinup %lu %lu", (unsigned long)lba, (unsigned long)count);
            if (!drive.SpinUp(lba, count)) LogPrintf(2, "Spinup Failed");
        }
    } else if (choice <= kLastTrayChoice) {
        if (settings.cycleTray.load(std::memory_order_relaxed)) {
            uint32_t ms = ScaledRandom(kTrayRangeMs);
            LogPrintf(2, "Cycle Tray %lu msec", (unsigned long)ms);
            drive.CycleTray(ms);
        }
    } else if (settings.allowCooldown.load(std::memory_order_relaxed) && TickAfter(TickCount(), nextCooldownTick)) {
        uint32_t seconds = ScaledRandom(kCooldownRangeSeconds);
        LogPrintf(1, "Cooldown %lu sec", (unsigned long)seconds);
        CoolDown(seconds);
    }

    // Whatever happened, the next read finds the drive started; a Pause cuts
    // the wait short.
    drive.DrvStart();
    bool answered = AwaitDrive();
    uint32_t spent = TickCount() - start;
    // Where the line falls between care time and failure time: care is what
    // a drive that answers is given. A drive that has not answered ready by
    // the end of the wait (a minute) was given nothing: it is unplugged,
    // locked up or holds no disc it can read, and every failed command on it
    // takes no time at all. Were this episode left out of the failure time,
    // such a drive would keep a copy going forever and never reach the
    // give-up time. So all of it, action and wait, counts as failure time.
    if (!answered && runRequested.load(std::memory_order_relaxed)) return 0;
    return spent;
}

// Both waits are bounded by the clock, not by a number of tries: a TEST
// UNIT READY that runs into its 15-s time-out would stretch a count of tries
// to an hour.
bool CRecoveryEngine::AwaitDrive()
{
    const uint32_t start = TickCount();
    if (drive.Detached()) {
        for (uint32_t step = 1; runRequested.load(std::memory_order_relaxed); ++step) {
            SleepMs(kReadyWaitMs);
            if (step % kLookAgainEverySteps == 0 && LookForDrive()) return drive.DrvReady();
            if (TickCount() - start >= kReadyWaitLimitMs) break;
        }
        return false;
    }
    for (;;) {
        if (drive.DrvReady()) return true;
        if (!runRequested.load(std::memory_order_relaxed)) return false;
        SleepMs(kReadyWaitMs);
        if (TickCount() - start >= kReadyWaitLimitMs) break;
    }
    // Nothing at its address is read again until it is known to be the same
    // drive with the same disc.
    drive.Detach();
    const DriveEntry& e = drive.Entry(drive.SelectedIndex());
    LogPrintf(0, "Drive gone: %s%s (no answer for %lu s; looking for it)", e.addressText, e.name,
              (unsigned long)((TickCount() - start) / kMsPerSecond));
    return false;
}

bool CRecoveryEngine::LookForDrive()
{
    if (!drive.FindAgain(&evidence)) return false;
    const DriveEntry& e = drive.Entry(drive.SelectedIndex());
    LogPrintf(0, "Drive found again: %s%s", e.addressText, e.name);
    return true;
}

void CRecoveryEngine::EndDriveSearch()
{
    if (!drive.Detached()) return;
    const DriveEntry& e = drive.Entry(drive.SelectedIndex());
    LogPrintf(0, "Drive did not come back: %s%s", e.addressText, e.name);
}

void CRecoveryEngine::CoolDown(uint32_t seconds)
{
    if (seconds > kCooldownMaxSeconds) seconds = kCooldownClampSeconds;
    if (seconds < kCooldownMinSeconds) seconds = kCooldownMinSeconds;

    drive.DrvStop();
    // Only a drive that can close its tray has it opened for the cooldown.
    if (drive.DrvClose() && settings.cycleTray.load(std::memory_order_relaxed)) drive.DrvOpen();

    for (uint32_t remaining = seconds; remaining > 0; --remaining) {
        if (!settings.allowCooldown.load(std::memory_order_relaxed)) break;
        // Pause: leave the drive stopped and the tray as it is.
        if (!runRequested.load(std::memory_order_relaxed)) return;
        SleepMs(kCountdownStepMs);
        StatusPrintf(kSlotTitle, "%i:%02i Paused", int(remaining / kSecondsPerMinute),
                     int(remaining % kSecondsPerMinute));
    }
    nextCooldownTick = TickCount() + kCooldownSpacingMs;
    drive.DrvClose();
    drive.DrvStart();
    drive.DrvReady();
}
