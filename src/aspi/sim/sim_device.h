// One simulated CD/DVD device: tray, disc, spin state and the five SCSI
// commands. Private to the simulator; the ASPI side is in sim_aspi.cpp.
#pragma once
#include <cstdint>
#include <mutex>
#include <random>

#include "aspi/sim/sim_drive.h"

// Sense key and additional sense code / qualifier of a CHECK CONDITION.
struct SimSense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
};

namespace simsense {
constexpr SimSense kNotReadyNoMedium{0x02, 0x3A, 0x00};  // tray open or no disc
constexpr SimSense kNotReadyGone{0x02, 0x04, 0x00};      // the device has vanished
constexpr SimSense kMediumError{0x03, 0x11, 0x00};       // unrecovered read error
constexpr SimSense kLbaOutOfRange{0x05, 0x21, 0x00};
constexpr SimSense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr SimSense kInvalidField{0x05, 0x24, 0x00};      // also: a tray that cannot move
}  // namespace simsense

// How one command ended, and how long it took (slept by the caller, outside
// the device lock, so a test can change the disc while a command "runs").
struct SimResult {
    enum Kind { Good, Check, Overrun, TimedOut } kind = Good;
    SimSense sense;         // with Check
    uint32_t waitMs = 0;
    uint64_t waitUs = 0;
};

struct CSimulatedAspi::Device {
    Device(const SimProfile& p, uint8_t target);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // One request reaching the device's address: a SCSI command (counted, and
    // what vanish_after counts) or a bus scan's device-type query. False while
    // the device is away; a device that returns (return_after) is back for
    // the request after the Nth one that reached it while away.
    bool Present(bool command);
    // Executes one CDB into `buf` (never more than `bufLen` bytes). Takes the lock.
    SimResult Execute(const uint8_t* cdb, unsigned cdbLen, uint8_t* buf, uint32_t bufLen);
    // The disc's content of one sector (2048 bytes); false beyond the disc or
    // where the image cannot be read. Takes the lock.
    bool Content(uint32_t lba, uint8_t* out);

    void SetDiscPresent(bool present);
    void SetTrayOpen(bool open);
    uint64_t Commands() const;
    bool Vanished() const;
    // The target it answers at: its own, or after a return at a new address, `moved`.
    uint8_t Target() const;
    // Whether it has just come back at a new address and wants one (once).
    bool WantsNewTarget() const;
    void MoveTo(uint8_t target);
    void SetTimeout(uint32_t halfSeconds);
    uint32_t Timeout() const;

    const SimProfile profile;

private:
    bool Ready() const { return !trayOpen_ && discPresent_; }
    bool ContentLocked(uint32_t lba, uint8_t* out);
    bool SectorDraw(uint32_t lba);
    SimResult TestUnitReady();
    SimResult Inquiry(const uint8_t* cdb, uint8_t* buf, uint32_t bufLen);
    SimResult ReadCapacity(uint8_t* buf, uint32_t bufLen);
    SimResult Read10(const uint8_t* cdb, uint8_t* buf, uint32_t bufLen);
    SimResult StartStop(const uint8_t* cdb);
    uint32_t SpinUp();

    mutable std::mutex lock_;
    bool trayOpen_;
    bool trayMovable_;
    bool discPresent_;
    bool spunDown_ = false;
    bool vanished_ = false;
    bool returned_ = false;
    bool moved_ = false;
    uint8_t target_ = 0;
    uint64_t commands_ = 0;
    uint32_t awayRequests_ = 0;  // requests that reached it while it was away
    uint32_t timeoutHalfSeconds_ = 0;  // 0: none set, commands never time out
    std::mt19937 rng_;                 // the simulator's own: flaky sectors
    int imageFd_ = -1;
};
