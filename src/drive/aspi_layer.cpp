// The ASPI transport: initialisation and bus scan, command execution with the
// completion event, the per-device time-out, and teardown.
#include "drive/aspi_layer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drive/cd_drive.h"
#include "platform/prompt.h"
#include "channel/channel.h"

namespace {

constexpr int kTargetsPerAdapter = 8;
constexpr int kLunsPerTarget = 8;
constexpr int kIdentifierLength = 16;  // HA_ManagerId, HA_Identifier

constexpr const char kSupportEntry[] = "GetASPI32SupportInfo";
constexpr const char kSendEntry[] = "SendASPI32Command";

uint8_t SupportStatus(uint32_t support) { return uint8_t(support >> 8); }
uint8_t AdapterCount(uint32_t support) { return uint8_t(support); }

const char* SupportFailureText(uint8_t status)
{
    switch (status) {
    case aspi::SS_OLD_MANAGER: return "Old ASPI manager.";
    case aspi::SS_ILLEGAL_MODE: return "ASPI for Windows does not support real mode.";
    case aspi::SS_NO_ASPI: return "Could not find the ASPI manager.";
    default: return "Error initializing ASPI.";
    }
}

void ShowError(const char* text, const char* caption) { AskUser(text, caption, mb::kOk | mb::kIconError); }

// A 16-character identifier field as a text of at most 16 characters.
void CopyIdentifier(char out[kIdentifierLength + 1], const uint8_t* field)
{
    std::memcpy(out, field, kIdentifierLength);
    out[kIdentifierLength] = '\0';
}

}  // namespace

CAspiLayer::~CAspiLayer() { Release(); }

void CAspiLayer::Release()
{
    event_.Close();
    if (loaded_ && active_) active_->Free();
    loaded_ = false;
    active_ = nullptr;
    support_ = nullptr;
    send_ = nullptr;
}

bool CAspiLayer::InitAspi()
{
    Release();  // there is one scan per run; a second call starts afresh
    drive_.driveCount = 0;
    active_ = library_ ? library_ : &PlatformAspiLibrary();
    if (!active_->Load()) {
        ShowError("LoadLibrary:\nWNASPI32.DLL not found.", "Error FS 002");
        return false;
    }
    loaded_ = true;
    LogPrintf(4, "Ok: Wnaspi32.dll");

    support_ = reinterpret_cast<AspiSupportFn>(active_->Resolve(kSupportEntry));
    if (!support_) {
        ShowError("GetProcAddress:\nGetASPI32SupportInfo not fount.", "Error FS 003");
        return false;
    }
    LogPrintf(4, "Ok: GetASPI32SupportInfo");

    send_ = reinterpret_cast<AspiSendFn>(active_->Resolve(kSendEntry));
    if (!send_) {
        ShowError("GetProcAddress:\npfnSendASPI32Command not found.", "Error FS 004");
        return false;
    }
    LogPrintf(4, "Ok: SendASPI32Command");

    uint32_t support = support_();
    LogPrintf(4, "Ok: %lx = GetASPI32SupportInfo()", static_cast<unsigned long>(support));
    if (SupportStatus(support) != aspi::SS_COMP) {
        ShowError(SupportFailureText(SupportStatus(support)), "GetASPISupportInfo:");
        return false;
    }

    if (!event_.Create()) {
        AskUser("Could not create the event object.", "Error FS 005", mb::kOk | mb::kIconWarning);
        return false;
    }

    drive_.operationName = "BusScan";
    drive_.driveCount = 0;
    bool managerLogged = false;
    for (unsigned ha = 0; ha < AdapterCount(support); ++ha) ScanAdapter(uint8_t(ha), &managerLogged);
    return true;
}

void CAspiLayer::ScanAdapter(uint8_t ha, bool* managerLogged)
{
    aspi::SRB_HAInquiry inquiry;
    std::memset(&inquiry, 0, sizeof inquiry);
    inquiry.SRB_Cmd = aspi::SC_HA_INQUIRY;
    inquiry.SRB_HaId = ha;
    send_(&inquiry);
    if (inquiry.SRB_Status != aspi::SS_COMP) {
        char text[64];
        std::snprintf(text, sizeof text, "Host adapter number %u: inquiry failed.", unsigned(ha));
        ShowError(text, "Error FS 007:");
        return;
    }
    char identifier[kIdentifierLength + 1];
    CopyIdentifier(identifier, inquiry.HA_Identifier);
    if (identifier[0] != '\0') {
        if (!*managerLogged) {
            char manager[kIdentifierLength + 1];
            CopyIdentifier(manager, inquiry.HA_ManagerId);
            LogPrintf(0, "Aspi Manager ID: %s", manager);
            *managerLogged = true;
        }
        LogPrintf(0, "Host Adapter %u ID: %s", unsigned(ha), identifier);
    }

    for (int target = 0; target < kTargetsPerAdapter; ++target) {
        for (int lun = 0; lun < kLunsPerTarget; ++lun) {
            if (!IsCdDevice(ha, uint8_t(target), uint8_t(lun))) continue;
            // The table is full: further drives are not listed (the scan goes on
            // so that the adapters' identifier lines still appear).
            if (drive_.driveCount >= kMaxDrives) continue;
            DriveEntry& e = drive_.driveList.entries[drive_.driveCount];
            e.hostAdapter = ha;
            e.target = uint8_t(target);
            e.lun = uint8_t(lun);
            if (drive_.DrvInquiry(drive_.driveCount)) ++drive_.driveCount;
        }
    }
}

bool CAspiLayer::IsCdDevice(uint8_t ha, uint8_t target, uint8_t lun)
{
    aspi::SRB_GDEVBlock device;
    std::memset(&device, 0, sizeof device);
    device.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    device.SRB_HaId = ha;
    device.SRB_Target = target;
    device.SRB_Lun = lun;
    send_(&device);
    return device.SRB_Status == aspi::SS_COMP && device.SRB_DeviceType == aspi::DTYPE_CDROM;
}

uint8_t CAspiLayer::ExecScsi(aspi::SRB_ExecSCSICmd& srb, uint8_t ha, uint8_t target, uint8_t lun)
{
    if (!Ready()) {
        srb.SRB_Status = aspi::SS_ERR;
        return aspi::SS_ERR;
    }
    srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = ha;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    srb.SRB_Flags |= aspi::SRB_EVENT_NOTIFY;
    srb.SRB_PostProc = event_.Handle();
    srb.SRB_SenseLen = aspi::SENSE_LEN;
    event_.Reset();
    if (send_(&srb) == aspi::SS_PENDING) event_.Wait();
    return srb.SRB_Status;
}

void CAspiLayer::SetTimeout(uint8_t ha, uint8_t target, uint8_t lun, uint32_t halfSeconds)
{
    if (!Ready()) return;
    aspi::SRB_GetSetTimeouts srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = aspi::SC_GETSET_TIMEOUTS;
    srb.SRB_HaId = ha;
    srb.SRB_Flags = aspi::SRB_DIR_OUT;  // set, not get
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    srb.SRB_Timeout = halfSeconds;
    send_(&srb);
}

int CAspiLayer::RescanCdDevices(DeviceAddress* out, int max)
{
    if (!Ready()) return 0;
    // A manager without rescan answers SS_INVALID_CMD and is asked as it is.
    // Adapter 0 is asked even when none is left: the drive that went away
    // may have been the only device, its adapter with it.
    unsigned adapters = std::max(1u, unsigned(AdapterCount(support_())));
    for (unsigned ha = 0; ha < adapters; ++ha) {
        aspi::SRB_Header rescan;
        std::memset(&rescan, 0, sizeof rescan);
        rescan.SRB_Cmd = aspi::SC_RESCAN_SCSI_BUS;
        rescan.SRB_HaId = uint8_t(ha);
        send_(&rescan);
    }
    uint32_t support = support_();  // the rescan may have brought adapters (a USB drive is one)
    if (SupportStatus(support) != aspi::SS_COMP) return 0;
    int count = 0;
    for (unsigned ha = 0; ha < AdapterCount(support); ++ha) {
        for (int target = 0; target < kTargetsPerAdapter; ++target) {
            for (int lun = 0; lun < kLunsPerTarget && count < max; ++lun) {
                if (!IsCdDevice(uint8_t(ha), uint8_t(target), uint8_t(lun))) continue;
                out[count++] = {uint8_t(ha), uint8_t(target), uint8_t(lun)};
            }
        }
    }
    return count;
}
