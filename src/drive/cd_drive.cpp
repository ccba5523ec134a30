// The single SCSI commands of the drive object: each clears the one command
// record, fills in its CDB, direction and buffer and hands it to the transport.
#include "drive/cd_drive.h"

#include <cstdio>
#include <cstring>

#include "channel/channel.h"

const char kUnnamedVolume[] = "UNNAMED_VOLUME";

namespace {

// SCSI operation codes.
constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpReadCapacity = 0x25;
constexpr uint8_t kOpRead10 = 0x28;
constexpr uint8_t kOpStartStopUnit = 0x1B;

constexpr uint8_t kCdb6 = 6;
constexpr uint8_t kCdb10 = 10;

// INQUIRY: what is asked for, and where the identification lies in the reply.
constexpr int kVendorOffset = 8;
constexpr int kVendorLength = 8;
constexpr int kProductOffset = 16;
constexpr int kProductLength = 16;
constexpr int kRevisionOffset = 32;
constexpr int kRevisionLength = 4;

constexpr uint32_t kCapacityLength = 8;  // last block address, block length

// START STOP UNIT byte 4: Start (bit 0) and LoEj (bit 1).
constexpr uint8_t kStartBit = 0x01;
constexpr uint8_t kLoEjBit = 0x02;
constexpr int kStartStopByte = 4;

uint32_t BigEndian32(const uint8_t* p)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) + p[i];
    return value;
}

// Appends at most `max` characters of `src`, stopping at its first NUL.
void AppendField(char* dst, const uint8_t* src, int max)
{
    size_t at = std::strlen(dst);
    for (int i = 0; i < max && src[i] != 0; ++i) dst[at++] = char(src[i]);
    dst[at] = '\0';
}

}  // namespace

CCdDrive::CCdDrive() : aspi_(*this)
{
    std::snprintf(volumeLabel, sizeof volumeLabel, "%s", kUnnamedVolume);
    std::memset(readBuffer, 0, sizeof readBuffer);
}

CCdDrive::~CCdDrive() = default;

bool CCdDrive::Issue(const char* operation, const uint8_t* cdb, uint8_t cdbLength, DataDir dir, uint8_t* buffer,
                     uint32_t length)
{
    // Only drives of the table are addressed: with no drive, entry 0 holds the
    // address 0:0:0, which may well be a hard disk that must never see START STOP.
    // A detached drive is not addressed either: what answers there now may be
    // another drive, or the same one with another disc.
    if (selectedIndex < 0 || selectedIndex >= driveCount || detached_) {
        operationName = operation;
        LogPrintf(4, "SCSI %s %x", operationName, unsigned(aspi::SS_NO_DEVICE));
        return false;
    }
    return Send(operation, cdb, cdbLength, dir, buffer, length);
}

bool CCdDrive::Send(const char* operation, const uint8_t* cdb, uint8_t cdbLength, DataDir dir, uint8_t* buffer,
                    uint32_t length)
{
    operationName = operation;
    std::memset(&commandRecord, 0, sizeof commandRecord);
    std::memcpy(commandRecord.CDBByte, cdb, cdbLength);
    commandRecord.SRB_CDBLen = cdbLength;
    commandRecord.SRB_Flags = uint8_t(dir);
    commandRecord.SRB_BufPointer = buffer;
    commandRecord.SRB_BufLen = length;
    const DriveEntry& e = driveList.entries[selectedIndex];
    uint8_t status = aspi_.ExecScsi(commandRecord, e.hostAdapter, e.target, e.lun);
    if (status == aspi::SS_COMP) return true;
    LogPrintf(4, "SCSI %s %x", operationName, unsigned(status));
    return false;
}

bool CCdDrive::DrvReady()
{
    const uint8_t cdb[kCdb6] = {kOpTestUnitReady, 0, 0, 0, 0, 0};
    return Issue("DrvReady", cdb, kCdb6, DataDir::None, nullptr, 0);
}

bool CCdDrive::DrvInquiry(int index)
{
    if (index < 0 || index >= kMaxDrives) return false;  // never write beyond the table
    selectedIndex = index;
    DriveEntry& e = driveList.entries[index];
    e.addressText[0] = '\0';
    if (!Inquire(e.name, e.revision)) return false;
    std::snprintf(e.addressText, sizeof e.addressText, "[%x:%x:%x] ", unsigned(e.hostAdapter), unsigned(e.target),
                  unsigned(e.lun));
    LogPrintf(0, "%s %s", e.addressText, e.name);
    return true;
}

bool CCdDrive::Inquire(char (&name)[128], char (&revision)[5])
{
    name[0] = '\0';
    revision[0] = '\0';
    std::memset(inquiryData, 0, sizeof inquiryData);
    const uint8_t cdb[kCdb6] = {kOpInquiry, 0, 0, 0, kInquiryLength, 0};
    if (!Send("DrvInquiry", cdb, kCdb6, DataDir::In, inquiryData, kInquiryLength)) return false;
    AppendField(name, inquiryData + kVendorOffset, kVendorLength);
    AppendField(name, inquiryData + kProductOffset, kProductLength);
    AppendField(revision, inquiryData + kRevisionOffset, kRevisionLength);
    return true;
}

bool CCdDrive::ReadCapacity(uint32_t* lastLba, uint32_t* length)
{
    uint8_t reply[kCapacityLength] = {};
    const uint8_t cdb[kCdb10] = {kOpReadCapacity, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (!Issue("DrvCap", cdb, kCdb10, DataDir::In, reply, kCapacityLength)) return false;
    *lastLba = BigEndian32(reply);
    *length = BigEndian32(reply + 4);
    return true;
}

uint32_t CCdDrive::DrvCap()
{
    uint32_t lastLba = 0;
    uint32_t length = 0;
    if (!ReadCapacity(&lastLba, &length)) return 0;
    reportedLastLba.store(lastLba, std::memory_order_relaxed);
    copySize.store(lastLba, std::memory_order_relaxed);
    blockLength = length;
    LogPrintf(4, "blk %x, siz %x", lastLba, length);
    return lastLba;
}

bool CCdDrive::DrvBlkRead(uint32_t lba, uint32_t count)
{
    const uint8_t cdb[kCdb10] = {kOpRead10,         0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8),
                                 uint8_t(lba),      0, uint8_t(count >> 8), uint8_t(count),    0};
    bool ok = Issue("DrvBlkRead", cdb, kCdb10, DataDir::In, readBuffer, kReadBufferSize);
    LogPrintf(4, ok ? "lba %lx, len %x OK" : "lba %lx, len %x RdErr", static_cast<unsigned long>(lba), count);
    return ok;
}

bool CCdDrive::StartStop(const char* operation, uint8_t startLoEj)
{
    uint8_t cdb[kCdb6] = {kOpStartStopUnit, 0, 0, 0, 0, 0};
    cdb[kStartStopByte] = startLoEj;
    return Issue(operation, cdb, kCdb6, DataDir::Out, nullptr, 0);
}

bool CCdDrive::DrvStop() { return StartStop("DrvStop", 0); }
bool CCdDrive::DrvStart() { return StartStop("DrvStart", kStartBit); }
bool CCdDrive::DrvOpen() { return StartStop("DrvOpen", kLoEjBit); }
bool CCdDrive::DrvClose() { return StartStop("DrvClose", kLoEjBit | kStartBit); }
