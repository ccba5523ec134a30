// The pass-through manager's answers to the four ASPI requests.
#include "aspi/spti/spti_aspi.h"

#include <algorithm>
#include <cstring>

#include "aspi/common/device_table.h"
#include "aspi/common/scsi_transfer.h"
#include "platform/event.h"

namespace spti {

namespace {

constexpr uint8_t kInitiatorId = 7;        // HA_SCSI_ID: the adapter's own id, by custom 7
constexpr uint8_t kAspiTargets = 8;
constexpr size_t kHaUniqueAlignment = 0;   // HA_Unique bytes 0..1: buffer alignment mask
constexpr size_t kHaUniqueMaxTargets = 3;  // HA_Unique byte 3: targets per adapter
constexpr uint8_t kTypeCdrom = 5;
constexpr uint8_t HASTAT_SEL_TO = 0x11;
constexpr uint8_t HASTAT_DO_DU = 0x12;
constexpr uint8_t kSenseKeyMask = 0x0F;
constexpr size_t kSenseKey = 2;  // fixed-format sense: key, ASC, ASCQ
constexpr size_t kSenseAsc = 12;
constexpr size_t kSenseAscq = 13;

std::string Hex(const uint8_t* bytes, size_t count)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

std::string AddressText(const aspi::SRB_ExecSCSICmd& srb)
{
    // One formatted text: g++ 12 at -O3 sees a false overlap in a chain of
    // std::string additions (-Wrestrict).
    char text[24];
    std::snprintf(text, sizeof text, "[%u:%u:%u] ", unsigned{srb.SRB_HaId}, unsigned{srb.SRB_Target},
                  unsigned{srb.SRB_Lun});
    return text;
}

}  // namespace

CSptiAspi::~CSptiAspi()
{
    for (SptiDevice& d : devices_) system_.Close(d.handle);
    if (trace_) std::fclose(trace_);
}

uint32_t CSptiAspi::GetASPI32SupportInfo()
{
    std::lock_guard<std::mutex> guard(lock_);
    ScanLocked();
    if (devices_.empty()) return uint32_t{aspi::SS_NO_ADAPTERS} << 8;
    return (uint32_t{aspi::SS_COMP} << 8) | adapterCount_;
}

uint32_t CSptiAspi::SendASPI32Command(void* srb)
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
    case aspi::SC_RESCAN_SCSI_BUS:
        status = RescanLocked();
        break;
    case aspi::SC_GETSET_TIMEOUTS:
        status = aspi_manager::GetSetTimeouts(*static_cast<aspi::SRB_GetSetTimeouts*>(srb), devices_,
                                              kDefaultTimeoutHalfSeconds);
        break;
    case aspi::SC_EXEC_SCSI_CMD: {
        auto& exec = *static_cast<aspi::SRB_ExecSCSICmd*>(srb);
        exec.SRB_Status = status = ExecScsiCommand(exec);
        // Final before the event: a caller that waits on it reads it at once.
        if (exec.SRB_Flags & aspi::SRB_EVENT_NOTIFY) SignalCompletionEvent(exec.SRB_PostProc);
        return status;
    }
    default:
        break;
    }
    bytes[1] = status;
    return status;
}

uint8_t CSptiAspi::HostAdapterInquiry(aspi::SRB_HAInquiry& srb)
{
    srb.HA_Count = adapterCount_;
    if (srb.SRB_HaId >= adapterCount_) return aspi::SS_INVALID_HA;
    srb.HA_SCSI_ID = kInitiatorId;
    aspi_manager::CopyText(srb.HA_ManagerId, kManagerId);
    // The adapter's drive letters, the name the user knows them by.
    std::string letters;
    uint32_t mask = 0;
    for (const SptiDevice& d : devices_) {
        if (d.adapter != srb.SRB_HaId) continue;
        letters += std::string(letters.empty() ? "" : " ") + d.letter + ":";
        mask |= d.alignmentMask;
    }
    aspi_manager::CopyText(srb.HA_Identifier, "SPTI " + letters);
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[kHaUniqueAlignment] = static_cast<uint8_t>(mask);
    srb.HA_Unique[kHaUniqueAlignment + 1] = static_cast<uint8_t>(mask >> 8);
    srb.HA_Unique[kHaUniqueMaxTargets] = kAspiTargets;
    return aspi::SS_COMP;
}

uint8_t CSptiAspi::GetDeviceType(aspi::SRB_GDEVBlock& srb)
{
    if (srb.SRB_HaId >= adapterCount_) return aspi::SS_INVALID_HA;
    if (!FindLocked(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun)) return aspi::SS_NO_DEVICE;
    srb.SRB_DeviceType = kTypeCdrom;  // only CD-ROM letters are taken
    return aspi::SS_COMP;
}

uint8_t CSptiAspi::ExecScsiCommand(aspi::SRB_ExecSCSICmd& srb)
{
    srb.SRB_HaStat = aspi::HASTAT_OK;
    srb.SRB_TargStat = aspi::STATUS_GOOD;
    if (srb.SRB_HaId >= adapterCount_) return aspi::SS_INVALID_HA;
    SptiDevice* device = FindLocked(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
    if (!device) return aspi::SS_NO_DEVICE;
    if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > sizeof srb.CDBByte) return aspi_manager::SS_INVALID_SRB;

    const bool in = srb.SRB_Flags & aspi::SRB_DIR_IN;
    const bool out = srb.SRB_Flags & aspi::SRB_DIR_OUT;
    if (in && out) return aspi_manager::SS_INVALID_SRB;
    if (srb.SRB_BufLen > 0 && (!srb.SRB_BufPointer || in == out)) return aspi_manager::SS_INVALID_SRB;
    const uint8_t dataIn = in ? kDataIn : out ? kDataOut : kDataUnspecified;
    const uint32_t length = in    ? scsi::TransferLength(srb.CDBByte, srb.SRB_CDBLen, srb.SRB_BufLen)
                            : out ? srb.SRB_BufLen
                                  : 0;
    return PassThrough(*device, srb, dataIn, length);
}

uint8_t CSptiAspi::PassThrough(SptiDevice& device, aspi::SRB_ExecSCSICmd& srb, uint8_t dataIn, uint32_t length)
{
    PassThroughRequest request{};
    ScsiPassThroughDirect& p = request.sptd;
    p.Length = sizeof p;
    p.CdbLength = srb.SRB_CDBLen;
    std::memcpy(p.Cdb, srb.CDBByte, srb.SRB_CDBLen);
    p.DataIn = dataIn;
    p.DataTransferLength = length;
    p.TimeOutValue = (device.timeoutHalfSeconds + 1) / 2;  // ASPI: half-seconds; pass-through: seconds, rounded up
    p.SenseInfoLength = kSenseBytes;
    p.SenseInfoOffset = offsetof(PassThroughRequest, sense);

    // The adapter reaches the buffer directly, so it must meet its alignment.
    uint8_t* data = length ? srb.SRB_BufPointer : nullptr;
    const bool bounce = data && (reinterpret_cast<uintptr_t>(data) & device.alignmentMask);
    if (bounce) {
        const size_t room = size_t{length} + device.alignmentMask;
        if (bounce_.size() < room) bounce_.resize(room);
        const uintptr_t at = reinterpret_cast<uintptr_t>(bounce_.data());
        data = bounce_.data() + ((device.alignmentMask + 1 - (at & device.alignmentMask)) & device.alignmentMask);
        if (dataIn == kDataOut) std::memcpy(data, srb.SRB_BufPointer, length);
    }
    p.DataBuffer = data;

    uint32_t returned = 0, error = 0;
    const bool done = system_.Control(device.handle, kIoctlScsiPassThroughDirect, &request, sizeof request,
                                      &request, sizeof request, &returned, &error);
    const uint32_t moved = std::min(p.DataTransferLength, length);
    if (done && bounce && dataIn == kDataIn && p.ScsiStatus == aspi::STATUS_GOOD)
        std::memcpy(srb.SRB_BufPointer, data, moved);

    uint8_t status = aspi::SS_COMP;
    std::string outcome = "GOOD";
    if (!done) {
        srb.SRB_HaStat = error == kErrorSemTimeout ? aspi::HASTAT_TIMEOUT : HASTAT_SEL_TO;
        status = aspi::SS_ERR;
        outcome = error == kErrorSemTimeout ? "TIMEOUT" : "ERROR " + std::to_string(error);
    } else if (p.ScsiStatus != aspi::STATUS_GOOD) {
        srb.SRB_TargStat = p.ScsiStatus;
        status = aspi::SS_ERR;
        if (p.ScsiStatus == aspi::STATUS_CHKCOND) {
            // As an ASPI manager does: the sense data lands in the record.
            const size_t room = std::min<size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea);
            std::memset(srb.SenseArea, 0, room);
            std::memcpy(srb.SenseArea, request.sense, std::min<size_t>(room, p.SenseInfoLength));
            char text[32];
            std::snprintf(text, sizeof text, "CHECK %X/%02X/%02X", request.sense[kSenseKey] & kSenseKeyMask,
                          request.sense[kSenseAsc], request.sense[kSenseAscq]);
            outcome = text;
        } else {
            outcome = "STATUS " + Hex(&p.ScsiStatus, 1);
        }
    } else if (dataIn == kDataIn ? moved < scsi::RequiredInBytes(srb.CDBByte, srb.SRB_BufPointer, moved, length)
                                 : moved < length) {
        // Bytes the caller would take for data were never written.
        srb.SRB_HaStat = HASTAT_DO_DU;
        status = aspi::SS_ERR;
        outcome = "SHORT " + std::to_string(moved) + " OF " + std::to_string(length);
    }
    Trace(AddressText(srb) + Hex(srb.CDBByte, srb.SRB_CDBLen) + " -> " + outcome);
    return status;
}

}  // namespace spti
