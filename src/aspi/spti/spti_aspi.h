// An ASPI manager over the Windows SCSI pass-through interface: it answers
// the four ASPI requests for the CD/DVD drives that have a drive letter, so
// the program reaches drives on Windows versions that have no ASPI layer.
//
// Devices. Every letter A: to Z: whose drive type is CD-ROM is opened once as
// \\.\X: for reading and writing (pass-through needs both) and kept open
// until the manager goes. A letter that cannot be opened is left out, with
// one trace line saying why.
//
// Addressing. The storage address (port, path, target, LUN) of each device
// is asked for; every distinct port and path pair becomes one host adapter,
// numbered densely in ascending order, and target and LUN stay as they are.
// A device whose address cannot be had, or whose target or LUN lies beyond
// 0..7, gets an adapter of its own after those, at target 0, LUN 0. Two
// letters of one address are one device.
//
// Rescan. SC_RESCAN_SCSI_BUS closes the handles of devices that have gone
// (their letter is no CD-ROM drive now, or the handle no longer answers) and
// opens the CD-ROM letters not held yet. Devices that stayed keep their ASPI
// addresses; a new one joins the adapter of its port and path pair when one
// is numbered, else the lowest adapter number not in use. A drive that comes
// back, under its letter or another, is a new device: the program tells it
// by its identity, never by its address.
//
// Completion. Commands execute synchronously: SendASPI32Command returns the
// final status and, when SRB_EVENT_NOTIFY is set, also signals the event in
// SRB_PostProc after SRB_Status is final.
//
// Trace. With GLEANOR_ASPI_TRACE naming a file, every failed open and every
// command is appended to it as one line; failed opens also go to the
// debugger output.
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "aspi/spti/spti_system.h"
#include "drive/aspi_library.h"
#include "drive/aspi_records.h"

namespace spti {

constexpr char kManagerId[] = "GLEANOR SPTI";
constexpr char kTraceVariable[] = "GLEANOR_ASPI_TRACE";
// Until the program sets a time-out: long enough for a drive to spin up.
constexpr uint32_t kDefaultTimeoutHalfSeconds = 60;
// Where the adapter does not tell its alignment: a page satisfies any.
constexpr uint32_t kFallbackAlignmentMask = 0xFFF;

// One device as the scan found it.
struct SptiDevice {
    char letter = 0;
    std::string path;  // "\\.\D:"
    Handle handle = nullptr;
    bool addressed = false;
    ScsiAddress address{};
    uint32_t alignmentMask = kFallbackAlignmentMask;
    uint8_t adapter = 0;  // ASPI address
    uint8_t target = 0;
    uint8_t lun = 0;
    uint32_t timeoutHalfSeconds = kDefaultTimeoutHalfSeconds;
};

class CSptiAspi : public IAspiManager {
public:
    explicit CSptiAspi(ISptiSystem& system) : system_(system) {}
    ~CSptiAspi() override;  // closes every handle it opened
    CSptiAspi(const CSptiAspi&) = delete;
    CSptiAspi& operator=(const CSptiAspi&) = delete;

    // Scans on the first call: SS_COMP and the adapter count, or, when no
    // drive could be opened, the status for no adapters (the program then
    // tells the user that ASPI found nothing).
    uint32_t GetASPI32SupportInfo() override;
    uint32_t SendASPI32Command(void* srb) override;

    // The devices found, in adapter, target, LUN order (scans if not yet done).
    std::vector<SptiDevice> Devices();

private:
    void ScanLocked();
    bool OpenLetter(char letter, SptiDevice* device);
    void NumberAdapters(std::vector<SptiDevice>* found);
    uint8_t RescanLocked();
    bool StillThere(const SptiDevice& device);
    // Adapter numbers for devices opened by a rescan, beside those that stayed.
    void NumberNewcomers(std::vector<SptiDevice>* fresh);
    SptiDevice* FindLocked(uint8_t adapter, uint8_t target, uint8_t lun);
    void Trace(const std::string& line);

    uint8_t HostAdapterInquiry(aspi::SRB_HAInquiry& srb);
    uint8_t GetDeviceType(aspi::SRB_GDEVBlock& srb);
    uint8_t GetSetTimeouts(aspi::SRB_GetSetTimeouts& srb);
    uint8_t ExecScsiCommand(aspi::SRB_ExecSCSICmd& srb);
    uint8_t PassThrough(SptiDevice& device, aspi::SRB_ExecSCSICmd& srb, uint8_t dataIn, uint32_t length);

    ISptiSystem& system_;
    std::mutex lock_;
    bool scanned_ = false;
    std::vector<SptiDevice> devices_;
    uint8_t adapterCount_ = 0;
    std::FILE* trace_ = nullptr;
    std::vector<uint8_t> bounce_;  // grows to the largest misaligned transfer, then kept
};

}  // namespace spti
