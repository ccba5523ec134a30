// The SG_IO manager's answers to the four ASPI requests.
#include <algorithm>
#include <cstring>

#include "aspi/sgio/sgio_aspi.h"
#include "platform/event.h"
#include "ui/core/channel.h"

namespace sgio {

namespace {

constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpReadCapacity10 = 0x25;
constexpr uint8_t kOpRead10 = 0x28;
constexpr uint8_t kOpRead12 = 0xA8;
constexpr uint32_t kReadCapacityBytes = 8;
constexpr uint32_t kUserDataBytes = 2048;   // one sector of the discs the program reads
constexpr uint32_t kInquiryHeaderBytes = 5; // up to and including the additional length
constexpr size_t kInquiryAdditionalLength = 4;
constexpr size_t kHaUniqueMaxTargets = 3;   // HA_Unique byte: targets per adapter
constexpr size_t kSenseBufferBytes = 32;    // what the OS may return; the record keeps fewer
constexpr size_t kSenseKey = 2;             // fixed-format sense: key, ASC, ASCQ
constexpr uint8_t kSenseKeyMask = 0x0F;
constexpr size_t kSenseAsc = 12;
constexpr size_t kSenseAscq = 13;
constexpr int kTraceLevel = 4;              // "Debug", like the drive layer's failure lines

uint32_t Be16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Be32(const uint8_t* p) { return (Be16(p) << 16) | Be16(p + 2); }

void CopyText(uint8_t (&field)[16], const std::string& text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

uint8_t HostStatusToAspi(uint16_t host, uint16_t driver)
{
    if ((driver & kDriverStatusMask) == kDriverTimeout) return HASTAT_COMMAND_TIMEOUT;
    switch (host) {
    case kHostOk: return aspi::HASTAT_OK;
    case kHostNoConnect:
    case kHostBadTarget: return HASTAT_SEL_TO;
    case kHostTimeOut: return HASTAT_COMMAND_TIMEOUT;
    case kHostReset: return HASTAT_BUS_RESET;
    case kHostParity: return HASTAT_PARITY_ERROR;
    default: return HASTAT_PHASE_ERR;
    }
}

bool Matches(uint8_t wanted, uint8_t actual) { return wanted == kAspiWildcard || wanted == actual; }

// Success only when the device, the adapter and the driver all report good
// and a data transfer moved every byte the command asks for.
uint8_t Judge(aspi::SRB_ExecSCSICmd& srb, const Transfer& t, const uint8_t* sense)
{
    if (t.status == aspi::STATUS_CHKCOND || (t.driverStatus & kDriverSense)) {
        // As an ASPI manager does: the sense data lands in the record.
        const size_t room = std::min<size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea);
        std::memset(srb.SenseArea, 0, room);
        std::memcpy(srb.SenseArea, sense, std::min<size_t>(room, t.senseWritten));
    }
    if (t.status != aspi::STATUS_GOOD || t.hostStatus != kHostOk || t.driverStatus != kDriverOk)
        return aspi::SS_ERR;
    if (t.direction == Direction::None) return aspi::SS_COMP;

    const uint32_t resid = static_cast<uint32_t>(std::clamp<int64_t>(t.resid, 0, t.dataLength));
    const uint32_t moved = t.dataLength - resid;
    const uint32_t need = t.direction == Direction::FromDevice
                              ? RequiredInBytes(srb.CDBByte, t.data, moved, t.dataLength)
                              : t.dataLength;
    if (moved < need) {
        srb.SRB_HaStat = HASTAT_DO_DU;
        return aspi::SS_ERR;
    }
    return aspi::SS_COMP;
}

}  // namespace

// The buffer may be larger than the reply: READ(10) is given a 64 KiB buffer
// whatever its block count. The request asks for what the command asks for,
// not for the buffer: an emulated adapter was seen to fill the whole buffer
// from the disc and to report a meaningless residue when the two differ.
uint32_t TransferLength(const uint8_t* cdb, uint8_t cdbLength, uint32_t bufferLength)
{
    uint64_t length = bufferLength;
    switch (cdb[0]) {
    case kOpRead10:
        if (cdbLength >= 10) length = uint64_t{Be16(cdb + 7)} * kUserDataBytes;
        break;
    case kOpRead12:
        if (cdbLength >= 12) length = uint64_t{Be32(cdb + 6)} * kUserDataBytes;
        break;
    case kOpReadCapacity10:
        length = kReadCapacityBytes;
        break;
    case kOpInquiry:
        if (cdbLength >= 6) length = Be16(cdb + 3);
        break;
    default:
        break;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(length, bufferLength));
}

// All of it must arrive: a read that delivered less leaves bytes of an
// earlier command in the buffer, and those must never be taken for sectors.
// Only INQUIRY data is as long as the device says it is.
uint32_t RequiredInBytes(const uint8_t* cdb, const uint8_t* data, uint32_t moved, uint32_t transferLength)
{
    if (cdb[0] != kOpInquiry) return transferLength;
    uint32_t stated = kInquiryHeaderBytes;
    if (moved > kInquiryAdditionalLength) stated += data[kInquiryAdditionalLength];
    return std::min(stated, transferLength);
}

CSgioAspi::~CSgioAspi()
{
    for (SgDevice& d : devices_)
        if (d.fd >= 0) system_.Close(d.fd);
}

uint32_t CSgioAspi::GetASPI32SupportInfo()
{
    std::lock_guard<std::mutex> guard(lock_);
    ScanLocked();
    return (uint32_t{aspi::SS_COMP} << 8) | static_cast<uint32_t>(adapterHosts_.size());
}

uint32_t CSgioAspi::SendASPI32Command(void* srb)
{
    if (!srb) return aspi::SS_ERR;
    auto* bytes = static_cast<uint8_t*>(srb);  // every record starts SRB_Cmd, SRB_Status
    std::lock_guard<std::mutex> guard(lock_);
    ScanLocked();
    uint8_t status = aspi::SS_INVALID_CMD;
    switch (bytes[0]) {
    case aspi::SC_HA_INQUIRY:
        status = HostAdapterInquiry(*static_cast<aspi::SRB_HAInquiry*>(srb));
        break;
    case aspi::SC_GET_DEV_TYPE:
        status = GetDeviceType(*static_cast<aspi::SRB_GDEVBlock*>(srb));
        break;
    case aspi::SC_GETSET_TIMEOUTS:
        status = GetSetTimeouts(*static_cast<aspi::SRB_GetSetTimeouts*>(srb));
        break;
    case aspi::SC_RESCAN_SCSI_BUS:
        RescanLocked();
        status = aspi::SS_COMP;
        break;
    case aspi::SC_EXEC_SCSI_CMD: {
        auto& exec = *static_cast<aspi::SRB_ExecSCSICmd*>(srb);
        exec.SRB_Status = status = ExecScsiCommand(exec);
        // The status is final already; a caller that waits anyway returns at once.
        if (exec.SRB_Flags & aspi::SRB_EVENT_NOTIFY) SignalCompletionEvent(exec.SRB_PostProc);
        return status;
    }
    default:
        break;
    }
    bytes[1] = status;
    return status;
}

uint8_t CSgioAspi::HostAdapterInquiry(aspi::SRB_HAInquiry& srb)
{
    srb.HA_Count = static_cast<uint8_t>(adapterHosts_.size());
    if (srb.SRB_HaId >= adapterHosts_.size()) return aspi::SS_INVALID_HA;
    srb.HA_SCSI_ID = kInitiatorId;
    CopyText(srb.HA_ManagerId, kManagerId);
    CopyText(srb.HA_Identifier, HostIdentifier(system_, adapterHosts_[srb.SRB_HaId]));
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[kHaUniqueMaxTargets] = kAspiTargets;
    return aspi::SS_COMP;
}

uint8_t CSgioAspi::GetDeviceType(aspi::SRB_GDEVBlock& srb)
{
    if (srb.SRB_HaId >= adapterHosts_.size()) return aspi::SS_INVALID_HA;
    SgDevice* device = FindLocked(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    if (!device) return aspi::SS_NO_DEVICE;
    srb.SRB_DeviceType = device->type;
    return aspi::SS_COMP;
}

// SRB_DIR_OUT sets the time-out (wildcards allowed), SRB_DIR_IN reads it back.
// Stored in half-seconds as given; converted where the command is issued.
uint8_t CSgioAspi::GetSetTimeouts(aspi::SRB_GetSetTimeouts& srb)
{
    if (srb.SRB_Flags & aspi::SRB_DIR_OUT) {
        const uint32_t asked = srb.SRB_Timeout;  // a copy: the packed field is unaligned
        if (asked > kMaxTimeoutHalfSeconds) return SS_INVALID_SRB;
        const uint32_t value = asked ? asked : kDefaultTimeoutHalfSeconds;
        bool any = false;
        for (SgDevice& d : devices_) {
            if (!Matches(srb.SRB_HaId, d.adapter) || !Matches(srb.SRB_Target, d.target) ||
                !Matches(srb.SRB_Lun, d.lun))
                continue;
            d.timeoutHalfSeconds = value;
            any = true;
        }
        return any ? aspi::SS_COMP : aspi::SS_NO_DEVICE;
    }
    if (srb.SRB_Flags & aspi::SRB_DIR_IN) {
        SgDevice* device = FindLocked(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
        if (!device) return aspi::SS_NO_DEVICE;
        srb.SRB_Timeout = device->timeoutHalfSeconds;
        return aspi::SS_COMP;
    }
    return SS_INVALID_SRB;
}

uint8_t CSgioAspi::ExecScsiCommand(aspi::SRB_ExecSCSICmd& srb)
{
    srb.SRB_HaStat = aspi::HASTAT_OK;
    srb.SRB_TargStat = aspi::STATUS_GOOD;
    if (srb.SRB_HaId >= adapterHosts_.size()) return aspi::SS_INVALID_HA;
    SgDevice* device = FindLocked(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    if (!device) return aspi::SS_NO_DEVICE;
    if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > sizeof srb.CDBByte) return SS_INVALID_SRB;

    // A command without data (TEST UNIT READY, START STOP UNIT) may carry a
    // direction bit; only a buffer needs exactly one direction.
    const bool in = srb.SRB_Flags & aspi::SRB_DIR_IN;
    const bool out = srb.SRB_Flags & aspi::SRB_DIR_OUT;
    Direction direction = Direction::None;
    if (srb.SRB_BufLen > 0) {
        if (in == out || !srb.SRB_BufPointer) return SS_INVALID_SRB;
        direction = in ? Direction::FromDevice : Direction::ToDevice;
    }
    if (device->fd < 0) device->fd = system_.Open(device->path);
    if (device->fd < 0) {
        srb.SRB_HaStat = HASTAT_SEL_TO;
        return aspi::SS_ERR;
    }
    return RunTransfer(*device, srb, direction);
}

uint8_t CSgioAspi::RunTransfer(SgDevice& device, aspi::SRB_ExecSCSICmd& srb, Direction direction)
{
    uint8_t sense[kSenseBufferBytes] = {};
    Transfer t;
    t.direction = direction;
    t.cdb = srb.CDBByte;
    t.cdbLength = srb.SRB_CDBLen;
    t.data = direction == Direction::None ? nullptr : srb.SRB_BufPointer;
    t.dataLength = direction == Direction::FromDevice ? TransferLength(srb.CDBByte, srb.SRB_CDBLen, srb.SRB_BufLen)
                   : direction == Direction::ToDevice ? srb.SRB_BufLen
                                                      : 0;
    if (t.dataLength == 0) {  // READ(10) of no blocks moves nothing
        t.direction = Direction::None;
        t.data = nullptr;
    }
    t.sense = sense;
    t.senseCapacity = sizeof sense;
    t.timeoutMs = device.timeoutHalfSeconds * kMillisPerHalfSecond;  // ASPI: half-seconds; SG_IO: ms
    if (!system_.Execute(device.fd, &t)) {
        srb.SRB_HaStat = HASTAT_SEL_TO;
        return aspi::SS_ERR;
    }
    srb.SRB_TargStat = t.status;
    srb.SRB_HaStat = HostStatusToAspi(t.hostStatus, t.driverStatus);
    const uint8_t status = Judge(srb, t, sense);
    if (status != aspi::SS_COMP) {
        // What the drive object cannot show: the raw reply behind a failure.
        LogPrintf(kTraceLevel, "SG_IO %02x: status %x host %x driver %x resid %d sense %x/%02x/%02x",
                  srb.CDBByte[0], t.status, t.hostStatus, t.driverStatus, static_cast<int>(t.resid),
                  sense[kSenseKey] & kSenseKeyMask, sense[kSenseAsc], sense[kSenseAscq]);
    }
    return status;
}

}  // namespace sgio
