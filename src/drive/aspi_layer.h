// The ASPI transport: loads the library, scans for CD/DVD devices and executes
// the drive object's one command record, waiting on the completion event.
#pragma once
#include <cstdint>

#include "drive/aspi_library.h"
#include "drive/aspi_records.h"
#include "platform/event.h"

class CCdDrive;

struct DeviceAddress {
    uint8_t hostAdapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
};

class CAspiLayer {
public:
    explicit CAspiLayer(CCdDrive& drive) : drive_(drive) {}
    ~CAspiLayer();
    CAspiLayer(const CAspiLayer&) = delete;
    CAspiLayer& operator=(const CAspiLayer&) = delete;

    // Which library InitAspi loads; the platform's own unless set before.
    void SetLibrary(IAspiLibrary* library) { library_ = library; }

    // Loads, checks the manager, creates the event and scans into the drive
    // table. False at the first failing step (after its message box).
    bool InitAspi();
    // Executes the drive's command record for the selected drive; SRB_Status.
    // A transport that did not initialise fails every command (SS_ERR) without
    // touching a missing entry point.
    uint8_t ExecScsi(aspi::SRB_ExecSCSICmd& srb, uint8_t ha, uint8_t target, uint8_t lun);
    void SetTimeout(uint8_t ha, uint8_t target, uint8_t lun, uint32_t halfSeconds);
    // Asks the manager to look at every bus again (SC_RESCAN_SCSI_BUS; devices
    // come and go, a USB drive re-plugged comes back at another address), then
    // lists the CD/DVD devices it reports now, in scan order: at most `max`
    // into `out`; returns how many. Nothing of the drive table changes.
    int RescanCdDevices(DeviceAddress* out, int max);
    bool Ready() const { return send_ != nullptr && event_.Valid(); }

private:
    void Release();
    void ScanAdapter(uint8_t ha, bool* managerLogged);
    bool IsCdDevice(uint8_t ha, uint8_t target, uint8_t lun);  // SC_GET_DEV_TYPE says CD/DVD

    CCdDrive& drive_;
    IAspiLibrary* library_ = nullptr;
    IAspiLibrary* active_ = nullptr;  // the library InitAspi loaded, freed at teardown
    bool loaded_ = false;
    AspiSupportFn support_ = nullptr;
    AspiSendFn send_ = nullptr;
    CCompletionEvent event_;
};
