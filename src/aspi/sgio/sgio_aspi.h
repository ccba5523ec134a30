// An ASPI manager over Linux SG_IO: it answers the four ASPI requests
// (host adapter inquiry, device type, time-outs, SCSI command) for the SCSI
// devices of this machine, so the one ASPI transport of the drive layer runs
// unchanged on Linux.
//
// Addressing. ASPI knows host adapters 0..count-1, each with targets and LUNs
// 0..7. Linux host numbers are sparse (a USB drive may sit on host 5), so the
// hosts that carry at least one addressable device are numbered densely from
// 0 in ascending host order. The SCSI id becomes the target and the LUN stays
// the LUN. A non-zero channel is folded into the target as
// target = channel * 8 + id, so devices on channel 1 and above land beyond the
// 0..7 range that the scan walks and are not offered; a device whose folded
// target or LUN exceeds 7 is not reported at all.
//
// Rescan. SC_RESCAN_SCSI_BUS, for any adapter, closes every node and looks
// at /dev again: a USB drive that dropped out comes back under a new sg
// number and host, so the ASPI addresses may change. A time-out set for a
// device stays with it where the same node holds the same address.
//
// Completion. Commands execute synchronously: SendASPI32Command returns the
// final status and, when SRB_EVENT_NOTIFY is set, also signals the event in
// SRB_PostProc, so a caller that waits on it returns at once.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "aspi/sgio/sg_system.h"
#include "drive/aspi_library.h"
#include "drive/aspi_records.h"

namespace sgio {

// Published ASPI codes the drive layer's header does not carry.
constexpr uint8_t SS_INVALID_SRB = 0xE0;
constexpr uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;
constexpr uint8_t HASTAT_BUS_RESET = 0x0E;
constexpr uint8_t HASTAT_PARITY_ERROR = 0x0F;
constexpr uint8_t HASTAT_SEL_TO = 0x11;
constexpr uint8_t HASTAT_DO_DU = 0x12;
constexpr uint8_t HASTAT_BUS_FREE = 0x13;
constexpr uint8_t HASTAT_PHASE_ERR = 0x14;

constexpr uint8_t kAspiWildcard = 0xFF;            // SC_GETSET_TIMEOUTS: every adapter/target/LUN
constexpr uint32_t kMillisPerHalfSecond = 500;
// Until the program sets a time-out: long enough for a drive to spin up.
constexpr uint32_t kDefaultTimeoutHalfSeconds = 60;
constexpr uint8_t kAspiTargets = 8;   // targets 0..7 per adapter
constexpr uint8_t kAspiLuns = 8;      // LUNs 0..7 per target
constexpr uint8_t kInitiatorId = 7;   // HA_SCSI_ID: the adapter's own id, by custom 7
constexpr char kManagerId[] = "GLEANOR SG_IO";
constexpr uint8_t kTypeCdrom = 5;

// One device as the scan found it.
struct SgDevice {
    ScsiAddress address;
    uint8_t type = 0;
    std::string path;     // "/dev/sg1" or, where no sg node exists, "/dev/sr0"
    uint8_t adapter = 0;  // ASPI address
    uint8_t target = 0;
    uint8_t lun = 0;
    uint32_t timeoutHalfSeconds = kDefaultTimeoutHalfSeconds;
    int fd = -1;          // opened at the first command, kept open
};

// "H:C:T:L" (the name of a sysfs SCSI device) into an address.
bool ParseScsiAddress(const std::string& text, ScsiAddress* address);

// The adapter identifier of a Linux host: its driver's name from sysfs, or "".
std::string HostIdentifier(ISgSystem& system, uint32_t host);

class CSgioAspi : public IAspiManager {
public:
    explicit CSgioAspi(ISgSystem& system) : system_(system) {}
    ~CSgioAspi() override;
    CSgioAspi(const CSgioAspi&) = delete;
    CSgioAspi& operator=(const CSgioAspi&) = delete;

    // Scans on the first call: status SS_COMP in bits 8..15 and the adapter
    // count in bits 0..7. A machine without SCSI devices reports no adapters
    // (not "no ASPI"), so the program says that it found no drives.
    uint32_t GetASPI32SupportInfo() override;
    uint32_t SendASPI32Command(void* srb) override;

    // The devices found, in adapter, target, LUN order (scans if not yet done).
    std::vector<SgDevice> Devices();
    int AdapterCount();

private:
    void ScanLocked();
    void RescanLocked();
    void ScanSgNodes(std::vector<SgDevice>* found);
    void ScanSrNodes(std::vector<SgDevice>* found);
    void NumberAdapters(std::vector<SgDevice>* found);
    SgDevice* FindLocked(uint8_t adapter, uint8_t target, uint8_t lun);

    uint8_t HostAdapterInquiry(aspi::SRB_HAInquiry& srb);
    uint8_t GetDeviceType(aspi::SRB_GDEVBlock& srb);
    uint8_t GetSetTimeouts(aspi::SRB_GetSetTimeouts& srb);
    uint8_t ExecScsiCommand(aspi::SRB_ExecSCSICmd& srb);
    uint8_t RunTransfer(SgDevice& device, aspi::SRB_ExecSCSICmd& srb, Direction direction);

    ISgSystem& system_;
    std::mutex lock_;
    bool scanned_ = false;
    std::vector<SgDevice> devices_;
    std::vector<uint32_t> adapterHosts_;  // adapter number -> Linux host number
};

}  // namespace sgio
