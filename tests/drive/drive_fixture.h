// A drive object wired to a recording manager, with the front-end fakes and a
// virtual clock installed and the log at its most detailed level.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/cd_drive.h"
#include "drive/recording_manager.h"
#include "support/fakes.h"

class DriveTest : public ::testing::Test {
protected:
    DriveTest() { drive.Aspi().SetLibrary(&library); }
    ~DriveTest() override
    {
        // A command not waited for may still complete: let it, while its event exists.
        manager.JoinCompletions();
        EXPECT_EQ(std::vector<std::string>{}, manager.problems);
    }

    // Runs the scan, then forgets what it said so a test sees only its own commands.
    void InitAndForget()
    {
        ASSERT_TRUE(drive.InitAspi());
        manager.log.clear();
        manager.execCount = 0;
        fe.poster.Clear();
    }

    std::vector<std::string> LogLines() const { return fe.poster.LogLines(); }

    CFrontEndFixture fe;
    CRecordingManager manager;
    CPartialLibrary library{&manager};
    CCdDrive drive;  // last: torn down before the library and manager
};

// The CDB lines a test expects, in the manager's notation.
constexpr const char kTur[] = "40 0 00 00 00 00 00 00";
constexpr const char kInquiry[] = "48 56 12 00 00 00 38 00";
constexpr const char kCapacity[] = "48 8 25 00 00 00 00 00 00 00 00 00";
constexpr const char kStop[] = "50 0 1B 00 00 00 00 00";
constexpr const char kStart[] = "50 0 1B 00 00 00 01 00";
constexpr const char kEject[] = "50 0 1B 00 00 00 02 00";
constexpr const char kLoad[] = "50 0 1B 00 00 00 03 00";

inline std::string At(const std::string& address, const char* command) { return "exec " + address + " " + command; }
