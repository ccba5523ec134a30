// The SG_IO manager's answers to the four ASPI requests.
#include <algorithm>
#include <cstring>

#include "aspi/common/device_table.h"
#include "aspi/common/scsi_transfer.h"
#include "aspi/sgio/sgio_aspi.h"
#include "platform/event.h"
#include "channel/channel.h"

namespace sgio {

namespace {

constexpr size_t kHaUniqueMaxTargets = 3;   // HA_Unique byte: targets per adapter
constexpr size_t kSenseBufferBytes = 32;    // what the OS may return; the record keeps fewer
constexpr size_t kSenseKey = 2;             // fixed-format sense: key, ASC, ASCQ
constexpr uint8_t kSenseKeyMask = 0x0F;
constexpr size_t kSenseAsc = 12;
constexpr size_t kSenseAscq = 13;
constexpr int kTraceLevel = 4;              // "Debug", like the drive layer's failure lines

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
                              ? scsi::RequiredInBytes(srb.CDBByte, t.data, moved, t.dataLength)
                              : t.dataLength;
    if (moved < need) {
        srb.SRB_HaStat = HASTAT_DO_DU;
        return aspi::SS_ERR;
    }
    return aspi::SS_COMP;
}

}  // namespace

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
    aspi_manager::CopyText(srb.HA_ManagerId, kManagerId);
    aspi_manager::CopyText(srb.HA_Identifier, HostIdentifier(system_, adapterHosts_[srb.SRB_HaId]));
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

uint8_t CSgioAspi::GetSetTimeouts(aspi::SRB_GetSetTimeouts& srb)
{
    return aspi_manager::GetSetTimeouts(srb, devices_, kDefaultTimeoutHalfSeconds);
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
    t.dataLength = direction == Direction::FromDevice ? scsi::TransferLength(srb.CDBByte, srb.SRB_CDBLen, srb.SRB_BufLen)
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
