// The four ASPI for Win32 request records, byte-packed in their published
// layout, and the codes the program uses. In the 32-bit Windows build their
// sizes are those of the published headers (80, 14, 60 and 12 bytes); on a
// 64-bit build the pointer fields are wider and only the field order holds.
#pragma once
#include <cstdint>

namespace aspi {

constexpr uint8_t SC_HA_INQUIRY = 0x00;
constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
constexpr uint8_t SC_RESCAN_SCSI_BUS = 0x07;  // SRB_Header only: look for devices again
constexpr uint8_t SC_GETSET_TIMEOUTS = 0x08;

constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ABORTED = 0x02;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_CMD = 0x80;
constexpr uint8_t SS_INVALID_HA = 0x81;
constexpr uint8_t SS_NO_DEVICE = 0x82;

constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

constexpr uint8_t DTYPE_CDROM = 0x05;
constexpr uint8_t SENSE_LEN = 14;

// GetASPI32SupportInfo: low byte host adapter count, second byte status.
constexpr uint8_t SS_NO_ADAPTERS = 0xE8;
constexpr uint8_t SS_OLD_MANAGER = 0xE1;
constexpr uint8_t SS_ILLEGAL_MODE = 0xE2;
constexpr uint8_t SS_NO_ASPI = 0xE3;

constexpr uint8_t HASTAT_OK = 0x00;
constexpr uint8_t HASTAT_TIMEOUT = 0x09;
constexpr uint8_t STATUS_GOOD = 0x00;
constexpr uint8_t STATUS_CHKCOND = 0x02;

#pragma pack(push, 1)

struct SRB_Header {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    uint8_t HA_ManagerId[16];
    uint8_t HA_Identifier[16];
    uint8_t HA_Unique[16];
    uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint8_t SRB_DeviceType;
    uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[SENSE_LEN + 2];
};

struct SRB_GetSetTimeouts {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint32_t SRB_Timeout;  // half-seconds
};

#pragma pack(pop)

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SRB_ExecSCSICmd) == 80, "SRB_ExecSCSICmd is 80 bytes");
static_assert(sizeof(SRB_GetSetTimeouts) == 14, "SRB_GetSetTimeouts is 14 bytes");
static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry is 60 bytes");
static_assert(sizeof(SRB_GDEVBlock) == 12, "SRB_GDEVBlock is 12 bytes");
#endif

}  // namespace aspi
