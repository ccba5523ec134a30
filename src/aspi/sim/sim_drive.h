// The simulated drive: an ASPI manager with one host adapter and one or more
// CD/DVD devices, each described by a profile file.
//
// It executes TEST UNIT READY, INQUIRY, READ CAPACITY(10), READ(10) and
// START STOP UNIT with real semantics (tray, ready state, capacity, sectors,
// sense data on failure) and takes its timing from the platform clock, so it
// runs instantly under a virtual clock. It is built into the Linux program and
// also as a 32-bit WNASPI32.DLL for the Windows tests (profiles from GLEANOR_SIM).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive/aspi_library.h"
#include "drive/aspi_records.h"
#include "aspi/sim/sim_volume.h"
#include "platform/rawio.h"

constexpr uint32_t kSimSectorSize = 2048;

struct SimRange {
    uint32_t first = 0;
    uint32_t last = 0;        // inclusive
    double probability = 0;   // flaky ranges: chance that one attempt reads
    bool flaky = false;       // false: a bad range, never reads
};

enum class SimTray { Closed, Open, Fixed };

struct SimProfile {
    std::string path;             // the profile file, for messages
    uint32_t sectors = 20000;     // READ(10) at or beyond fails
    bool sectorsSet = false;
    uint32_t capacity = 19999;    // READ CAPACITY's last block address
    bool capacitySet = false;
    uint32_t blockLength = 2048;  // READ CAPACITY's block length
    std::string image;            // content file, resolved against the profile's folder; "" = generated
    std::string label = "SIMDISC";
    std::vector<SimRange> ranges; // bad and flaky, in file order (later lines win)
    uint32_t seed = 1;
    uint32_t sectorMicros = 0;    // sector_us
    uint32_t errorMillis = 100;   // error_ms
    uint32_t spinupMillis = 0;    // spinup_ms
    SimTray tray = SimTray::Closed;
    bool disc = true;
    std::string vendor = "GLEANOR";
    std::string product = "SIMULATED DVD";
    uint32_t vanishAfter = 0;     // vanish_after: 0 = never
    uint32_t returnAfter = 0;     // return_after: a vanished device is back after N more commands; 0 = never
    bool newAddress = false;      // new_address: it comes back at another target (re-plugged)
    uint32_t stallMillis = 0;     // stall_ms: every command hangs this long (up to the time-out)
    std::vector<SimFile> files;   // file lines: generated content with a file system
    std::shared_ptr<const CSimVolume> volume;  // laid out from `files` and the label
};

// Parses a profile's text. `where` names the file in messages
// ("FILE:LINE: problem"). False with *error set on the first bad line.
bool ParseSimProfile(const std::string& text, const std::string& where, const std::string& baseDir,
                     SimProfile* profile, std::string* error);
bool LoadSimProfile(const std::string& path, SimProfile* profile, std::string* error);

// The generated content of sector `lba` (2048 bytes), label field included.
void GenerateSector(const SimProfile& profile, uint32_t lba, uint8_t* out);

class CSimulatedAspi : public IAspiManager {
public:
    CSimulatedAspi();
    ~CSimulatedAspi() override;

    // Device k is target k, LUN 0, of adapter 0.
    bool AddProfileFile(const std::string& path, std::string* error);
    void AddDevice(const SimProfile& profile);
    int DeviceCount() const;

    uint32_t GetASPI32SupportInfo() override;
    uint32_t SendASPI32Command(void* srb) override;

    // What the disc in device k holds at `lba` (2048 bytes); false beyond the
    // disc or where an image file cannot be read. For checking rescued images.
    bool DiscContent(int device, uint32_t lba, uint8_t* out);
    // Take the disc out / put it back (a disc removed mid-copy).
    void SetDiscPresent(int device, bool present);
    void SetTrayOpen(int device, bool open);
    // The target device k answers at (k, unless it came back at another).
    uint8_t TargetOf(int device) const;
    // Commands executed so far by device k.
    uint64_t CommandCount(int device) const;
    // Appends one line per command to `path` ("" stops). The constructor
    // starts it from GLEANOR_SIM_TRACE. Set up before commands are issued.
    void SetTraceFile(const std::string& path);

private:
    struct Device;
    class Trace;
    Device* Find(uint8_t haId, uint8_t target, uint8_t lun) const;
    uint8_t FreeTarget() const;
    // Whether device `d` answers one request at its address now (see
    // Device::Present); one that has just come back elsewhere moves there.
    bool Answers(Device* d, bool command);
    uint32_t ExecScsi(void* srb);
    std::string TraceAddress(const aspi::SRB_ExecSCSICmd& s) const;
    uint32_t GetSetTimeouts(void* srb);
    std::vector<std::unique_ptr<Device>> devices_;
    std::unique_ptr<Trace> trace_;
};

// Profiles from a list of paths separated by ':' (';' on Windows), as GLEANOR_SIM holds them.
// Empty items are skipped; the first profile that fails ends the list with false.
bool AddProfilesFromList(CSimulatedAspi& sim, const std::string& list, std::string* error);
constexpr char kSimListSeparator = rawio::kSep == '\\' ? ';' : ':';

// An environment variable of the process ("" when unset), read the way the
// platform's own calls see it (GetEnvironmentVariableA on Windows).
std::string SimEnvironment(const char* name);
