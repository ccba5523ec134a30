#include "drive/recording_manager.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/event.h"

namespace {

std::string Hex(const uint8_t* bytes, int n)
{
    std::string s;
    char b[4];
    for (int i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

std::string AddressText(unsigned ha, unsigned target, unsigned lun)
{
    return std::to_string(ha) + ":" + std::to_string(target) + ":" + std::to_string(lun);
}

void CopyText(uint8_t* field, const std::string& text, size_t size)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size);
}

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

}  // namespace

CRecordingManager::~CRecordingManager() { JoinCompletions(); }

void CRecordingManager::JoinCompletions()
{
    for (auto& t : completions_) t.join();
    completions_.clear();
}

FakeDevice& CRecordingManager::Device(uint8_t ha, uint8_t target, uint8_t lun)
{
    return devices_[Address{ha, target, lun}];
}

int CRecordingManager::BlockReads() const
{
    int n = 0;
    for (const auto& line : log)
        if (line.find(" 28 00 ") != std::string::npos) ++n;
    return n;
}

uint32_t CRecordingManager::GetASPI32SupportInfo() { return support; }

uint32_t CRecordingManager::SendASPI32Command(void* srb)
{
    auto* header = static_cast<aspi::SRB_Header*>(srb);
    switch (header->SRB_Cmd) {
    case aspi::SC_HA_INQUIRY: return AnswerAdapter(*static_cast<aspi::SRB_HAInquiry*>(srb));
    case aspi::SC_GET_DEV_TYPE: return AnswerDeviceType(*static_cast<aspi::SRB_GDEVBlock*>(srb));
    case aspi::SC_EXEC_SCSI_CMD: return AnswerExec(*static_cast<aspi::SRB_ExecSCSICmd*>(srb));
    case aspi::SC_GETSET_TIMEOUTS: {
        auto& t = *static_cast<aspi::SRB_GetSetTimeouts*>(srb);
        char flags[4];
        std::snprintf(flags, sizeof flags, "%02X", t.SRB_Flags);
        log.push_back("timeout " + AddressText(t.SRB_HaId, t.SRB_Target, t.SRB_Lun) + " " + flags + " " +
                      std::to_string(t.SRB_Timeout));
        t.SRB_Status = aspi::SS_COMP;
        return aspi::SS_COMP;
    }
    default:
        log.push_back("unknown command " + std::to_string(header->SRB_Cmd));
        header->SRB_Status = aspi::SS_INVALID_CMD;
        return aspi::SS_INVALID_CMD;
    }
}

uint32_t CRecordingManager::AnswerAdapter(aspi::SRB_HAInquiry& srb)
{
    ++hostAdapterInquiries;
    FakeAdapter adapter;
    if (auto it = adapters.find(srb.SRB_HaId); it != adapters.end()) adapter = it->second;
    CopyText(srb.HA_ManagerId, adapter.managerId, sizeof srb.HA_ManagerId);
    CopyText(srb.HA_Identifier, adapter.identifier, sizeof srb.HA_Identifier);
    srb.SRB_Status = adapter.status;
    return adapter.status;
}

uint32_t CRecordingManager::AnswerDeviceType(aspi::SRB_GDEVBlock& srb)
{
    ++deviceTypeRequests[srb.SRB_HaId];
    auto it = devices_.find(Address{srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun});
    if (it == devices_.end()) {
        srb.SRB_Status = aspi::SS_NO_DEVICE;
        return aspi::SS_NO_DEVICE;
    }
    srb.SRB_DeviceType = it->second.type;
    srb.SRB_Status = aspi::SS_COMP;
    return aspi::SS_COMP;
}

void CRecordingManager::Check(const aspi::SRB_ExecSCSICmd& srb)
{
    auto problem = [&](const char* what) { problems.push_back(Hex(srb.CDBByte, srb.SRB_CDBLen) + ": " + what); };
    if (srb.SRB_SenseLen != aspi::SENSE_LEN) problem("sense length");
    if (!(srb.SRB_Flags & aspi::SRB_EVENT_NOTIFY) || srb.SRB_PostProc == nullptr) problem("no completion event");
    if ((srb.SRB_BufLen == 0) != (srb.SRB_BufPointer == nullptr)) problem("buffer");
    uint8_t expectedLength = srb.CDBByte[0] < 0x20 ? 6 : 10;
    if (srb.SRB_CDBLen != expectedLength) problem("CDB length");
    for (int i = srb.SRB_CDBLen; i < 16; ++i)
        if (srb.CDBByte[i] != 0) problem("stale CDB byte");
    if (srb.SRB_Status != 0 || srb.SRB_HaStat != 0 || srb.SRB_TargStat != 0) problem("not cleared");
}

uint32_t CRecordingManager::AnswerExec(aspi::SRB_ExecSCSICmd& srb)
{
    ++execCount;
    Check(srb);
    if (!record) return Complete(srb);
    char head[16];
    std::snprintf(head, sizeof head, " %02X %u ", srb.SRB_Flags, unsigned(srb.SRB_BufLen));
    std::string line = "exec " + AddressText(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun) + head +
                       Hex(srb.CDBByte, srb.SRB_CDBLen);
    if (stampTime) line += " @" + std::to_string(TickCount());
    log.push_back(line);
    return Complete(srb);
}

uint32_t CRecordingManager::Complete(aspi::SRB_ExecSCSICmd& srb)
{
    uint8_t status = aspi::SS_NO_DEVICE;
    auto it = devices_.find(Address{srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun});
    if (it != devices_.end()) status = Execute(it->second, srb);
    if (!completeLater) {
        srb.SRB_Status = status;
        return status;
    }
    // Completes a moment later, as a drive does, and only then signals.
    aspi::SRB_ExecSCSICmd* record = &srb;
    completions_.emplace_back([record, status] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        record->SRB_Status = status;
        SignalCompletionEvent(record->SRB_PostProc);
    });
    return aspi::SS_PENDING;
}

uint8_t CRecordingManager::Execute(FakeDevice& d, aspi::SRB_ExecSCSICmd& srb)
{
    const uint8_t* cdb = srb.CDBByte;
    uint8_t* buf = srb.SRB_BufPointer;
    switch (cdb[0]) {
    case 0x00: return d.ready ? aspi::SS_COMP : failStatus;
    case 0x12:
    {
        if (!d.answersInquiry) return failStatus;
        uint8_t reply[56] = {};
        CopyText(reply + 8, d.vendor, 8);
        CopyText(reply + 16, d.product, 16);
        std::memcpy(buf, reply, size_t(d.inquiryBytes));
        return aspi::SS_COMP;
    }
    case 0x25:
        if (!d.ready) return failStatus;
        std::memcpy(buf, d.capacity, sizeof d.capacity);
        return aspi::SS_COMP;
    case 0x28: {
        uint32_t lba = Be32(cdb + 2);
        uint32_t count = uint32_t(cdb[7]) << 8 | cdb[8];
        if (!d.ready) return failStatus;
        for (uint32_t i = 0; i < count; ++i)
            if (lba + i > d.readableTo || d.unreadable.count(lba + i)) return failStatus;
        std::memset(buf, 0xA5, srb.SRB_BufLen);
        for (uint32_t i = 0; i < count; ++i) {
            if (lba + i != 16) continue;
            uint8_t* field = buf + i * 2048 + 40;
            std::memset(field, ' ', 32);
            std::memcpy(field, d.volumeId.data(), d.volumeId.size() < 32 ? d.volumeId.size() : 32);
        }
        return aspi::SS_COMP;
    }
    case 0x1B: {
        bool loEj = cdb[4] & 0x02;
        if (loEj && !d.trayMoves) return failStatus;
        return aspi::SS_COMP;
    }
    default: return aspi::SS_INVALID_CMD;
    }
}

bool CPartialLibrary::Load()
{
    ++loadCalls;
    return loads && inner_.Load();
}

void* CPartialLibrary::Resolve(const char* name)
{
    return missing.count(name) ? nullptr : inner_.Resolve(name);
}

void CPartialLibrary::Free()
{
    ++freeCalls;
    inner_.Free();
}
