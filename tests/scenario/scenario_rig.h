// Whole copies on the simulated drive with a virtual clock: the rig, a poster
// that lets a scenario act when a given line or text appears, and the checks
// every scenario makes on the files it leaves.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "aspi/sim/sim_drive.h"
#include "engine/recovery_engine.h"
#include "support/fakes.h"

// Forwards to the recorder; notes the tick of every log line and calls the
// hooks on log lines and status texts.
class CScenarioPoster : public IPoster {
public:
    explicit CScenarioPoster(CRecordingPoster& inner) : inner_(inner) {}
    void Post(unsigned msg, unsigned wParam, const char* text) override;

    std::function<void(const std::string&)> onLog;
    std::function<void(unsigned slot, const std::string&)> onStatus;
    std::vector<std::pair<uint32_t, std::string>> timedLog;  // (tick, line)

private:
    CRecordingPoster& inner_;
};

// A disc of `sectors` sectors, all of them copied (the capacity the drive
// reports is used as the sector count).
SimProfile Disc(uint32_t sectors, uint32_t errorMs = 100);
void AddBad(SimProfile& p, uint32_t first, uint32_t last);
void AddFlaky(SimProfile& p, uint32_t first, uint32_t last, double probability);

class ScenarioTest : public ::testing::Test {
protected:
    ScenarioTest();
    ~ScenarioTest() override;

    // Adds the devices, then scans and selects `device`.
    void Attach(const std::vector<SimProfile>& devices, int device = 0);
    int Copy(const std::string& name = "Disc");

    std::string Path(const std::string& ext, const std::string& name = "Disc") const
    {
        return dir.File(name + "." + ext);
    }
    std::vector<uint8_t> Flags(const std::string& name = "Disc") const;
    uint32_t SectorCount(const std::string& name = "Disc") const;
    static bool Missing(const std::vector<uint8_t>& flags, uint32_t lba);
    std::vector<uint32_t> MissingSectors(const std::string& name = "Disc") const;

    // After a normal end: every sector the flags mark read holds the disc's
    // content in the image, the header sums to zero and counts the clear bits.
    void ExpectImageConsistent(const std::string& name = "Disc", int device = 0);
    // In export mode: every sector that was missing in `before` (the flag file
    // the export started from) and is read now is in the import file once,
    // with the disc's content, and the import file holds nothing else.
    void ExpectImportConsistent(const std::vector<uint8_t>& before, const std::string& name = "Disc",
                                int device = 0);
    void ExpectHeaderSound(const std::string& name = "Disc");

    bool Logged(const std::string& line) const { return fe.poster.Logged(line); }
    bool LoggedPrefix(const std::string& prefix) const;
    std::vector<std::string> LinesWith(const std::string& prefix) const;
    bool Asked(const std::string& caption) const;

    CFrontEndFixture fe;
    CScenarioPoster poster{fe.poster};
    CTempDir dir;
    CSimulatedAspi sim;
    CInProcessAspiLibrary library{&sim};
    CRecoveryEngine engine;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
