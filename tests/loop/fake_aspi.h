// A small scripted ASPI manager for the engine's unit tests: one adapter, one
// CD device, ready/tray state set by the test, reads that fail where the test
// says, and a readable log of every SCSI command in order.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "drive/aspi_library.h"
#include "engine/recovery_engine.h"

class CFakeAspi : public IAspiManager {
public:
    uint32_t GetASPI32SupportInfo() override;
    uint32_t SendASPI32Command(void* srb) override;

    // Commands so far: "TUR", "INQUIRY", "CAPACITY", "READ lba count", "STOP",
    // "START", "EJECT", "LOAD".
    std::vector<std::string> Commands() const;
    // The tick count at which each command of Commands() arrived.
    std::vector<uint32_t> CommandTicks() const;
    void ClearCommands();
    // How many READ commands touched `lba`.
    int ReadsOf(uint32_t lba) const;

    // The byte pattern of sector `lba`, as READ returns it.
    static uint8_t ContentByte(uint32_t lba, uint32_t offset) { return uint8_t(lba * 7 + offset / 4 + 1); }

    std::function<bool(uint32_t lba)> readable = [](uint32_t) { return true; };
    std::atomic<bool> ready{true};
    std::atomic<int> busyTurs{0};  // TEST UNIT READYs answered "not ready" before `ready` counts
    std::atomic<int> rescans{0};   // SC_RESCAN_SCSI_BUS requests so far
    std::atomic<bool> canMoveTray{true};
    std::atomic<bool> trayOpen{false};
    std::atomic<uint32_t> lastLba{999};  // READ CAPACITY's answer
    uint32_t blockLength = 2048;
    uint32_t errorMs = 0;  // time a failed read costs
    std::atomic<uint32_t> readDelayUs{0};  // time every read takes

private:
    uint8_t Execute(aspi::SRB_ExecSCSICmd& srb);
    void Log(std::string text);

    mutable std::mutex lock_;
    std::vector<std::string> commands_;
    std::vector<uint32_t> ticks_;
};

// The fake behind an engine's drive object, its one drive selected. Members
// are declared so that the library outlives the engine that calls it.
struct CFakeRig {
    CFakeRig();
    CFakeAspi fake;
    CInProcessAspiLibrary library{&fake};
    CRecoveryEngine engine;
};
