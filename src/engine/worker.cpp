// The worker thread: owns the source drive after start-up, idles between
// copies serving the front end's requests, and runs one copy per Start.
#include "app/core/settings.h"
#include "engine/recovery_engine.h"
#include "platform/clock.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kDestinationEveryCycles = 10;  // free space about once a second
constexpr uint32_t kKickNotReadyAfterCycles = 600;  // a start command about once a minute

constexpr auto kRelaxed = std::memory_order_relaxed;

bool IsFinished(int outcome)
{
    return outcome == OUTCOME_OK || outcome == OUTCOME_GIVE_UP;
}

// The source goes back to not ready after any change of drive or tray.
void ForgetSource(CRecoveryEngine& e)
{
    e.sourceReady.store(false, kRelaxed);
    e.labelRead = false;
    e.sizeForced.store(false, kRelaxed);
    e.sourceChanged.store(true, kRelaxed);
}

void PostSourceGone()
{
    StatusPrintf(kSlotSource, "Source");
    PostEngineState(ENGINE_SOURCE_NOT_READY);
}

// Steps 1 to 4 of an idle cycle: the requests of the front end.
void ServeRequests(CRecoveryEngine& e)
{
    CCdDrive& drive = e.drive;
    if (e.selectDriveRequested.load(kRelaxed)) {
        PostSourceGone();
        drive.DrvStop();
        drive.SelectDrive(e.selectDriveIndex.load(kRelaxed));
        drive.DrvStart();
        e.selectDriveRequested.store(false, kRelaxed);
        ForgetSource(e);
    }
    if (e.ejectRequested.load(kRelaxed)) {
        PostSourceGone();
        drive.DrvStop();
        drive.DrvOpen();
        e.ejectRequested.store(false, kRelaxed);
        ForgetSource(e);
    }
    if (e.loadRequested.load(kRelaxed)) {
        drive.DrvClose();
        drive.DrvStart();
        e.loadRequested.store(false, kRelaxed);
        ForgetSource(e);
    }
    if (e.probeSizeRequested.load(kRelaxed)) {
        drive.EstimateSize();
        e.probeSizeRequested.store(false, kRelaxed);
    }
    if (e.fileSystemSizeRequested.load(kRelaxed)) {
        e.fileSystemSectors.store(e.ReadFileSystemSize(), kRelaxed);
        e.fileSystemSizeRequested.store(false, std::memory_order_release);
    }
}

// Steps 6 and 7: follow the disc's ready state, capacity and label.
void WatchDisc(CRecoveryEngine& e)
{
    CCdDrive& drive = e.drive;
    drive.DrvReady();
    bool ready = drive.DrvReady();
    if (ready && !e.sourceReady.load(kRelaxed)) {
        drive.DrvCap();
        e.sourceReady.store(true, kRelaxed);
        e.sourceChanged.store(true, kRelaxed);
    } else if (!ready && e.sourceReady.load(kRelaxed)) {
        drive.reportedLastLba.store(0, kRelaxed);
        ForgetSource(e);
    }
    if (e.sourceReady.load(kRelaxed) && !e.labelRead && !e.sizeForced.load(kRelaxed)) {
        e.labelRead = drive.ReadVolumeLabel();
        if (e.labelRead) e.sourceChanged.store(true, kRelaxed);
    }
}

void PostSource(CRecoveryEngine& e)
{
    if (e.sourceReady.load(kRelaxed)) {
        PostEngineState(ENGINE_SOURCE_READY);
        StatusPrintf(kSlotSource, "Source  %s  (%lu MB)", e.drive.VolumeLabel(), (unsigned long)e.GetDiscSizeMB());
    } else {
        PostEngineState(ENGINE_SOURCE_NOT_READY);
        StatusPrintf(kSlotSource, "Source  ...  Not Ready  ...   ");
    }
    e.sourceChanged.store(false, kRelaxed);
}

}  // namespace

void CRecoveryEngine::PollIdle()
{
    uint32_t destinationCounter = kDestinationEveryCycles;
    uint32_t notReadyCounter = 0;
    while (!runRequested.load(kRelaxed) && !shutdownRequested.load(kRelaxed)) {
        ServeRequests(*this);
        if (!sourceReady.load(kRelaxed) && !sizeForced.load(kRelaxed) && notReadyCounter > kKickNotReadyAfterCycles) {
            drive.DrvStart();
            notReadyCounter = 0;
        }
        WatchDisc(*this);
        if (sourceChanged.load(kRelaxed)) PostSource(*this);
        if (destinationCounter >= kDestinationEveryCycles) {
            destinationCounter = 0;
            StatusPrintf(kSlotDestination, "Destination  (%lu MB Free)", (unsigned long)GetFreeMB());
        }
        SleepMs(kIdleCycleMs);
        ++destinationCounter;
        ++notReadyCounter;
    }
}

unsigned RecoveryThreadProc(CRecoveryEngine* engine)
{
    CRecoveryEngine& e = *engine;
    e.threadAlive.store(true, kRelaxed);
    while (!e.shutdownRequested.load(kRelaxed)) {
        if (!e.runRequested.load(kRelaxed)) {
            e.PollIdle();
            continue;
        }
        if (!e.TakeImageSet(CRecoveryEngine::kSetCopy)) {
            LogPrintf(0, "Cannot Start! - An import is running");
            e.runRequested.store(false, kRelaxed);
            continue;
        }
        e.copyRunning.store(true, kRelaxed);
        PostEngineState(ENGINE_COPYING);
        int outcome = e.RunCopy();
        e.ReleaseImageSet();
        if (IsFinished(outcome)) {
            if (settings.ejectOnCompletion.load(kRelaxed)) e.drive.DrvOpen();
            if (e.shutdownOnCompletion.load(kRelaxed)) {
                // Cleared before threadAlive, so that the front end's waits on
                // them end even if the power-off is refused.
                e.runRequested.store(false, kRelaxed);
                e.copyRunning.store(false, std::memory_order_release);
                PostEngineState(ENGINE_SHUTDOWN);
                e.threadAlive.store(false, std::memory_order_release);
                return 1;
            }
        }
        e.runRequested.store(false, kRelaxed);
        e.copyRunning.store(false, std::memory_order_release);
        PostEngineState(ENGINE_IDLE);
    }
    e.threadAlive.store(false, std::memory_order_release);
    return 0;
}
