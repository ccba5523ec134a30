// CRecoveryEngine: the engine object shared by the front end's thread and the
// worker. It owns the drive, the image set and the copy state.
//
// The front end only sets request flags and options; the worker polls them
// (every 100 ms while idle, after every read request during a copy) and
// reports back only through the message channel. The flags are atomics, read
// and written with relaxed order as single values.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "drive/cd_drive.h"
#include "engine/dest_folder.h"
#include "engine/failed_reads.h"
#include "engine/raw_file.h"

// ---- Flag file ---------------------------------------------------------------

constexpr uint32_t kFlagHeaderSize = 48;
constexpr uint32_t kFlagHeaderWords = 12;
constexpr uint32_t kNormalSectorSize = 2048;
constexpr uint32_t kMaxCopySectorSize = 4096;  // what the 16-sector request fits in the read buffer

struct FlagHeader {
    uint32_t sectorCount = 0;     // LBAs 0 .. sectorCount-1
    uint32_t sectorSize = 0;      // bytes per image sector
    uint32_t sectorsRead = 0;     // flags gone from missing to read, all runs
    uint32_t readErrors = 0;      // failed read requests, all runs
    uint32_t elapsedSeconds = 0;  // copy time of earlier runs
    uint32_t reserved[6] = {};    // carried along unchanged
    uint32_t checksum = 0;        // the twelve words sum to 0 mod 2^32

    uint32_t Sum() const;  // of all twelve words, wrapping
    void Encode(uint8_t out[kFlagHeaderSize]) const;
    void Decode(const uint8_t in[kFlagHeaderSize]);
};

// ---- Import file ---------------------------------------------------------------

constexpr uint32_t kImportHeadSize = 16;

struct ImportRecord {
    uint32_t sectorCount = 0;  // the writing copy's sector count
    uint32_t sectorSize = 0;   // its copySectorSize; the data length that follows
    uint32_t lba = 0;
    uint32_t check = 0;        // the four words sum to 0 mod 2^32

    void Encode(uint8_t out[kImportHeadSize]) const;
    void Decode(const uint8_t in[kImportHeadSize]);
    uint32_t Sum() const { return sectorCount + sectorSize + lba + check; }
};

// ---- Progress map --------------------------------------------------------------

constexpr uint32_t kMapCellsMax = 512;
constexpr uint8_t kCellUnvisited = 0;
constexpr uint8_t kCellVisited = 1;
constexpr uint8_t kCellError = 2;

// Written by the copy, drawn by the front end.
struct ProgressMap {
    std::atomic<uint8_t> cells[kMapCellsMax] = {};
    std::atomic<uint32_t> mapCells{kMapCellsMax};  // cells in use, set by the front end before a copy
    std::atomic<uint32_t> mapCurrentCell{1};       // drawn highlighted
    void Clear();
    uint8_t Cell(uint32_t i) const { return i < kMapCellsMax ? cells[i].load(std::memory_order_relaxed) : 0; }
};
extern ProgressMap progressMap;

// ---- Outcomes --------------------------------------------------------------------

enum CopyOutcome : int {
    OUTCOME_OK = 0,             // "Ok"
    OUTCOME_NOT_READY = 1,      // "Drive Not Ready"
    OUTCOME_FOPEN = 2,          // "FOpen *.Flg" / "FOpen *.Iso" / "FOpen *.Imp"
    OUTCOME_USER_BREAK = 3,     // "User Break"
    OUTCOME_DISK_FULL = 5,      // "Disk Full ???"
    OUTCOME_GIVE_UP = 7,        // "Give Up"
    OUTCOME_ISO_NO_FLG = 8,     // "Existing *.Iso but no *.Flg"
    OUTCOME_CHECK_HEADER = 9,   // "CheckHeader *.flg"
    OUTCOME_LOW_SPACE = 10,     // "Abort LowDiskSpace"
    OUTCOME_CANCELED = 11,      // "Canceled"
    OUTCOME_EMPTY = 12,         // "Disk is Empty"
};

// Give-up times by giveUpLevel 0..4 (0: never), and the selector texts.
uint32_t GiveUpMilliseconds(int giveUpLevel);
const char* GiveUpText(int giveUpLevel);

// A volume label as a file name of at most `maxChars` characters: separators,
// characters no file name may hold and control characters become '_', a name
// of only dots becomes underscores, an empty label is "UNNAMED_VOLUME".
std::string SafeFileName(const char* label, size_t maxChars);

// "%lu:%0.2lu:%0.2lu"; one static buffer, overwritten by the next call.
const char* FormatHms(uint32_t seconds);

// ---- The engine ------------------------------------------------------------------

class CRecoveryEngine;

// Told after every progress report of a copy (after set-up, at each tick, at
// each pass's end), on the worker thread, while the flag file is open.
class IProgressObserver {
public:
    virtual ~IProgressObserver() = default;
    virtual void OnProgress(CRecoveryEngine& engine) = 0;
};

constexpr uint32_t kIdleCycleMs = 100;
constexpr uint32_t kReadyWaitMs = 250;
constexpr uint32_t kReadyWaitTries = 240;
constexpr uint32_t kProgressTickMs = 500;
constexpr uint32_t kSingleSectorAfterMs = 30000;
constexpr uint32_t kCooldownSpacingMs = 1800000;

class CRecoveryEngine {
public:
    CRecoveryEngine();
    virtual ~CRecoveryEngine();
    CRecoveryEngine(const CRecoveryEngine&) = delete;
    CRecoveryEngine& operator=(const CRecoveryEngine&) = delete;

    // Flag file.
    bool CheckHeader();
    bool WriteHeader();
    uint32_t AccessFlags(uint32_t lba, int32_t count, bool markRead);

    // Image set.
    bool PrepareImageSet();
    bool WriteSectors(uint32_t lba, uint32_t count, const uint8_t* data);
    uint32_t GetFreeMB();
    // At a progress tick: whether the open flag file and image (or import)
    // file still sit at their paths. False after logging at level 0 which
    // one is gone; the copy then ends before it marks anything more read.
    bool ImageSetInPlace();
    static bool IsNtfs(const char* path);
    // The root IsNtfs asks about for `path` ("" for the current directory's volume).
    static void NtfsRoot(const char* path, char root[kMaxPath + 1]);

    // Import merge (front end's thread). Refused, with a line at level 0,
    // while a copy runs or is requested.
    void ImportMerge(const char* importPath);
    // Records imported by the last merge, and whether it ran to the end of the file.
    uint32_t lastImportCount = 0;
    bool lastImportComplete = false;

    // The copy.
    int RunCopy();
    const char* OutcomeText() const { return outcomeText; }
    uint32_t GetDiscSizeMB();
    uint32_t ScaledRandom(uint32_t n);
    void SeedRandom(uint32_t seed);
    uint32_t Random15();  // 0..32767

    // Drive care.
    uint32_t DriveCare();
    void CoolDown(uint32_t seconds);
    // Waits up to a minute for the drive to answer ready; true when it did.
    // A drive that did not answer for the whole minute is detached; while it
    // is, the wait looks for it on the bus every 5 s instead (a drive
    // unplugged and plugged in again, see CCdDrive::FindAgain). Any part of a
    // copy that waits for the drive calls this.
    bool AwaitDrive();
    // At the end of a copy: a drive still detached is reported; it stays
    // detached, so that no stop or eject goes to an address not proven.
    void EndDriveSearch();
    // Looks for a detached drive on the bus (CCdDrive::FindAgain with the
    // image set's evidence) and says so when it is found.
    bool LookForDrive();

    // Identity of the disc in the drive with the image set: the sector count
    // (CheckHeader) and the evidence, sectors the set holds read again from
    // the drive. Gathers the evidence from the open image and flag file (in
    // export mode, from records of the import file), compares, and false
    // after a line at level 0 when a sector differs.
    bool DiscBelongsToImageSet();
    void GatherEvidence();
    // Sectors this copy and its set hold, kept as they are stored.
    CDiscEvidence evidence;

    // Progress.
    void ReportProgress();
    IProgressObserver* progressObserver = nullptr;  // set only while no copy runs
    // tickNow - tickLastGood, or 0 while drive care has pushed the origin past
    // the last progress tick.
    uint32_t FailureMs() const;

    // Worker.
    void PollIdle();

    // Force Volume Size sources 0..2 ("Drive Reported", "Existing Flagfile",
    // "Estimated"); `detail` receives at most 50 characters (51 bytes). The
    // flag file's Open dialog belongs to `owner`, the window that asks.
    uint32_t SizeBySource(int choice, char* detail, void* owner = nullptr);
    // The volume size that the disc's file system claims (ISO 9660 volume
    // space size, UDF partition end or last anchor), read from the drive by
    // the worker; 0 when the disc holds none that can be read.
    uint32_t SizeByFileSystem();
    // Runs on the worker: reads sectors 16 on and 256 from the drive.
    uint32_t ReadFileSystemSize();

    // ---- Members, in the design's order ----
    CCdDrive drive;
    CDestFolder destFolder;
    CRawFile imageFile;
    CRawFile flagFile;
    CRawFile importFile;

    std::atomic<bool> shutdownRequested{false};
    std::atomic<bool> runRequested{false};
    std::atomic<bool> copyRunning{false};
    std::atomic<bool> shutdownOnCompletion{false};
    std::atomic<bool> probeSizeRequested{false};
    std::atomic<bool> fileSystemSizeRequested{false};
    std::atomic<uint32_t> fileSystemSectors{0};
    std::atomic<bool> threadAlive{false};
    std::atomic<bool> ejectRequested{false};
    std::atomic<bool> loadRequested{false};
    std::atomic<bool> selectDriveRequested{false};
    std::atomic<int> selectDriveIndex{0};
    uint32_t sectorsToCopy = 0;
    std::atomic<bool> sizeForced{false};
    std::atomic<bool> sourceChanged{true};
    std::atomic<bool> sourceReady{false};
    bool exportMode = false;
    FlagHeader header;
    ImportRecord importRecord;
    std::atomic<uint32_t> position{0};
    uint32_t tickNow = 0;
    uint32_t tickStart = 0;
    uint32_t tickLastGood = 0;
    uint32_t readHistory[4] = {};
    uint32_t copySectorSize = kNormalSectorSize;
    bool labelRead = false;
    uint32_t careCountdown = 0;
    uint32_t nextCooldownTick = 0;
    char lastFlagPath[kMaxPath + 1] = "";
    // The failed reads of the set's copies in this drive (the sweep's retry
    // chooses by them; kept beside the set between runs).
    CFailedReads failedReads;

    // Who works on the image set's files: a copy (worker) or a merge (front
    // end's thread). Each takes it before it starts; the other is refused
    // while it is held.
    enum { kSetFree, kSetCopy, kSetMerge };
    std::atomic<int> imageSetUser{kSetFree};
    bool TakeImageSet(int user)
    {
        int expected = kSetFree;
        return imageSetUser.compare_exchange_strong(expected, user);
    }
    void ReleaseImageSet() { imageSetUser.store(kSetFree); }

    // Whether CheckHeader ran on this copy's flag file (only then is the
    // header written back at the end).
    bool headerChecked = false;
    // Tick of the last flush of image and flag file to the device.
    uint32_t lastSyncTick = 0;

private:
    void MergeImportFile(const char* importPath);

    const char* outcomeText = "Ok";
    uint32_t randomState = 1;
};

// Checks that every merge makes: the flag file's header read into e.header
// and accepted (the log says why not), and whether the flag file at `path`
// marks any of its sectors read.
bool LoadMergeHeader(CRecoveryEngine& e);
bool FlagFileMarksAnyRead(const char* path);

// The worker thread: 1 when it ended for a power-off, else 0.
unsigned RecoveryThreadProc(CRecoveryEngine* engine);
