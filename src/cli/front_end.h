// The command line's front end: it plays the dialog's part for the engine.
//
// Its thread (the program's main thread) loads the ASPI layer, preselects the
// drive, starts the worker, sets request flags, drains the queue of posted
// messages and answers questions; the worker runs RecoveryThreadProc exactly
// as under the dialog. Each command is a short sequence of these steps.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "aspi/sim/sim_drive.h"
#include "cli/cli_prompt.h"
#include "cli/display.h"
#include "cli/options.h"
#include "cli/queue_poster.h"
#include "engine/recovery_engine.h"
#include "platform/clock.h"
#include "platform/thread.h"

struct CliIo {
    FILE* out = stdout;        // results and counters lines
    FILE* err = stderr;        // log lines, status block, messages
    FILE* in = stdin;          // answers to questions
    bool terminal = false;     // err is a terminal: draw the status block
    bool interactive = false;  // in is a terminal: ask the user
    int columns = 0;           // terminal width, 0 = unknown
};

class CFrontEnd {
public:
    CFrontEnd(const Options& options, const CliIo& io, IAspiManager* manager);
    ~CFrontEnd();
    CFrontEnd(const CFrontEnd&) = delete;
    CFrontEnd& operator=(const CFrontEnd&) = delete;

    // Builds the simulated drives of --sim (or takes the given manager),
    // loads the ASPI layer and checks the drive table and --drive. Returns -1
    // when the command can go on, else the exit status.
    int OpenDrives();
    // --drive, or the preselection rule (the last drive with a ready disc).
    int ChosenDrive() const { return chosen_; }

    void StartWorker(int driveIndex);
    // Asks the worker to end and waits up to 60 s of real time.
    void StopWorker();
    bool WorkerRunning() const { return workerStarted_ && !workerDone_.load(); }

    // Drains the queue for `wait` of real time at most, showing what arrives.
    void Pump(std::chrono::milliseconds wait);
    // Pumps until `done` holds or `limit` of real time has passed; false on timeout.
    template <class Pred>
    bool PumpUntil(Pred done, std::chrono::milliseconds limit);
    // Waits for ENGINE_SOURCE_READY: up to 30 s of real time, and under the
    // virtual clock also no longer than 30 s of simulated time.
    bool WaitSourceReady();

    // A copy that runs longer than this (real time) is paused, as by Ctrl-C.
    void SetWallLimit(std::chrono::seconds limit) { wallLimit_ = limit; }
    std::chrono::seconds WallLimit() const { return wallLimit_; }
    // The worker has reported the end of a copy (or has ended).
    bool CopyEnded() const { return idleAfterCopySeen_ || workerDone_.load(); }
    // The outcome code of the last "Exit 0x%x: %s" line, -1 before any.
    int LastOutcome() const { return lastOutcome_; }
    // Its text ("Give Up").
    const std::string& LastOutcomeText() const { return lastOutcomeText_; }
    bool Interrupted() const;

    CRecoveryEngine& Engine() { return *engine_; }
    CDisplay& Display() { return display_; }
    CCliPrompt& UserPrompt() { return *prompt_; }
    CSimulatedAspi* Simulator() { return simulator_; }
    const Options& Opts() const { return options_; }
    const CliIo& Io() const { return io_; }
    void Print(const std::string& line);  // a result line on io.out
    void Error(const std::string& line);  // "gleanor: ..." on io.err

private:
    void Dispatch(const QueuedMessage& m);
    void KeepForQuiet(const std::string& line, int outcome);
    void ShowPendingBeforeQuestion();
    void InstallGlobals();
    PromptSetup MakePromptSetup() const;

    Options options_;
    CliIo io_;
    CDisplay display_;
    CQueuePoster poster_;
    std::mutex dispatchLock_;  // held while the main thread shows a message
    std::thread::id mainThread_;
    std::unique_ptr<CCliPrompt> prompt_;
    CVirtualClock virtualClock_;
    bool useVirtualClock_ = false;
    std::unique_ptr<CSimulatedAspi> ownSimulator_;
    CSimulatedAspi* simulator_ = nullptr;
    IAspiManager* manager_ = nullptr;
    std::unique_ptr<CInProcessAspiLibrary> library_;
    std::unique_ptr<CRecoveryEngine> engine_;
    CWorkerThread worker_;
    std::atomic<bool> workerDone_{false};
    bool workerStarted_ = false;
    int chosen_ = 0;
    int lastOutcome_ = -1;
    std::string lastOutcomeText_;
    std::vector<std::string> quietKept_;  // -q: the log lines of a copy's opening
    bool sourceReadySeen_ = false;
    bool copyingSeen_ = false;
    bool idleAfterCopySeen_ = false;
    std::chrono::seconds wallLimit_{0};  // 0: none
};

template <class Pred>
bool CFrontEnd::PumpUntil(Pred done, std::chrono::milliseconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        Pump(std::min(left, std::chrono::milliseconds(100)));
    }
    return true;
}

// The destination folder as the folder browser leaves it: ending with the
// separator; "" becomes the current folder.
std::string FolderWithSeparator(const std::string& folder);
// --image: absolute as given, otherwise inside `destFolder`.
std::string ResolveImagePath(const std::string& image, const std::string& destFolder);
