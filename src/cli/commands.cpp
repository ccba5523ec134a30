// The commands other than copy, demo and files: drives, estimate, eject, load, import.
#include <atomic>
#include <filesystem>
#include <thread>

#include "cli/commands.h"
#include "cli/text.h"
#include "channel/channel.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kRequestWait{60000};       // an eject or load request to be served
constexpr milliseconds kEstimateWait{3600000};    // a size probe: some 64 reads, each up to 15 s
constexpr milliseconds kLoadReadyStep{250};       // the engine's ready-wait step ...
constexpr int kLoadReadyTries = 120;              // ... for 30 s

std::string TrimRight(const char* text)
{
    std::string s = text;
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

std::string SizeText(CRecoveryEngine& e)
{
    return std::to_string(e.GetDiscSizeMB()) + " MB";
}

// Starts the worker on the chosen drive, raises one of its requests (eject,
// load) and pumps until the worker has served it. The worker has ended on
// return, so the drive is the main thread's again. False, with the error
// shown, when the request was not served in time.
bool ServeRequest(CFrontEnd& fe, std::atomic<bool>& request, const std::string& drive, const char* what)
{
    fe.StartWorker(fe.ChosenDrive());
    request.store(true);
    bool served = fe.PumpUntil([&] { return !request.load(); }, kRequestWait);
    fe.StopWorker();
    if (!served) fe.Error(drive + ": the " + what + " request was not served");
    return served;
}

// The drive's name and address as the listing shows them.
std::string DriveTitle(CCdDrive& drive, int index)
{
    const DriveEntry& entry = drive.Entry(index);
    return std::to_string(index) + "  " + TrimRight(entry.addressText) + "  " + TrimRight(entry.name);
}

}  // namespace

int RunDrives(CFrontEnd& fe)
{
    int status = fe.OpenDrives();
    if (status >= 0) return status;
    CRecoveryEngine& e = fe.Engine();
    // The worker is not running: like the dialog's start-up, the main thread
    // may talk to the drives itself.
    std::string json = "[";
    for (int i = 0; i < e.drive.DriveCount(); ++i) {
        e.drive.SelectDrive(i);
        bool ready = e.drive.DrvReady();
        std::string line = std::string(i == fe.ChosenDrive() ? "* " : "  ") + DriveTitle(e.drive, i);
        const DriveEntry& entry = e.drive.Entry(i);
        json += std::string(i ? ",\n " : "") + "{\"index\": " + std::to_string(i) +
                ", \"preselected\": " + (i == fe.ChosenDrive() ? "true" : "false") +
                ", \"address\": " + JsonString(TrimRight(entry.addressText)) +
                ", \"name\": " + JsonString(TrimRight(entry.name)) + ", \"ready\": " + (ready ? "true" : "false");
        if (ready) {
            e.drive.ReadVolumeLabel();
            line += "  ready  " + std::string(e.drive.VolumeLabel()) + "  " + SizeText(e);
            json += ", \"label\": " + JsonString(e.drive.VolumeLabel()) +
                    ", \"size_mb\": " + std::to_string(e.GetDiscSizeMB());
        } else {
            line += "  not ready";
        }
        json += "}";
        fe.Pump(milliseconds(0));
        if (!fe.Opts().json) fe.Print(line);
    }
    if (fe.Opts().json) fe.Print(json + "]");
    return kExitDone;
}

int RunEstimate(CFrontEnd& fe)
{
    int status = fe.OpenDrives();
    if (status >= 0) return status;
    CRecoveryEngine& e = fe.Engine();
    fe.StartWorker(fe.ChosenDrive());
    if (!fe.WaitSourceReady()) {
        fe.StopWorker();
        fe.Error("drive " + std::to_string(fe.ChosenDrive()) + ": Drive Not Ready");
        return kExitCouldNot;
    }
    e.probeSizeRequested.store(true);
    fe.PumpUntil([&] { return !e.probeSizeRequested.load() || !fe.WorkerRunning(); }, kEstimateWait);
    bool done = !e.probeSizeRequested.load();
    fe.StopWorker();
    if (!done) {
        fe.Error("the size probe did not finish");
        return kExitCouldNot;
    }
    fe.Print(std::to_string(e.drive.estimatedLastLba.load()));
    return kExitDone;
}

int RunEject(CFrontEnd& fe)
{
    int status = fe.OpenDrives();
    if (status >= 0) return status;
    CRecoveryEngine& e = fe.Engine();
    std::string drive = "drive " + std::to_string(fe.ChosenDrive());
    if (!ServeRequest(fe, e.ejectRequested, drive, "eject")) return kExitCouldNot;
    if (e.drive.DrvReady()) {
        fe.Error(drive + ": the tray did not open (the disc is still ready)");
        return kExitCouldNot;
    }
    fe.Print(drive + ": ejected, not ready");
    return kExitDone;
}

int RunLoad(CFrontEnd& fe)
{
    int status = fe.OpenDrives();
    if (status >= 0) return status;
    CRecoveryEngine& e = fe.Engine();
    std::string drive = "drive " + std::to_string(fe.ChosenDrive());
    if (!ServeRequest(fe, e.loadRequested, drive, "load")) return kExitCouldNot;
    // A closed tray takes a moment before the disc answers ready (real time:
    // this is the front end waiting, not the engine).
    bool ready = false;
    for (int i = 0; i < kLoadReadyTries && !ready && !fe.Interrupted(); ++i) {
        ready = e.drive.DrvReady();
        if (!ready) std::this_thread::sleep_for(kLoadReadyStep);
    }
    if (!ready) {
        fe.Error(drive + ": Drive Not Ready");
        return kExitCouldNot;
    }
    e.drive.DrvCap();
    e.drive.ReadVolumeLabel();
    fe.Pump(milliseconds(0));
    fe.Print(drive + ": ready  " + std::string(e.drive.VolumeLabel()) + "  " + SizeText(e));
    return kExitDone;
}

int RunImport(CFrontEnd& fe)
{
    CRecoveryEngine& e = fe.Engine();
    // The dialog's file choice accepts only an existing file; the merge would
    // otherwise create an empty image before it finds the import file missing.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(fe.Opts().importFile, ec)) {
        fe.Error(fe.Opts().importFile + ": no such import file");
        return kExitCouldNot;
    }
    e.destFolder = FolderWithSeparator(fe.Opts().dest);
    e.ImportMerge(fe.Opts().importFile.c_str());
    fe.Pump(milliseconds(0));
    return e.lastImportComplete ? kExitDone : kExitCouldNot;
}
