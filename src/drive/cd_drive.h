// CCdDrive: the one object through which the program touches optical drives.
//
// It holds the table of CD/DVD drives, the selected drive, the 64 KiB read
// buffer and the sizes, and turns each need of the engine into one SCSI
// command (or a short fixed sequence) to the selected drive. Every command
// reports success or failure only; a failure is logged at level 4.
#pragma once
#include <atomic>
#include <cstdint>

#include "drive/aspi_layer.h"
#include "drive/aspi_records.h"
#include "drive/disc_evidence.h"

constexpr int kMaxDrives = 8;
constexpr uint32_t kReadBufferSize = 65536;  // 32 sectors of 2048 bytes
constexpr uint32_t kDefaultBlockLength = 2048;
constexpr int kLabelSize = 100;
constexpr uint8_t kInquiryLength = 56;               // INQUIRY allocation length
constexpr uint32_t kSelectTimeoutHalfSeconds = 30;  // 15 s per command
extern const char kUnnamedVolume[];                 // "UNNAMED_VOLUME"

// The volume label of an ISO 9660 primary volume descriptor (the sector's
// 2048 bytes): the first word of the volume identifier, or "UNNAMED_VOLUME".
void LabelOfDescriptor(const uint8_t* sector, char (&label)[kLabelSize]);

struct DriveEntry {
    uint8_t hostAdapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    char name[128] = "";         // vendor + product from INQUIRY
    char revision[5] = "";       // product revision level from INQUIRY (identity, not shown)
    char addressText[128] = "";  // "[%x:%x:%x] "
};

// The drive table as the Source list shows it: entries 0 .. count-1, scan order.
struct CDriveList {
    DriveEntry entries[kMaxDrives];
};

enum class DataDir : uint8_t { None = 0, In = aspi::SRB_DIR_IN, Out = aspi::SRB_DIR_OUT };

class CCdDrive {
public:
    CCdDrive();
    virtual ~CCdDrive();
    CCdDrive(const CCdDrive&) = delete;
    CCdDrive& operator=(const CCdDrive&) = delete;

    CAspiLayer& Aspi() { return aspi_; }
    bool InitAspi() { return aspi_.InitAspi(); }

    // Single commands: true when the completion status is 1.
    bool DrvReady();                 // TEST UNIT READY
    bool DrvInquiry(int index);      // INQUIRY into entry `index`, which becomes selected
    uint32_t DrvCap();               // READ CAPACITY(10): last block address, 0 on failure
    bool DrvBlkRead(uint32_t lba, uint32_t count);  // READ(10) into the read buffer
    bool DrvStop();                  // START STOP UNIT: spin down
    bool DrvStart();                 // spin up
    bool DrvOpen();                  // eject: open the tray
    bool DrvClose();                 // load: close the tray

    // Sequences.
    bool SelectDrive(int index);
    bool PauseDrive(uint32_t milliseconds);
    bool CycleTray(uint32_t milliseconds);
    bool SpinUp(uint32_t firstLba, uint32_t count);

    // Drive list and volume identity.
    bool ReadVolumeLabel();
    uint32_t EstimateSize();

    // Reads each sector of `evidence` again from the selected drive and
    // compares it byte for byte; stops at the first that differs.
    EvidenceVerdict CompareEvidence(const CDiscEvidence& evidence);

    // A drive that has gone away (a USB drive unplugged, a drive that locked
    // up). Detach() makes every command to the selected drive fail unsent, so
    // that nothing at its address is read until it is known to be the same
    // drive with the same disc. FindAgain() asks the transport to rescan and
    // looks for that drive by identity: INQUIRY vendor, product and revision,
    // READ CAPACITY's last block address and block length, the volume label
    // (when the last ReadVolumeLabel settled it from the disc and the
    // descriptor reads now), and `evidence`, the sectors the image set holds,
    // none of which may differ. Found, the entry takes the drive's address (it
    // may be new) and it is attached again; true. Not found, it is detached:
    // after a rescan the old address may name another device.
    // SelectDrive also attaches.
    void Detach() { detached_ = true; }
    bool Detached() const { return detached_; }
    bool FindAgain(const CDiscEvidence* evidence);

    int DriveCount() const { return driveCount; }
    const char* DriveName(int index) const { return driveList.entries[index].name; }
    const DriveEntry& Entry(int index) const { return driveList.entries[index]; }
    int SelectedIndex() const { return selectedIndex; }
    uint32_t BlockLength() const { return blockLength; }
    uint32_t CopySize() const { return copySize.load(std::memory_order_relaxed); }
    void SetCopySize(uint32_t sectors) { copySize.store(sectors, std::memory_order_relaxed); }
    const char* VolumeLabel() const { return volumeLabel; }

    // Fields the engine reads (and, for the reported size, clears) directly.
    char volumeLabel[kLabelSize];
    uint8_t readBuffer[kReadBufferSize];
    std::atomic<uint32_t> reportedLastLba{0};
    std::atomic<uint32_t> estimatedLastLba{0};
    std::atomic<uint32_t> copySize{0};

private:
    friend class CAspiLayer;
    // Sets the operation name, clears and fills the command record, executes it
    // for the selected entry; logs "SCSI %s %x" on failure.
    // Commands go only to entries of the table; other indexes fail unsent.
    bool Issue(const char* operation, const uint8_t* cdb, uint8_t cdbLength, DataDir dir, uint8_t* buffer,
               uint32_t length);
    // The same without the table check (INQUIRY of the entry the scan is filling).
    bool Send(const char* operation, const uint8_t* cdb, uint8_t cdbLength, DataDir dir, uint8_t* buffer,
              uint32_t length);
    bool StartStop(const char* operation, uint8_t startLoEj);
    // INQUIRY of the selected entry's address into `name` (vendor + product)
    // and `revision`, touching nothing else.
    bool Inquire(char (&name)[128], char (&revision)[5]);
    bool SettleVolumeLabel();  // ReadVolumeLabel's work
    // READ CAPACITY(10) without storing what it says.
    bool ReadCapacity(uint32_t* lastLba, uint32_t* length);
    // Whether the device now at the selected entry's address is the one wanted.
    bool IsSameDrive(const DriveEntry& wanted, uint32_t lastLba, uint32_t length, const char* label,
                     const CDiscEvidence* evidence);

    CAspiLayer aspi_;
    CDriveList driveList;
    int32_t selectedIndex = 0;
    const char* operationName = "";
    int32_t driveCount = 0;
    bool detached_ = false;
    bool labelSettled_ = false;  // the last ReadVolumeLabel returned true
    uint32_t blockLength = kDefaultBlockLength;
    aspi::SRB_ExecSCSICmd commandRecord{};
    uint8_t inquiryData[kInquiryLength] = {};  // INQUIRY reply, reused like the command record
};
