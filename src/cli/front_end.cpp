#include "cli/front_end.h"
#include "cli/paths.h"

#include <cinttypes>
#include <cstdlib>

#include "app/core/settings.h"
#include "cli/drive_hints.h"
#include "cli/interrupt.h"
#include "drive/drive_list.h"
#include "platform/poster.h"
#include "platform/prompt.h"
#include "channel/channel.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kSourceReadyWait{30000};
constexpr uint64_t kSourceReadyWaitVirtualUs = 30ull * 1000 * 1000;
constexpr milliseconds kWorkerEndWait{60000};
constexpr milliseconds kWorkerStartWait{60000};
constexpr milliseconds kShowPendingWait{1000};
constexpr const char kExitLinePrefix[] = "Exit 0x";

// The outcome code of a copy's closing line "Exit 0x%x: %s"; -1 for other lines.
int OutcomeOfExitLine(const std::string& line)
{
    if (line.compare(0, sizeof kExitLinePrefix - 1, kExitLinePrefix) != 0) return -1;
    size_t colon = line.find(':', sizeof kExitLinePrefix - 1);
    if (colon == std::string::npos) return -1;
    std::string hex = line.substr(sizeof kExitLinePrefix - 1, colon - (sizeof kExitLinePrefix - 1));
    if (hex.empty() || hex.size() > 8) return -1;
    unsigned value = 0;
    for (char c : hex) {
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (digit < 0) return -1;
        value = value * 16 + unsigned(digit);
    }
    return value > 0x7FFFFFFF ? -1 : int(value);
}

}  // namespace

std::string FolderWithSeparator(const std::string& folder)
{
    if (folder.empty()) return std::string(".") + rawio::kSep;
    if (folder.back() == rawio::kSep) return folder;
    return folder + rawio::kSep;
}

std::string ResolveImagePath(const std::string& image, const std::string& destFolder)
{
    if (image.empty()) return "";
    if (image[0] == rawio::kSep) return image;
    return destFolder + image;
}

CFrontEnd::CFrontEnd(const Options& options, const CliIo& io, IAspiManager* manager)
    : options_(options),
      io_(io),
      display_(io.err, io.out, io.terminal, io.columns),
      useVirtualClock_(options.virtualClock),
      manager_(manager),
      engine_(std::make_unique<CRecoveryEngine>())
{
    mainThread_ = std::this_thread::get_id();
    display_.SetQuiet(options.quiet);
    // With --json, standard output holds the one result object alone.
    if (options.json) display_.SetCountersLines(false);
    prompt_ = std::make_unique<CCliPrompt>(
        display_, MakePromptSetup(),
        [this](std::string* line) { return ReadTerminalLine(io_.in, line, [this] { return Interrupted(); }); },
        [this] { ShowPendingBeforeQuestion(); });
    InstallGlobals();
}

CFrontEnd::~CFrontEnd()
{
    if (WorkerRunning()) StopWorker();
    SetPoster(nullptr);
    SetPrompt(nullptr);
    SetClock(nullptr);
    settings.SetDefaults();
    settings.giveUpLevel = 0;
    settings.strategy = kStrategyCareful;
}

PromptSetup CFrontEnd::MakePromptSetup() const
{
    PromptSetup s;
    s.answers = options_.answers;
    s.yesToAll = options_.yesToAll;
    s.interactive = io_.interactive;
    s.destFolder = FolderWithSeparator(options_.dest);
    s.imagePath = ResolveImagePath(options_.image, s.destFolder);
    if (!options_.forceFlagPath.empty()) s.flagPath = PathWithFolder(options_.forceFlagPath);
    return s;
}

void CFrontEnd::InstallGlobals()
{
    settings.SetDefaults();
    settings.debugLevel = options_.logLevel;
    settings.giveUpLevel = options_.giveUpLevel;
    settings.cycleTray = options_.cycleTray ? 1 : 0;
    settings.allowCooldown = options_.noCooldown ? 0 : 1;
    settings.ejectOnCompletion = options_.ejectOnCompletion ? 1 : 0;
    settings.strategy = options_.carefulOnly ? kStrategyCareful : kStrategySweep;
    ResetChannel();
    SetPoster(&poster_);
    SetPrompt(prompt_.get());
    if (useVirtualClock_) SetClock(&virtualClock_);
}

void CFrontEnd::Print(const std::string& line)
{
    std::fprintf(io_.out, "%s\n", line.c_str());
    std::fflush(io_.out);
}

void CFrontEnd::Error(const std::string& line)
{
    display_.Problem("gleanor: " + line);
}

int CFrontEnd::OpenDrives()
{
    if (manager_ == nullptr && !options_.sims.empty()) {
        ownSimulator_ = std::make_unique<CSimulatedAspi>();
        for (const std::string& path : options_.sims) {
            std::string error;
            if (!ownSimulator_->AddProfileFile(path, &error)) {
                Error(error.empty() ? "cannot load the profile " + path : error);
                return kExitUsage;
            }
        }
        simulator_ = ownSimulator_.get();
        manager_ = simulator_;
    } else if (manager_ != nullptr) {
        simulator_ = dynamic_cast<CSimulatedAspi*>(manager_);
    }
    if (manager_ != nullptr) {
        library_ = std::make_unique<CInProcessAspiLibrary>(manager_);
        engine_->drive.Aspi().SetLibrary(library_.get());
    }

    bool loaded = engine_->drive.InitAspi();
    Pump(milliseconds(0));
    if (!loaded) {
        Error("no ASPI layer: the drives cannot be reached");
        return kExitCouldNot;
    }
    int count = engine_->drive.DriveCount();
    if (count == 0) {
        // The dialog's start-up box, as a message.
        display_.BeginQuestion("Error No Drives", "No drives detected.", "");
        display_.EndQuestion();
        if (simulator_ == nullptr)
            for (const std::string& hint : NoDriveHints()) display_.Problem(hint);
        return kExitCouldNot;
    }
    if (options_.drive >= count) {
        Error("--drive " + std::to_string(options_.drive) + ": there " + (count == 1 ? "is" : "are") + " only " +
              std::to_string(count) + " drive" + (count == 1 ? "" : "s") + " (0.." + std::to_string(count - 1) + ")");
        return kExitUsage;
    }
    int preselected = PreselectDrive(engine_->drive, nullptr);
    Pump(milliseconds(0));
    chosen_ = options_.drive >= 0 ? options_.drive : preselected;
    return -1;
}

void CFrontEnd::StartWorker(int driveIndex)
{
    CRecoveryEngine& e = *engine_;
    // The dialog's order: index first, then the request.
    e.selectDriveIndex.store(driveIndex);
    e.selectDriveRequested.store(true);
    workerDone_.store(false);
    workerStarted_ = worker_.Start(
        [](CFrontEnd* self) {
            RecoveryThreadProc(self->engine_.get());
            self->workerDone_.store(true, std::memory_order_release);
            self->poster_.Wake();
        },
        this);
    // Commands wait for the drive switch, so that their requests go to it.
    PumpUntil([&] { return !e.selectDriveRequested.load() || workerDone_.load(); }, kWorkerStartWait);
}

void CFrontEnd::StopWorker()
{
    if (!workerStarted_) return;
    engine_->shutdownRequested.store(true);
    bool ended = PumpUntil([this] { return workerDone_.load(std::memory_order_acquire); }, kWorkerEndWait);
    if (!ended) {
        display_.BeginQuestion("On Exit:", "Cannot kill main task.", "");
        display_.EndQuestion();
        // The worker still uses the engine; ending the process is the only
        // way not to pull it from under it. The flag file is consistent.
        std::fflush(nullptr);
        std::_Exit(kExitCouldNot);
    }
    worker_.Join();
    workerStarted_ = false;
    Pump(milliseconds(0));
}

bool CFrontEnd::Interrupted() const
{
    return InterruptCount() > 0;
}

void CFrontEnd::Pump(milliseconds wait)
{
    QueuedMessage m;
    if (poster_.Next(&m, wait)) {
        std::lock_guard<std::mutex> guard(dispatchLock_);
        Dispatch(m);
        // Whatever else is queued is shown now; the next wait starts afresh.
        while (poster_.Next(&m, milliseconds(0))) Dispatch(m);
    }
    if (io_.terminal && TakeTerminalResize()) display_.SetColumns(TerminalColumns(io_.err));
    display_.Refresh(CDisplay::Clock::now());
}

void CFrontEnd::ShowPendingBeforeQuestion()
{
    if (std::this_thread::get_id() == mainThread_) {
        Pump(milliseconds(0));
        return;
    }
    // The worker asks: let the main thread show what is queued (bounded, in
    // case it is busy elsewhere), then wait for the message it is showing.
    auto end = std::chrono::steady_clock::now() + kShowPendingWait;
    while (poster_.Pending() > 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(milliseconds(1));
    std::lock_guard<std::mutex> guard(dispatchLock_);
}

void CFrontEnd::Dispatch(const QueuedMessage& m)
{
    switch (m.msg) {
    case UM_LOG_LINE: {
        display_.LogLine(m.text);
        int outcome = OutcomeOfExitLine(m.text);
        if (options_.quiet) KeepForQuiet(m.text, outcome);
        if (outcome >= 0) {
            lastOutcome_ = outcome;
            size_t colon = m.text.find(": ");
            lastOutcomeText_ = colon == std::string::npos ? "" : m.text.substr(colon + 2);
        }
        break;
    }
    case UM_STATUS_TEXT:
        if (m.wParam == unsigned(kSlotRepaintMap))
            display_.MapChanged();
        else
            display_.Status(m.wParam, m.text);
        break;
    case UM_ENGINE_STATE:
        if (m.wParam == ENGINE_SOURCE_READY) sourceReadySeen_ = true;
        if (m.wParam == ENGINE_COPYING) copyingSeen_ = true;
        if ((m.wParam == ENGINE_IDLE || m.wParam == ENGINE_SHUTDOWN) && copyingSeen_) idleAfterCopySeen_ = true;
        break;
    default: break;
    }
}

void CFrontEnd::KeepForQuiet(const std::string& line, int outcome)
{
    // -q hides the log, but not why a file of the set would not open: the
    // lines from "Create"/"Continue" to "Exit 0x2" name the file and the reason.
    constexpr size_t kKept = 8;
    if (line.rfind("Create ", 0) == 0 || line.rfind("Continue ", 0) == 0) {
        quietKept_.clear();
        return;
    }
    if (outcome == OUTCOME_FOPEN) {
        for (const std::string& kept : quietKept_) display_.Problem(kept);
        display_.Problem(line);
    }
    if (outcome >= 0) quietKept_.clear();
    else if (quietKept_.size() < kKept) quietKept_.push_back(line);
}

bool CFrontEnd::WaitSourceReady()
{
    uint64_t virtualStart = virtualClock_.Micros();
    // Any READY counts, as it enables the dialog's Start: under the virtual
    // clock the idle cycles spin, and a disc may be gone again by the time
    // the queue is read; the copy then ends with "Drive Not Ready" itself.
    PumpUntil(
        [&] {
            if (sourceReadySeen_ || Interrupted() || workerDone_.load()) return true;
            // A simulated drive lives in simulated time: 30 s of it is as long
            // as a real drive is given, however fast the idle cycles spin.
            return useVirtualClock_ && virtualClock_.Micros() - virtualStart >= kSourceReadyWaitVirtualUs;
        },
        kSourceReadyWait);
    return sourceReadySeen_;
}
