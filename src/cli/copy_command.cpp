// `gleanor copy`: the dialog's Start, Pause and Force Size, played from the
// command line.
#include <filesystem>

#include "cli/commands.h"
#include "cli/copy_command.h"
#include "cli/files_command.h"
#include "cli/interrupt.h"
#include "mapfile/mapfile_follower.h"
#include "channel/channel.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kLoopWait{100};  // the dialog's polling step
constexpr size_t kExtensionLength = 4;  // ".iso", ".flg", ".imp"
constexpr size_t kDetailSize = 51;      // SizeBySource's detail: 50 characters and the NUL
constexpr const char kVolumeModifiedCaption[] = "Volumesize Modified !";

// Paths the engine would have to cut at 260 characters are refused up front.
bool CheckPaths(CFrontEnd& fe, const std::string& dest)
{
    const Options& o = fe.Opts();
    std::string image = ResolveImagePath(o.image, dest);
    const std::string& longest = image.empty() ? dest : image;
    if (longest.size() + kExtensionLength > size_t(rawio::kMaxPath)) {
        fe.Error("the path " + longest + " is too long: image set paths hold at most 260 characters");
        return false;
    }
    if (o.force == ForceSource::Flag) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(o.forceFlagPath, ec)) {
            fe.Error("--force-size flag:" + o.forceFlagPath + ": no such flag file");
            return false;
        }
        if (o.forceFlagPath.size() > size_t(rawio::kMaxPath)) {
            fe.Error("--force-size flag:" + o.forceFlagPath + ": the path is longer than 260 characters");
            return false;
        }
    }
    // As ddrescue does: a map that cannot be written is refused before the
    // copy starts, not found out at the first progress report.
    if (!o.mapfile.empty()) {
        namespace fs = std::filesystem;
        fs::path folder = fs::path(o.mapfile).parent_path();
        // The destination is made before the copy starts: a map in it is fine.
        bool inDest = (folder / "").lexically_normal() == (fs::path(dest) / "").lexically_normal();
        std::error_code ec;
        if (!folder.empty() && !inDest && !fs::is_directory(folder, ec)) {
            fe.Error("--mapfile " + o.mapfile + ": the folder " + folder.string() + " does not exist");
            return false;
        }
        if (fs::is_directory(o.mapfile, ec)) {
            fe.Error("--mapfile " + o.mapfile + ": is a folder");
            return false;
        }
    }
    return true;
}

// A destination folder that does not exist yet is made, as the user surely
// meant; one that cannot be made is a usage error that says why.
bool MakeDestination(CFrontEnd& fe, const std::string& dest)
{
    std::error_code ec;
    if (std::filesystem::is_directory(dest, ec)) return true;
    std::string bare = dest.size() > 1 && dest.back() == rawio::kSep ? dest.substr(0, dest.size() - 1) : dest;
    if (std::filesystem::exists(bare, ec)) {
        fe.Error("--dest " + dest + ": not a folder");
        return false;
    }
    if (!std::filesystem::create_directories(dest, ec) && !std::filesystem::is_directory(dest)) {
        fe.Error("--dest " + dest + ": the folder cannot be created: " + ec.message());
        return false;
    }
    fe.Display().Note("Created the folder " + dest);
    return true;
}

// The "Existing Flagfile" source, asked before the worker starts: it reads
// only the file, and it moves destFolder to the file's folder, which the idle
// worker reads for the free space. 0 when the file gives no sector count.
uint32_t FlagFileSectors(CFrontEnd& fe)
{
    char detail[kDetailSize] = "";
    uint32_t sectors = fe.Engine().SizeBySource(1, detail);
    fe.Pump(milliseconds(0));
    if (sectors == 0) {
        // The dialog would show 0 and let the user confirm it; asked for a
        // flag file's size, a copy of 0 sectors is never what was meant.
        fe.Error("--force-size flag:" + fe.Opts().forceFlagPath +
                 ": no sector count (the file is unreadable, too short, or its header check was declined)");
    }
    return sectors;
}

// OnForceSize with the dialog answered OK at once: the size from the chosen
// source becomes the copy size. `flagSectors` is the flag file's, read before.
// False when the file-system source finds no size.
bool ApplyForceSize(CFrontEnd& fe, uint32_t flagSectors)
{
    CRecoveryEngine& e = fe.Engine();
    const Options& o = fe.Opts();
    bool wasForced = e.sizeForced.load();
    e.sizeForced.store(true);  // as while the dialog is open
    char detail[kDetailSize] = "";
    uint32_t sectors = 0;
    const char* source = "";
    switch (o.force) {
    case ForceSource::Drive:
        sectors = e.SizeBySource(0, detail);
        source = "Drive Reported";
        break;
    case ForceSource::Flag:
        sectors = flagSectors;
        source = "Existing Flagfile";
        break;
    case ForceSource::Estimate:
        sectors = e.SizeBySource(2, detail);
        source = "Estimated";
        break;
    case ForceSource::Sectors:
        sectors = o.forceSectors;
        source = "-- Free --";
        break;
    case ForceSource::FileSystem:
        sectors = e.SizeByFileSystem();
        source = "File System";
        if (sectors == 0) {
            e.sizeForced.store(wasForced);
            fe.Pump(milliseconds(0));
            fe.Error("--force-size filesystem: the disc holds no ISO 9660 or UDF volume size that reads");
            return false;
        }
        break;
    case ForceSource::None:
        e.sizeForced.store(wasForced);
        return true;
    }
    e.drive.SetCopySize(sectors);
    e.sizeForced.store(true);
    e.sourceChanged.store(true);
    LogPrintf(0, "Disksize changed to \"%s\" (%u Sectors)", source, sectors);
    return true;
}

// Watches the copy to its end; the first Ctrl-C is the Pause button.
void WatchCopy(CFrontEnd& fe)
{
    CRecoveryEngine& e = fe.Engine();
    bool pauseSent = false;
    auto start = std::chrono::steady_clock::now();
    SetCopyWatched(true);
    while (!fe.CopyEnded()) {
        fe.Pump(kLoopWait);
        if (pauseSent) continue;
        bool overTime = fe.WallLimit().count() > 0 && std::chrono::steady_clock::now() - start > fe.WallLimit();
        if (fe.Interrupted() || overTime) {
            e.runRequested.store(false);
            pauseSent = true;
            fe.Display().Note(overTime ? "Pause: the time for this run is up" : kPauseLine);
            NotePauseShown();
        }
    }
    SetCopyWatched(false);
}

}  // namespace

int RunCopyCommand(CFrontEnd& fe)
{
    struct Running {
        Running() { SetCopyRunning(true); }
        ~Running() { SetCopyRunning(false); }
    } running;
    const Options& o = fe.Opts();
    std::string dest = FolderWithSeparator(o.dest);
    if (!CheckPaths(fe, dest)) return kExitUsage;
    int status = fe.OpenDrives();
    if (status >= 0) return status;
    // Made only now: a copy that finds no drive leaves no empty folder behind.
    if (!MakeDestination(fe, dest)) return kExitUsage;

    CRecoveryEngine& e = fe.Engine();
    e.destFolder = dest;
    uint32_t flagSectors = 0;
    if (o.force == ForceSource::Flag && (flagSectors = FlagFileSectors(fe)) == 0) return kExitCouldNot;
    progressMap.mapCells.store(kMapCellsMax);
    progressMap.Clear();
    if (o.force != ForceSource::None) fe.UserPrompt().SetImpliedAnswer(kVolumeModifiedCaption, kIdOk);
    fe.Display().SetDestination(dest);
    fe.Display().ShowBlock(true);

    CMapfileFollower follower(o.mapfile, ProgramTitle());
    if (!o.mapfile.empty()) e.progressObserver = &follower;
    fe.StartWorker(fe.ChosenDrive());
    bool ready = fe.WaitSourceReady();
    if (fe.Interrupted()) {
        fe.StopWorker();
        fe.Display().Finish();
        fe.Error("interrupted before the copy started");
        return OUTCOME_USER_BREAK;
    }
    if (!ready) fe.Error("the disc did not become ready; the copy will say so");
    if (ready && !ApplyForceSize(fe, flagSectors)) {
        fe.StopWorker();
        fe.Display().Finish();
        return kExitCouldNot;
    }
    e.runRequested.store(true);  // Start
    WatchCopy(fe);
    fe.StopWorker();
    // The worker has ended: the last map shows the flags as the copy left them.
    if (!fe.WorkerRunning() && follower.Written()) follower.Save(e);
    e.progressObserver = nullptr;
    fe.Display().Finish();
    // What the copy holds of the volume's files; an export has no image to read.
    if (fe.LastOutcome() >= 0 && fe.LastOutcome() != OUTCOME_FOPEN && !o.json && !e.exportMode &&
        e.imageFile.GetPath()[0] != '\0' && e.imageFile.Exists())
        for (const std::string& line : FilesAfterCopy(e.flagFile.GetPath(), e.imageFile.GetPath(), false))
            fe.Print(line);
    return fe.LastOutcome() >= 0 ? fe.LastOutcome() : kExitCouldNot;
}
