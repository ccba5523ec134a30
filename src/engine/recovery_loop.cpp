// RunCopy: one whole copy of the disc into the image set, from the start
// checks to the outcome. Each phase is a method of CCopyRun, which holds the
// locals of one call; the engine keeps the state that outlives the call.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/core/settings.h"
#include "engine/recovery_engine.h"
#include "engine/sweep.h"
#include "platform/clock.h"
#include "platform/prompt.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kFullRequest = 16;      // sectors per request while the disc reads well
constexpr uint32_t kAllMissingMask = 0xFFFF;
constexpr uint32_t kSpaceReserveMB = 50;   // wanted beyond the disc's size before starting
constexpr uint32_t kLowSpaceMB = 50;       // the in-copy test: free space below this ...
constexpr uint32_t kUncoveredMB = 20;      // ... while more than this of the disc is not in the image
constexpr uint32_t kSkipShift = 3;         // a skip reaches up to 1/8 of the missing sectors
constexpr uint32_t kSyncIntervalMs = 30000;
constexpr uint32_t kMsPerSecond = 1000;
constexpr size_t kFileLineSize = 256;

constexpr const char* kLowSpaceCaption = "Low Disk Space !";
constexpr const char* kAbortLowSpace = "Abort LowDiskSpace";

// a + b, but no further than `limit` (positions never wrap past the disc's end).
uint32_t AddUpTo(uint32_t a, uint32_t b, uint32_t limit)
{
    if (a >= limit || b >= limit - a) return limit;
    return a + b;
}

// a - b, or 0 when b is the larger (sizes in MB that must not wrap).
uint32_t Shortfall(uint32_t a, uint32_t b)
{
    return a > b ? a - b : 0;
}

class CCopyRun : public ICopyRequests {
public:
    explicit CCopyRun(CRecoveryEngine& engine) : e(engine) {}

    int Run(const char** text);

    // What the sweep phases ask of the copy.
    bool Going() const override { return outcome == OUTCOME_OK; }
    void Enter(uint32_t lba) override;
    void ReadFailed(uint32_t lba) override;
    void WriteFailed() override { SetOutcome(OUTCOME_DISK_FULL, "Disk Full ???"); }
    void EndRequest() override;

private:
    void Start();
    void CheckStartSpace();
    void ChooseTarget();
    void Open();
    void TakeHeader();
    void CheckProgressMap();
    void Passes();
    void Pass();
    void Request();
    uint32_t RequestLength(bool* missing);
    void ReadSectors(uint32_t length);
    void SkipAfterFailure(bool readError);
    void Tick();
    void CheckTickSpace();
    void SyncFiles();
    void End();

    void SetOutcome(int code, const char* text)
    {
        outcome = code;
        outcomeText = text;
    }
    bool AskLowSpace(const char* question);
    void MarkCell(uint8_t state);
    uint32_t CellOf(uint32_t lba) const;

    CRecoveryEngine& e;
    int outcome = OUTCOME_OK;
    const char* outcomeText = "Ok";
    uint32_t passNumber = 0;
    uint32_t readInPass = 0;
    uint32_t errorsInPass = 0;
    bool singleSectorMode = false;
    bool unsentLogged = false;  // the current detached stretch was reported
    bool historyAdopted = false;  // the failed reads are this copy's, to be saved at its end
    uint32_t sectorsPerCell = 1;
    uint32_t cellsInUse = kMapCellsMax;
    char fileLine[kFileLineSize] = "";
};

int CCopyRun::Run(const char** text)
{
    Start();
    if (outcome == OUTCOME_OK) ChooseTarget();
    if (outcome == OUTCOME_OK) Open();
    CheckProgressMap();
    if (outcome == OUTCOME_OK) Passes();
    End();
    *text = outcomeText;
    return outcome;
}

// Clocks, drive start and the checks that need no file.
void CCopyRun::Start()
{
    e.headerChecked = false;
    uint32_t now = TickCount();
    e.tickNow = e.tickStart = e.tickLastGood = now;
    e.lastSyncTick = now;
    e.nextCooldownTick = now + kCooldownSpacingMs;
    e.SeedRandom(TickCount());

    // A drive left detached by the last copy is addressed again only once
    // found by its identity with that copy's disc.
    if (e.drive.Detached()) e.LookForDrive();
    e.drive.DrvStart();
    e.drive.DrvReady();
    bool ready = e.drive.DrvReady();  // the first answer after a start may be stale

    if (!ready) {
        SetOutcome(OUTCOME_NOT_READY, "Drive Not Ready");
    } else if (e.drive.CopySize() == 0) {
        SetOutcome(OUTCOME_EMPTY, "Disk is Empty");
    } else if (!e.PrepareImageSet()) {
        SetOutcome(OUTCOME_CANCELED, "Canceled");
    }
    CheckStartSpace();
}

void CCopyRun::CheckStartSpace()
{
    // An image already larger than the disc needs only the reserve... or nothing:
    // the difference must not wrap into a huge demand.
    uint32_t needed = Shortfall(e.GetDiscSizeMB() + kSpaceReserveMB, e.imageFile.GetSizeMB());
    if (outcome != OUTCOME_OK || e.GetFreeMB() >= needed) return;
    if (!AskLowSpace("Continue anyway ?  ")) {
        LogPrintf(0, "%s", kAbortLowSpace);
        SetOutcome(OUTCOME_LOW_SPACE, kAbortLowSpace);
    }
}

bool CCopyRun::AskLowSpace(const char* question)
{
    return AskUser(question, kLowSpaceCaption, mb::kYesNo | mb::kIconWarning | mb::kSetForeground) == kIdYes;
}

// Which files exist decides what the copy writes to.
void CCopyRun::ChooseTarget()
{
    bool flag = e.flagFile.Exists();
    bool import = e.importFile.Exists();
    bool image = e.imageFile.Exists();
    const char* word = "Create ";
    const CRawFile* named = &e.imageFile;

    if (flag && import) {
        word = "Continue ";
        named = &e.importFile;
        e.exportMode = true;
    } else if (flag && image) {
        word = "Continue ";
        e.exportMode = false;
    } else if (flag) {
        named = &e.importFile;
        e.exportMode = true;
    } else if (image) {
        word = "Continue ";
        SetOutcome(OUTCOME_ISO_NO_FLG, "Existing *.Iso but no *.Flg");
    } else {
        e.exportMode = false;
    }
    std::snprintf(fileLine, sizeof fileLine, "%s%s", word, named->GetFileName());
    LogPrintf(0, "%s", fileLine);

    // With the image beside them, a user who merged here could take this for
    // a normal resume: say where the sectors go.
    if (flag && import && image) {
        LogPrintf(0, "Found sectors go to %s: merge it with Import File", e.importFile.GetFileName());
    }
}

void CCopyRun::Open()
{
    if (!e.flagFile.Open()) {
        LogPrintf(0, "%s: %s", e.flagFile.GetPath(), rawio::LastOpenFailure());
        SetOutcome(OUTCOME_FOPEN, "FOpen *.Flg");
    }
    CRawFile& target = e.exportMode ? e.importFile : e.imageFile;
    if (!target.Open()) {
        LogPrintf(0, "%s: %s", target.GetPath(), rawio::LastOpenFailure());
        SetOutcome(OUTCOME_FOPEN, e.exportMode ? "FOpen *.Imp" : "FOpen *.Iso");
        return;
    }
    if (outcome != OUTCOME_OK) return;
    if (!e.CheckHeader()) {
        SetOutcome(OUTCOME_CHECK_HEADER, "CheckHeader *.flg");
        return;
    }
    TakeHeader();
    // Nothing is written before the disc is known not to be another: a
    // refused set stays on disk exactly as it was.
    if (outcome == OUTCOME_OK && !e.DiscBelongsToImageSet()) {
        e.headerChecked = false;
        SetOutcome(OUTCOME_CHECK_HEADER, "CheckHeader *.flg");
    }
}

// The copy's geometry comes from the accepted header.
void CCopyRun::TakeHeader()
{
    // A 16-sector request of such sectors would take data from beyond the
    // read buffer, and a size of 0 would mark sectors read with nothing
    // written: refuse the header and leave it on disk untouched.
    if (e.header.sectorSize == 0 || e.header.sectorSize > kMaxCopySectorSize) {
        LogPrintf(0, "Sectorsize %lu not supported (1..%lu)", (unsigned long)e.header.sectorSize,
                  (unsigned long)kMaxCopySectorSize);
        e.headerChecked = false;
        SetOutcome(OUTCOME_CHECK_HEADER, "CheckHeader *.flg");
        return;
    }
    e.copySectorSize = e.header.sectorSize;
    e.sectorsToCopy = e.header.sectorCount;
    std::fill(std::begin(e.readHistory), std::end(e.readHistory), e.header.sectorsRead);
    e.position.store(0, std::memory_order_relaxed);
    progressMap.mapCurrentCell.store(1, std::memory_order_relaxed);
    // The front end sets mapCells from its bar; 0 or more than the map holds
    // must neither divide by zero nor let a cell index leave the map.
    cellsInUse = std::clamp<uint32_t>(progressMap.mapCells.load(std::memory_order_relaxed), 1, kMapCellsMax);
    sectorsPerCell = std::max<uint32_t>(1, e.sectorsToCopy / cellsInUse);
    e.ReportProgress();
}

// The map survives from one copy of the same flag file to the next.
void CCopyRun::CheckProgressMap()
{
    const char* path = e.flagFile.GetPath();
    if (std::strncmp(e.lastFlagPath, path, kMaxPath) == 0) return;
    progressMap.Clear();
    std::snprintf(e.lastFlagPath, sizeof e.lastFlagPath, "%s", path);
}

uint32_t CCopyRun::CellOf(uint32_t lba) const
{
    // Integer division leaves more cells than the bar has on small discs:
    // those sectors share the last cell.
    return std::min(lba / sectorsPerCell, cellsInUse - 1);
}

void CCopyRun::MarkCell(uint8_t state)
{
    uint32_t cell = CellOf(e.position.load(std::memory_order_relaxed));
    progressMap.cells[cell].store(state, std::memory_order_relaxed);
}

// The drive's identity, as the history of failed reads is kept by it.
std::string DriveIdentity(const CCdDrive& drive)
{
    int i = drive.SelectedIndex();
    if (i < 0 || i >= drive.DriveCount()) return "";
    const DriveEntry& d = drive.Entry(i);
    return std::string(d.addressText) + d.name + " " + d.revision;
}

void CCopyRun::Passes()
{
    e.failedReads.Adopt(e.flagFile.GetPath(), DriveIdentity(e.drive), e.sectorsToCopy, e.copySectorSize);
    e.failedReads.Save(false);
    historyAdopted = true;
    if (settings.strategy.load(std::memory_order_relaxed) == kStrategySweep) {
        RunSweepPhases(e, *this);
        if (outcome != OUTCOME_OK) return;
    }
    singleSectorMode = false;
    do {
        Pass();
    } while (outcome == OUTCOME_OK && errorsInPass != 0);
}

void CCopyRun::Pass()
{
    e.position.store(0, std::memory_order_relaxed);
    readInPass = 0;
    errorsInPass = 0;
    while (e.position.load(std::memory_order_relaxed) < e.sectorsToCopy && outcome == OUTCOME_OK) Request();
    ++passNumber;
    LogPrintf(1, "Loop %lu Read %lu Errors %lu", (unsigned long)passNumber, (unsigned long)readInPass,
              (unsigned long)errorsInPass);
    e.ReportProgress();
}

void CCopyRun::Enter(uint32_t lba)
{
    e.position.store(lba, std::memory_order_relaxed);
    uint32_t cell = CellOf(lba);
    if (cell != progressMap.mapCurrentCell.load(std::memory_order_relaxed)) {
        progressMap.cells[cell].store(kCellVisited, std::memory_order_relaxed);
        progressMap.mapCurrentCell.store(cell, std::memory_order_relaxed);
    }
}

void CCopyRun::ReadFailed(uint32_t lba)
{
    progressMap.cells[CellOf(lba)].store(kCellError, std::memory_order_relaxed);
}

void CCopyRun::EndRequest()
{
    if (!e.runRequested.load(std::memory_order_relaxed)) SetOutcome(OUTCOME_USER_BREAK, "User Break");
    if (outcome != OUTCOME_OK || TickCount() - e.tickNow > kProgressTickMs) Tick();
}

void CCopyRun::Request()
{
    Enter(e.position.load(std::memory_order_relaxed));

    bool missing = false;
    uint32_t length = RequestLength(&missing);
    if (missing) ReadSectors(length);
    if (!e.runRequested.load(std::memory_order_relaxed)) SetOutcome(OUTCOME_USER_BREAK, "User Break");
    e.position.store(AddUpTo(e.position.load(std::memory_order_relaxed), length, e.sectorsToCopy),
                     std::memory_order_relaxed);
    if (outcome != OUTCOME_OK || TickCount() - e.tickNow > kProgressTickMs) Tick();
}

// 16 sectors when all of them are missing, else one at a time, so that a read
// never covers a sector that is already in the image.
uint32_t CCopyRun::RequestLength(bool* missing)
{
    uint32_t position = e.position.load(std::memory_order_relaxed);
    uint32_t length = kFullRequest;
    if (singleSectorMode || e.sectorsToCopy - position <= kFullRequest) length = 1;
    uint32_t mask = e.AccessFlags(position, int32_t(length), false);
    if (length == kFullRequest) {
        mask &= kAllMissingMask;
        if (mask == 0) return length;
        if (mask == kAllMissingMask) {
            *missing = true;
            return length;
        }
        length = 1;
        mask = e.AccessFlags(position, 1, false);
    }
    *missing = (mask & 1) != 0;
    return length;
}

void CCopyRun::ReadSectors(uint32_t length)
{
    uint32_t position = e.position.load(std::memory_order_relaxed);
    if (e.drive.Detached()) {
        // A request held back from a detached drive says nothing of the disc:
        // no read error, one line for the whole stretch.
        if (!unsentLogged) LogPrintf(1, "Requests wait until the drive is found again");
        unsentLogged = true;
        SkipAfterFailure(false);
        return;
    }
    unsentLogged = false;
    if (!e.drive.DrvBlkRead(position, length)) {
        e.failedReads.Failed(position, length);
        SkipAfterFailure(true);
        return;
    }
    // Flags are cleared only after the data is in the file.
    if (!e.WriteSectors(position, length, e.drive.readBuffer)) {
        SetOutcome(OUTCOME_DISK_FULL, "Disk Full ???");
        return;
    }
    e.AccessFlags(position, int32_t(length), true);
    e.header.sectorsRead += length;
    readInPass += length;
    e.tickLastGood = e.tickNow;
}

void CCopyRun::SkipAfterFailure(bool readError)
{
    if (readError) ++e.header.readErrors;
    ++errorsInPass;
    MarkCell(kCellError);
    e.tickLastGood += e.DriveCare();
    // A damaged header may count more read than there are sectors.
    uint32_t missing = Shortfall(e.header.sectorCount, e.header.sectorsRead);
    uint32_t skip = e.ScaledRandom(missing >> kSkipShift);
    LogPrintf(3, "Skipping %lu", (unsigned long)skip);
    e.position.store(AddUpTo(e.position.load(std::memory_order_relaxed), skip, e.sectorsToCopy),
                     std::memory_order_relaxed);
}

void CCopyRun::Tick()
{
    e.tickNow = TickCount();
    e.ReportProgress();
    std::copy(std::begin(e.readHistory) + 1, std::end(e.readHistory), std::begin(e.readHistory));
    e.readHistory[3] = e.header.sectorsRead;

    uint32_t failureMs = e.FailureMs();
    singleSectorMode = failureMs > kSingleSectorAfterMs;
    int level = settings.giveUpLevel.load(std::memory_order_relaxed);
    if (level != 0 && failureMs > GiveUpMilliseconds(level)) SetOutcome(OUTCOME_GIVE_UP, "Give Up");
    // Sectors stored in files that no longer have a name would be lost with
    // them; a destination that is gone also has no free space worth asking about.
    if (!e.ImageSetInPlace()) {
        SetOutcome(OUTCOME_DISK_FULL, "Disk Full ???");
        return;
    }
    CheckTickSpace();
    if (e.tickNow - e.lastSyncTick >= kSyncIntervalMs) SyncFiles();
}

void CCopyRun::CheckTickSpace()
{
    if (e.GetFreeMB() >= kLowSpaceMB) return;
    if (Shortfall(e.GetDiscSizeMB(), e.imageFile.GetSizeMB()) <= kUncoveredMB) return;
    if (!AskLowSpace("Continue ?  ")) {
        LogPrintf(0, "%s", kAbortLowSpace);
        SetOutcome(OUTCOME_LOW_SPACE, kAbortLowSpace);
    }
}

// Data first, then the flags that describe it: after a power cut the flags on
// the device never claim more than the last flush put there.
void CCopyRun::SyncFiles()
{
    (e.exportMode ? e.importFile : e.imageFile).Sync();
    e.flagFile.Sync();
    e.failedReads.Save(false);
    e.lastSyncTick = e.tickNow;
}

void CCopyRun::End()
{
    e.EndDriveSearch();
    e.header.elapsedSeconds += (e.tickNow - e.tickStart) / kMsPerSecond;
    e.drive.DrvStop();
    (e.exportMode ? e.importFile : e.imageFile).Sync();
    if (e.headerChecked) e.WriteHeader();
    e.flagFile.Sync();
    if (historyAdopted) e.failedReads.Save(outcome == OUTCOME_OK || outcome == OUTCOME_GIVE_UP);
    e.flagFile.Close();
    e.imageFile.Close();
    e.importFile.Close();
    LogPrintf(0, "Exit 0x%x: %s", unsigned(outcome), outcomeText);
    StatusPrintf(kSlotRestoreTitle, "");
}

}  // namespace

int CRecoveryEngine::RunCopy()
{
    CCopyRun run(*this);
    return run.Run(&outcomeText);
}

uint32_t CRecoveryEngine::FailureMs() const
{
    // Drive care pushes the origin forward by the time it took, which can put
    // it past the tickNow of the last progress tick: that is no failure time.
    int32_t since = int32_t(tickNow - tickLastGood);
    return since > 0 ? uint32_t(since) : 0;
}
