// The size sources of the Force Volume Size dialog: the drive's reported size,
// the sector count of an existing flag file, or the worker's estimate; and the
// size that the disc's file system claims.
#include <cstring>

#include "filesys/listing.h"

#include "engine/recovery_engine.h"
#include "platform/clock.h"
#include "platform/prompt.h"
#include "channel/channel.h"

namespace {

enum SizeSource { kDriveReported = 0, kExistingFlagfile = 1, kEstimated = 2 };

constexpr size_t kDetailChars = 50;
constexpr size_t kLabelNameChars = 250;

// The sector count of the flag file the user picks, or 0 when it cannot be
// read or its header is refused. The flag file is closed on every path: a
// file left open here would make the next copy fail to open it.
uint32_t FlagFileSize(CRecoveryEngine& e, char* detail, void* owner)
{
    FileChoice choice;
    choice.owner = owner;
    choice.defaultName = SafeFileName(e.drive.VolumeLabel(), kLabelNameChars) + ".flg";
    choice.filter = "Flag Files (*.flg)|*.flg||";
    choice.initialDir = e.destFolder.Get();
    choice.mustExist = true;
    std::string chosen;
    if (!Prompt().ChooseFile(choice, &chosen)) return e.drive.reportedLastLba.load(std::memory_order_relaxed);

    e.flagFile.SetPath(chosen.c_str());
    e.destFolder.SetToFolderOf(e.flagFile.GetPath());
    StatusPrintf(kSlotDestFolder, "");

    // Only an existing file is asked about; Open() would create a missing one.
    if (!e.flagFile.Exists() || !e.flagFile.Open()) return 0;
    uint8_t raw[kFlagHeaderSize];
    int got = e.flagFile.Seek(0) == 0 ? e.flagFile.Read(raw, kFlagHeaderSize) : -1;
    if (got != int(kFlagHeaderSize)) {
        e.flagFile.Close();
        return 0;
    }
    e.header.Decode(raw);
    if (e.header.Sum() != 0) {
        int answer = AskUser("Ignore Checksum Error ?  ", "Failed Header Check!",
                             mb::kYesNo | mb::kIconWarning | mb::kSetForeground);
        LogPrintf(0, "Fail Header Check *.flg");
        if (answer != kIdYes) {
            e.flagFile.Close();
            return 0;
        }
    }
    std::strncpy(detail, e.flagFile.GetFileName(), kDetailChars);
    detail[kDetailChars] = '\0';
    e.flagFile.Close();
    return e.header.sectorCount;
}

// The disc in the drive as the file-system reader sees it: sectors read one
// at a time, a failed read is an unreadable sector.
class CDriveSectors : public ISectorReader {
public:
    explicit CDriveSectors(CCdDrive& drive) : drive_(drive) {}
    uint32_t SectorCount() const override
    {
        uint32_t last = drive_.reportedLastLba.load(std::memory_order_relaxed);
        return last == UINT32_MAX ? last : last + 1;
    }
    bool Present(uint32_t lba) const override { return lba < SectorCount(); }
    bool Read(uint32_t lba, uint8_t* out) override
    {
        if (!Present(lba) || !drive_.DrvBlkRead(lba, 1)) return false;
        std::memcpy(out, drive_.readBuffer, kFsSectorSize);
        return true;
    }

private:
    CCdDrive& drive_;
};

}  // namespace

uint32_t CRecoveryEngine::ReadFileSystemSize()
{
    CDriveSectors disc(drive);
    uint32_t sectors = ClaimedVolumeSectors(disc);
    LogPrintf(1, "File system volume size: %u Sectors", sectors);
    return sectors;
}

uint32_t CRecoveryEngine::SizeByFileSystem()
{
    fileSystemSizeRequested.store(true, std::memory_order_relaxed);
    while (fileSystemSizeRequested.load(std::memory_order_acquire)) SleepMs(kIdleCycleMs);
    return fileSystemSectors.load(std::memory_order_relaxed);
}

uint32_t CRecoveryEngine::SizeBySource(int choice, char* detail, void* owner)
{
    detail[0] = '\0';
    switch (choice) {
    case kDriveReported:
        return drive.reportedLastLba.load(std::memory_order_relaxed);
    case kExistingFlagfile: {
        // The flag file object is the copy's and the merge's too: taken as they take it.
        if (runRequested.load() || !TakeImageSet(kSetMerge)) {
            LogPrintf(0, "Cannot read a flag file - A copy is running; pause it first");
            return 0;
        }
        uint32_t sectors = FlagFileSize(*this, detail, owner);
        ReleaseImageSet();
        return sectors;
    }
    case kEstimated:
        // The worker runs the estimate on its own thread and clears the flag.
        probeSizeRequested.store(true, std::memory_order_relaxed);
        while (probeSizeRequested.load(std::memory_order_acquire)) SleepMs(kIdleCycleMs);
        return drive.estimatedLastLba.load(std::memory_order_relaxed);
    default:
        return 0;
    }
}
