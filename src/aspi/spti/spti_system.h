// The few Windows calls the SCSI pass-through ASPI manager makes, behind one
// small interface, and the Windows records it exchanges with the storage
// drivers, declared here in their documented layouts. Nothing here includes a
// Windows header, so the translation between ASPI records and pass-through
// requests builds and is tested on any platform; spti_system_win32.cpp is the
// thin real one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace spti {

// CreateFileA's access and share flags, GetDriveTypeA's answer for a CD/DVD drive.
constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kFileShareRead = 0x00000001;
constexpr uint32_t kFileShareWrite = 0x00000002;
constexpr uint32_t kDriveCdrom = 5;

// Control codes: CTL_CODE(FILE_DEVICE_CONTROLLER, function, METHOD_BUFFERED, access).
constexpr uint32_t kIoctlScsiGetCapabilities = 0x00041010;   // function 0x404, any access
constexpr uint32_t kIoctlScsiPassThroughDirect = 0x0004D014; // function 0x405, read and write access
constexpr uint32_t kIoctlScsiGetAddress = 0x00041018;        // function 0x406, any access

// SCSI_PASS_THROUGH_DIRECT.DataIn
constexpr uint8_t kDataOut = 0;          // SCSI_IOCTL_DATA_OUT
constexpr uint8_t kDataIn = 1;           // SCSI_IOCTL_DATA_IN
constexpr uint8_t kDataUnspecified = 2;  // SCSI_IOCTL_DATA_UNSPECIFIED

// GetLastError values the manager tells apart.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorSemTimeout = 121;

// SCSI_PASS_THROUGH_DIRECT, natural alignment as in the system's header.
struct ScsiPassThroughDirect {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;  // seconds
    void* DataBuffer;
    uint32_t SenseInfoOffset;  // from the start of this record
    uint8_t Cdb[16];
};

// What one pass-through request sends and gets back: the record with room for
// the sense data behind it, where SenseInfoOffset points.
constexpr uint8_t kSenseBytes = 32;
struct PassThroughRequest {
    ScsiPassThroughDirect sptd;
    uint32_t filler;  // keeps the sense data on a word boundary
    uint8_t sense[kSenseBytes];
};

// SCSI_ADDRESS
struct ScsiAddress {
    uint32_t Length;
    uint8_t PortNumber;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
};

// IO_SCSI_CAPABILITIES
struct ScsiCapabilities {
    uint32_t Length;
    uint32_t MaximumTransferLength;
    uint32_t MaximumPhysicalPages;
    uint32_t SupportedAsynchronousEvents;
    uint32_t AlignmentMask;
    uint8_t TaggedQueuing;
    uint8_t AdapterScansDown;
    uint8_t AdapterUsesPio;
};

static_assert(offsetof(ScsiPassThroughDirect, DataTransferLength) == 12);
static_assert(offsetof(ScsiPassThroughDirect, TimeOutValue) == 16);
static_assert(sizeof(ScsiAddress) == 8);
static_assert(offsetof(ScsiCapabilities, AlignmentMask) == 16);
static_assert(sizeof(ScsiCapabilities) == 24);
#if UINTPTR_MAX == 0xFFFFFFFF
// The 32-bit layout the DLL hands to the system.
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 20);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 24);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 28);
static_assert(sizeof(ScsiPassThroughDirect) == 44);
static_assert(offsetof(PassThroughRequest, sense) == 48);
#else
// The 64-bit layout, where the native tests run.
static_assert(offsetof(ScsiPassThroughDirect, DataBuffer) == 24);
static_assert(offsetof(ScsiPassThroughDirect, SenseInfoOffset) == 32);
static_assert(offsetof(ScsiPassThroughDirect, Cdb) == 36);
static_assert(sizeof(ScsiPassThroughDirect) == 56);
#endif

using Handle = void*;  // null when an open failed

class ISptiSystem {
public:
    virtual ~ISptiSystem() = default;
    // GetLogicalDrives: bit 0 is A:, bit 25 Z:.
    virtual uint32_t LogicalDrives() = 0;
    // GetDriveTypeA of a root such as "D:\".
    virtual uint32_t DriveType(const std::string& root) = 0;
    // CreateFileA(path, access, share, no security, OPEN_EXISTING, 0, none).
    // Null on failure, with GetLastError in *error.
    virtual Handle Open(const std::string& path, uint32_t access, uint32_t share, uint32_t* error) = 0;
    // DeviceIoControl. On failure *error holds GetLastError.
    virtual bool Control(Handle handle, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* returned, uint32_t* error) = 0;
    virtual void Close(Handle handle) = 0;
    // OutputDebugStringA
    virtual void DebugLine(const std::string& line) = 0;
    // A variable of the process environment, "" when unset.
    virtual std::string Environment(const char* name) = 0;
};

}  // namespace spti
