#include "ui/logic/completion.h"

#include <cstdio>

#include "engine/recovery_engine.h"
#include "platform/clock.h"

bool RequestWorkerEnd(CRecoveryEngine& engine)
{
    engine.shutdownRequested = true;
    for (unsigned i = 0; i < kExitWaitSteps && engine.threadAlive; ++i) SleepMs(kExitWaitStepMs);
    return !engine.threadAlive;
}

void StopCopyThenExit(CRecoveryEngine& engine, const std::function<void()>& exitSequence)
{
    if (!engine.copyRunning) {
        exitSequence();
        return;
    }
    while (engine.copyRunning) {
        engine.runRequested = false;
        while (engine.copyRunning) SleepMs(kExitWaitStepMs);
        exitSequence();
    }
}

bool CMarkerPowerOff::ShutdownWindows()
{
    std::FILE* f = std::fopen(path_.c_str(), "ab");
    if (!f) return false;
    bool ok = std::fputs(kPowerOffMarkerText, f) >= 0;
    return std::fclose(f) == 0 && ok;
}
