// The few operating-system calls the SG_IO ASPI manager makes, behind one
// small interface so the translation between ASPI records and SG_IO can be
// tested without a SCSI device. The real one (sg_system_linux.cpp) is a thin
// wrapper over open/ioctl/close/readdir/readlink; nothing here includes a
// Linux header.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sgio {

// Status words of an SG_IO reply, as the Linux SCSI layer reports them.
constexpr uint16_t kHostOk = 0x00;         // DID_OK
constexpr uint16_t kHostNoConnect = 0x01;  // DID_NO_CONNECT
constexpr uint16_t kHostBusBusy = 0x02;    // DID_BUS_BUSY
constexpr uint16_t kHostTimeOut = 0x03;    // DID_TIME_OUT
constexpr uint16_t kHostBadTarget = 0x04;  // DID_BAD_TARGET
constexpr uint16_t kHostAbort = 0x05;      // DID_ABORT
constexpr uint16_t kHostParity = 0x06;     // DID_PARITY
constexpr uint16_t kHostReset = 0x08;      // DID_RESET
constexpr uint16_t kDriverOk = 0x00;
constexpr uint16_t kDriverTimeout = 0x06;  // DRIVER_TIMEOUT
constexpr uint16_t kDriverSense = 0x08;    // DRIVER_SENSE: sense data was returned
constexpr uint16_t kDriverStatusMask = 0x0F;

// A Linux SCSI address: host number, channel (bus), SCSI id (target) and LUN.
struct ScsiAddress {
    uint32_t host = 0;
    uint32_t channel = 0;
    uint32_t id = 0;
    uint32_t lun = 0;
    bool operator==(const ScsiAddress&) const = default;
};

// What SG_GET_SCSI_ID tells of a device.
struct ScsiDeviceId {
    ScsiAddress address;
    uint8_t type = 0;  // SCSI peripheral device type (5: CD/DVD)
};

enum class Direction { None, FromDevice, ToDevice };

// One SG_IO request and, after Execute, its reply.
struct Transfer {
    Direction direction = Direction::None;
    const uint8_t* cdb = nullptr;
    uint8_t cdbLength = 0;
    uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    uint8_t* sense = nullptr;
    uint8_t senseCapacity = 0;
    uint32_t timeoutMs = 0;
    // Reply.
    uint8_t status = 0;          // SCSI status byte (0 GOOD, 2 CHECK CONDITION)
    uint16_t hostStatus = 0;     // kHost*
    uint16_t driverStatus = 0;   // kDriver*
    int32_t resid = 0;           // bytes of dataLength not transferred
    uint8_t senseWritten = 0;    // bytes of sense data placed in `sense`
};

class ISgSystem {
public:
    virtual ~ISgSystem() = default;
    // Entry names of a folder ("sg0", "sr0", ...); empty when it cannot be read.
    virtual std::vector<std::string> ListFolder(const std::string& folder) = 0;
    // Opens a device node read-write and non-blocking (a CD device opened
    // blocking locks its door, and eject then fails). -1 on failure.
    virtual int Open(const std::string& path) = 0;
    virtual void Close(int fd) = 0;
    // SG_GET_SCSI_ID; works on sg nodes only.
    virtual bool GetScsiId(int fd, ScsiDeviceId* id) = 0;
    // SG_IO. False when the request itself could not be made (the ioctl
    // failed); the reply fields are then meaningless.
    virtual bool Execute(int fd, Transfer* transfer) = 0;
    // A small sysfs attribute file's text, as read.
    virtual bool ReadText(const std::string& path, std::string* text) = 0;
    // A symbolic link's target, as stored.
    virtual bool ReadLink(const std::string& path, std::string* target) = 0;
};

}  // namespace sgio
