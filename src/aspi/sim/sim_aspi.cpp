// The simulator as an ASPI manager: one host adapter, device k at target k,
// LUN 0, answering the four request records. Commands with SRB_EVENT_NOTIFY
// complete before SendASPI32Command returns, but still go the way of a real
// manager (SS_PENDING, then the event), so the caller's wait path is exercised.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "aspi/sim/sim_device.h"
#include "drive/aspi_records.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace {

constexpr uint8_t kAdapterCount = 1;
constexpr uint8_t kAdapterScsiId = 7;  // the host's own place on the bus
constexpr char kManagerId[] = "GLEANOR SIM";
constexpr char kAdapterId[] = "SIMULATED HA";
constexpr uint8_t kMaxTargets = 8;
constexpr uint32_t kMaxTransfer = 0x10000;  // 64 KiB, the drive object's read buffer
constexpr uint8_t kWildcard = 0xFF;         // SC_GETSET_TIMEOUTS: all adapters/targets/LUNs
constexpr uint8_t kSsInvalidSrb = 0xE0;
constexpr uint8_t kHaStatDataOverrun = 0x12;
constexpr uint32_t kMsPerHalfSecond = 500;
constexpr unsigned kMaxCdb = 16;

// Fixed-format sense data.
constexpr uint8_t kSenseCurrent = 0x70;
constexpr unsigned kSenseKeyAt = 2;
constexpr unsigned kSenseAddLenAt = 7;
constexpr uint8_t kSenseAddLen = 10;
constexpr unsigned kSenseAscAt = 12;
constexpr unsigned kSenseAscqAt = 13;

void CopyText(uint8_t* field, const char* text, size_t width)
{
    std::memset(field, 0, width);
    std::memcpy(field, text, std::min(std::strlen(text), width));
}

void FillSense(aspi::SRB_ExecSCSICmd* s, SimSense sense)
{
    uint8_t data[sizeof s->SenseArea] = {};
    data[0] = kSenseCurrent;
    data[kSenseKeyAt] = sense.key;
    data[kSenseAddLenAt] = kSenseAddLen;
    data[kSenseAscAt] = sense.asc;
    data[kSenseAscqAt] = sense.ascq;
    std::memcpy(s->SenseArea, data, std::min<size_t>(s->SRB_SenseLen, sizeof data));
}

void Complete(aspi::SRB_ExecSCSICmd* s, const SimResult& r)
{
    s->SRB_HaStat = aspi::HASTAT_OK;
    s->SRB_TargStat = aspi::STATUS_GOOD;
    s->SRB_Status = r.kind == SimResult::Good ? aspi::SS_COMP : aspi::SS_ERR;
    if (r.kind == SimResult::Check) {
        s->SRB_TargStat = aspi::STATUS_CHKCOND;
        FillSense(s, r.sense);
    }
    if (r.kind == SimResult::Overrun) s->SRB_HaStat = kHaStatDataOverrun;
    if (r.kind == SimResult::TimedOut) s->SRB_HaStat = aspi::HASTAT_TIMEOUT;
}

std::string CdbText(const uint8_t* cdb, unsigned len)
{
    std::string text;
    char hex[4];
    for (unsigned i = 0; i < len; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", cdb[i]);
        text += hex;
    }
    return text;
}

std::string OutcomeText(const SimResult& r)
{
    char text[32];
    switch (r.kind) {
    case SimResult::Good: return "GOOD";
    case SimResult::Overrun: return "OVERRUN";
    case SimResult::TimedOut: return "TIMEOUT";
    case SimResult::Check: break;
    }
    std::snprintf(text, sizeof text, "CHECK %X/%02X/%02X", r.sense.key, r.sense.asc, r.sense.ascq);
    return text;
}

}  // namespace

class CSimulatedAspi::Trace {
public:
    explicit Trace(const std::string& path) : file_(std::fopen(path.c_str(), "ab")) {}
    ~Trace()
    {
        if (file_) std::fclose(file_);
    }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Written and flushed at once, so a reader outside the process sees every command.
    void Line(const std::string& text)
    {
        if (!file_) return;
        std::lock_guard<std::mutex> guard(lock_);
        std::fprintf(file_, "%s\n", text.c_str());
        std::fflush(file_);
    }

private:
    std::mutex lock_;
    std::FILE* file_;
};

CSimulatedAspi::CSimulatedAspi() { SetTraceFile(SimEnvironment("GLEANOR_SIM_TRACE")); }

CSimulatedAspi::~CSimulatedAspi() = default;

void CSimulatedAspi::SetTraceFile(const std::string& path)
{
    trace_.reset();
    if (!path.empty()) trace_ = std::make_unique<Trace>(path);
}

bool CSimulatedAspi::AddProfileFile(const std::string& path, std::string* error)
{
    SimProfile profile;
    if (!LoadSimProfile(path, &profile, error)) return false;
    AddDevice(profile);
    return true;
}

void CSimulatedAspi::AddDevice(const SimProfile& profile)
{
    devices_.push_back(std::make_unique<Device>(profile, uint8_t(devices_.size())));
}

int CSimulatedAspi::DeviceCount() const { return int(devices_.size()); }

CSimulatedAspi::Device* CSimulatedAspi::Find(uint8_t haId, uint8_t target, uint8_t lun) const
{
    if (haId != 0 || lun != 0) return nullptr;
    for (const auto& d : devices_)
        if (d->Target() == target) return d.get();
    return nullptr;
}

bool CSimulatedAspi::Answers(Device* d, bool command)
{
    if (!d->Present(command)) return false;
    if (!d->WantsNewTarget()) return true;
    d->MoveTo(FreeTarget());
    return false;
}

// A device plugged in again at another address takes the first target after
// every device's (the last one when the bus is full).
uint8_t CSimulatedAspi::FreeTarget() const
{
    uint8_t last = 0;
    for (const auto& d : devices_) last = std::max(last, d->Target());
    return uint8_t(std::min<unsigned>(last + 1u, kMaxTargets - 1u));
}

uint32_t CSimulatedAspi::GetASPI32SupportInfo() { return uint32_t(aspi::SS_COMP) << 8 | kAdapterCount; }

uint32_t CSimulatedAspi::SendASPI32Command(void* srb)
{
    if (!srb) return kSsInvalidSrb;
    auto* head = static_cast<aspi::SRB_Header*>(srb);
    switch (head->SRB_Cmd) {
    case aspi::SC_HA_INQUIRY: {
        auto* s = static_cast<aspi::SRB_HAInquiry*>(srb);
        s->HA_Count = kAdapterCount;
        if (s->SRB_HaId != 0) return s->SRB_Status = aspi::SS_INVALID_HA;
        s->HA_SCSI_ID = kAdapterScsiId;
        CopyText(s->HA_ManagerId, kManagerId, sizeof s->HA_ManagerId);
        CopyText(s->HA_Identifier, kAdapterId, sizeof s->HA_Identifier);
        std::memset(s->HA_Unique, 0, sizeof s->HA_Unique);
        s->HA_Unique[3] = kMaxTargets;
        for (int i = 0; i < 4; ++i) s->HA_Unique[4 + i] = uint8_t(kMaxTransfer >> (8 * i));
        return s->SRB_Status = aspi::SS_COMP;
    }
    case aspi::SC_GET_DEV_TYPE: {
        auto* s = static_cast<aspi::SRB_GDEVBlock*>(srb);
        if (s->SRB_HaId != 0) return s->SRB_Status = aspi::SS_INVALID_HA;
        Device* d = Find(s->SRB_HaId, s->SRB_Target, s->SRB_Lun);
        // A device that has vanished is no longer on the bus.
        if (!d || !Answers(d, false)) return s->SRB_Status = aspi::SS_NO_DEVICE;
        s->SRB_DeviceType = aspi::DTYPE_CDROM;
        return s->SRB_Status = aspi::SS_COMP;
    }
    case aspi::SC_EXEC_SCSI_CMD: return ExecScsi(srb);
    case aspi::SC_RESCAN_SCSI_BUS:
        // The simulated bus is always current: there is nothing to look at again.
        return head->SRB_Status = head->SRB_HaId == 0 ? aspi::SS_COMP : aspi::SS_INVALID_HA;
    case aspi::SC_GETSET_TIMEOUTS: return GetSetTimeouts(srb);
    default: return head->SRB_Status = aspi::SS_INVALID_CMD;
    }
}

uint32_t CSimulatedAspi::GetSetTimeouts(void* srb)
{
    auto* s = static_cast<aspi::SRB_GetSetTimeouts*>(srb);
    bool set = s->SRB_Flags & aspi::SRB_DIR_OUT;
    bool anyHa = s->SRB_HaId == kWildcard;
    if (s->SRB_HaId != 0 && !anyHa) return s->SRB_Status = aspi::SS_INVALID_HA;
    bool found = false;
    for (size_t k = 0; k < devices_.size(); ++k) {
        bool target = s->SRB_Target == kWildcard || s->SRB_Target == devices_[k]->Target();
        bool lun = s->SRB_Lun == kWildcard || s->SRB_Lun == 0;
        if (!target || !lun) continue;
        found = true;
        if (set) devices_[k]->SetTimeout(s->SRB_Timeout);
        else s->SRB_Timeout = devices_[k]->Timeout();
    }
    return s->SRB_Status = found ? aspi::SS_COMP : aspi::SS_NO_DEVICE;
}

// With several devices a trace line says which one it is about.
std::string CSimulatedAspi::TraceAddress(const aspi::SRB_ExecSCSICmd& s) const
{
    if (devices_.size() < 2) return "";
    return "[0:" + std::to_string(s.SRB_Target) + ":" + std::to_string(s.SRB_Lun) + "] ";
}

uint32_t CSimulatedAspi::ExecScsi(void* srb)
{
    auto* s = static_cast<aspi::SRB_ExecSCSICmd*>(srb);
    unsigned cdbLen = std::min<unsigned>(s->SRB_CDBLen, kMaxCdb);
    Device* d = Find(s->SRB_HaId, s->SRB_Target, s->SRB_Lun);
    if (!d) {
        if (trace_) trace_->Line(TraceAddress(*s) + CdbText(s->CDBByte, cdbLen) + " -> NO DEVICE");
        return s->SRB_Status = s->SRB_HaId != 0 ? aspi::SS_INVALID_HA : aspi::SS_NO_DEVICE;
    }
    SimResult r;
    uint32_t stall = d->profile.stallMillis;
    uint32_t limit = d->Timeout() * kMsPerHalfSecond;  // 0: no time-out set
    bool answers = Answers(d, true);
    if (!answers && !d->Vanished()) {
        // Back, but at another address: this one no longer answers.
        if (trace_) trace_->Line(TraceAddress(*s) + CdbText(s->CDBByte, cdbLen) + " -> NO DEVICE");
        return s->SRB_Status = aspi::SS_NO_DEVICE;
    }
    if (!answers) {
        r.kind = SimResult::Check;
        r.sense = simsense::kNotReadyGone;
    } else if (stall && limit && stall >= limit) {
        SleepMs(limit);  // hangs until the adapter gives up on it
        r.kind = SimResult::TimedOut;
    } else {
        if (stall) SleepMs(stall);
        r = d->Execute(s->CDBByte, cdbLen, s->SRB_BufPointer, s->SRB_BufLen);
    }
    if (r.waitUs) Clock().SleepUs(r.waitUs);
    if (r.waitMs) SleepMs(r.waitMs);
    Complete(s, r);
    if (trace_) trace_->Line(TraceAddress(*s) + CdbText(s->CDBByte, cdbLen) + " -> " + OutcomeText(r));
    uint8_t status = s->SRB_Status;
    if ((s->SRB_Flags & aspi::SRB_EVENT_NOTIFY) && s->SRB_PostProc) {
        // The record belongs to the caller again once the event is signalled.
        SignalCompletionEvent(s->SRB_PostProc);
        return aspi::SS_PENDING;
    }
    return status;
}

bool CSimulatedAspi::DiscContent(int device, uint32_t lba, uint8_t* out)
{
    if (device < 0 || device >= DeviceCount()) return false;
    return devices_[size_t(device)]->Content(lba, out);
}

void CSimulatedAspi::SetDiscPresent(int device, bool present)
{
    if (device >= 0 && device < DeviceCount()) devices_[size_t(device)]->SetDiscPresent(present);
}

void CSimulatedAspi::SetTrayOpen(int device, bool open)
{
    if (device >= 0 && device < DeviceCount()) devices_[size_t(device)]->SetTrayOpen(open);
}

uint8_t CSimulatedAspi::TargetOf(int device) const
{
    if (device < 0 || device >= DeviceCount()) return 0;
    return devices_[size_t(device)]->Target();
}

uint64_t CSimulatedAspi::CommandCount(int device) const
{
    if (device < 0 || device >= DeviceCount()) return 0;
    return devices_[size_t(device)]->Commands();
}

bool AddProfilesFromList(CSimulatedAspi& sim, const std::string& list, std::string* error)
{
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(kSimListSeparator, start);
        if (end == std::string::npos) end = list.size();
        std::string path = list.substr(start, end - start);
        if (!path.empty() && !sim.AddProfileFile(path, error)) return false;
        start = end + 1;
    }
    return true;
}
