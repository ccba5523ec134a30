// The end of the program: the exit sequence's wait for the worker, the wait
// for a running copy when the window goes away, and the power-off seam used
// after a finished copy with "Shutdown" ticked.
#pragma once
#include <functional>
#include <string>

class CRecoveryEngine;

constexpr unsigned kExitWaitStepMs = 100;
constexpr unsigned kExitWaitSteps = 600;  // 60 seconds

// Sets shutdownRequested and waits while threadAlive is set, 100 ms at a time,
// at most 600 times. True when the worker ended within the wait.
bool RequestWorkerEnd(CRecoveryEngine& engine);

// What the window's destruction does: while a copy runs, clear runRequested,
// wait for copyRunning to clear, then run `exitSequence`; repeated while a copy
// is running again. Without a copy, `exitSequence` runs at once.
void StopCopyThenExit(CRecoveryEngine& engine, const std::function<void()>& exitSequence);

// Powering the machine off: true when the platform accepted the request.
class IPowerOff {
public:
    virtual ~IPowerOff() = default;
    virtual bool ShutdownWindows() = 0;
};

// Writes a marker file instead of powering off (the test build's seam, chosen
// when GLEANOR_POWEROFF_MARKER names a file).
class CMarkerPowerOff : public IPowerOff {
public:
    explicit CMarkerPowerOff(std::string path) : path_(std::move(path)) {}
    bool ShutdownWindows() override;

private:
    std::string path_;
};

constexpr char kPowerOffMarkerVariable[] = "GLEANOR_POWEROFF_MARKER";
constexpr char kPowerOffMarkerText[] = "power-off requested\n";
