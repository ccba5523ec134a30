// A drive that vanishes or hangs in the middle of a copy, run in-process on
// the simulated drive and the virtual clock, so the command count at which it
// vanishes is exact. The copy must end (or keep waiting, as designed, until
// paused) within the designed waits, and every sector marked read must hold
// the disc's content.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "app/core/settings.h"
#include "aspi/sim/sim_drive.h"
#include "crash/verify.h"
#include "engine/recovery_engine.h"
#include "support/fakes.h"

namespace {

constexpr uint32_t kSectors = 20000;

class DriveFaults : public ::testing::Test {
protected:
    DriveFaults()
    {
        engine.destFolder = dir.Path();
        progressMap.mapCells = kMapCellsMax;
    }
    void Attach(const SimProfile& p)
    {
        sim.AddDevice(p);
        engine.drive.Aspi().SetLibrary(&library);
        ASSERT_TRUE(engine.drive.InitAspi());
        ASSERT_TRUE(engine.drive.SelectDrive(0));
    }
    int Copy()
    {
        fe.prompt.ChooseFileAnswer(dir.File("disc.iso"));
        engine.runRequested = true;
        return engine.RunCopy();
    }
    // Every sector marked read holds the disc's content; returns how many are marked.
    uint32_t ExpectConsistent()
    {
        SetReport rep = VerifySet(sim, dir.File("disc.flg"), dir.File("disc.iso"), "", {});
        EXPECT_TRUE(rep.ok) << rep.problem;
        EXPECT_TRUE(rep.headerSums);
        EXPECT_EQ(rep.markedRead, rep.headerRead);
        return rep.markedRead;
    }
    bool LoggedStart(const std::string& prefix) const
    {
        for (const std::string& line : fe.poster.LogLines())
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    }
    static SimProfile Disc()
    {
        SimProfile p;
        p.sectors = kSectors;
        p.sectorsSet = true;
        p.capacity = kSectors;
        p.capacitySet = true;
        p.sectorMicros = 100;
        p.label = "FAULTS";
        return p;
    }

    CFrontEndFixture fe;
    CTempDir dir;
    CSimulatedAspi sim;
    CInProcessAspiLibrary library{&sim};
    CRecoveryEngine engine;
};

// Given a drive that stops answering after 400 commands (about 380 requests
// into a 1,250-request copy) and a give-up time of one minute, the copy gives
// up once a minute of failure has passed: the ready waits on a drive that
// never answers count as failure time, so the give-up comes on schedule, after
// one or two care episodes, not after days of passes. Cut off by a pause after
// 5 s of real time, so a regression fails instead of hanging.
TEST_F(DriveFaults, VanishedDriveEndsInGiveUpWithWhatWasReadIntact)
{
    SimProfile p = Disc();
    p.vanishAfter = 400;
    Attach(p);
    settings.giveUpLevel = 4;
    settings.debugLevel = 1;
    uint32_t tickStart = TickCount();
    int outcome = -1;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        outcome = Copy();
        done = true;
    });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool gaveUpInTime = done;
    engine.runRequested = false;
    worker.join();
    settings.giveUpLevel = 0;
    uint32_t simulatedMs = TickCount() - tickStart;
    size_t passes = 0;
    for (const std::string& line : fe.poster.LogLines()) passes += line.rfind("Loop ", 0) == 0;
    std::string figures = "simulated " + std::to_string(simulatedMs) + " ms, failure time " +
                          std::to_string(engine.FailureMs()) + " ms, " + std::to_string(passes) + " passes";
    EXPECT_TRUE(gaveUpInTime) << "the copy was still running after 5 s of real time: " << figures;
    EXPECT_EQ(OUTCOME_GIVE_UP, outcome) << figures;
    // The give-up is due at the first tick after 60 s of failure; one care
    // episode (an action of at most 16 s, then the minute's wait) may lie between.
    EXPECT_GT(engine.FailureMs(), GiveUpMilliseconds(4)) << figures;
    EXPECT_LT(simulatedMs, 3 * GiveUpMilliseconds(4)) << figures;
    EXPECT_TRUE(LoggedStart("Drive did not come back: [0:0:0] GLEANOR SIMULATED DVD")) << figures;
    uint32_t read = ExpectConsistent();
    EXPECT_GT(read, 0u);
    EXPECT_LT(read, kSectors);
}

// Given a drive that drops out and comes back at another address (a USB
// drive plugged in again), the copy finds it by its identity, says so, and
// ends complete; another drive of the same model on the bus, holding a disc
// of another size, is never taken for it and never read.
TEST_F(DriveFaults, DriveThatComesBackAtAnotherAddressIsFoundAgainAndTheCopyCompletes)
{
    SimProfile p = Disc();
    p.vanishAfter = 400;
    p.returnAfter = 100;  // within the first ready wait
    p.newAddress = true;
    SimProfile other = Disc();
    other.sectors = other.capacity = kSectors + 16;
    sim.AddDevice(other);  // target 0: comes first in every scan
    Attach(p);
    ASSERT_EQ(2, engine.drive.DriveCount());
    ASSERT_TRUE(engine.drive.SelectDrive(1));
    ASSERT_TRUE(engine.drive.ReadVolumeLabel());  // as the idle worker does before a Start
    sim.SetTraceFile(dir.File("trace.txt"));
    // It is looked for once silent at its old address for a whole minute:
    // more than "Try 1 Minute" leaves.
    settings.giveUpLevel = 3;
    int outcome = Copy();
    settings.giveUpLevel = 0;
    sim.SetTraceFile("");
    EXPECT_EQ(OUTCOME_OK, outcome);
    EXPECT_EQ(2, sim.TargetOf(1));
    EXPECT_TRUE(LoggedStart("Drive found again: [0:2:0] GLEANOR SIMULATED DVD"));
    std::vector<uint8_t> bytes = ReadAll(dir.File("trace.txt"));
    std::string trace(bytes.begin(), bytes.end());
    EXPECT_NE(std::string::npos, trace.find("[0:0:0] 12 00 00 00 38 00 -> GOOD")) << "the other drive was asked";
    EXPECT_EQ(std::string::npos, trace.find("[0:0:0] 28 ")) << "the other drive was read";
    EXPECT_EQ(kSectors, ExpectConsistent());
}

// Given a drive that is away for over a minute and comes back at its address
// with a disc of the same size but another label, it is not taken: the copy
// gives up, and nothing it read after the drive came back is in the image.
TEST_F(DriveFaults, DriveThatComesBackWithAnotherDiscIsNotTaken)
{
    SimProfile p = Disc();
    p.vanishAfter = 400;
    p.returnAfter = 260;  // after the first minute's wait
    Attach(p);
    ASSERT_TRUE(engine.drive.ReadVolumeLabel());
    std::snprintf(engine.drive.volumeLabel, sizeof engine.drive.volumeLabel, "%s", "ANOTHER");
    settings.giveUpLevel = 4;
    int outcome = Copy();
    settings.giveUpLevel = 0;
    EXPECT_EQ(OUTCOME_GIVE_UP, outcome);
    EXPECT_FALSE(LoggedStart("Drive found again:"));
    EXPECT_LT(ExpectConsistent(), kSectors);
}

// Given "never give up", a vanished drive keeps the copy going pass after
// pass (as designed) until the user pauses; the pause then ends it at once.
TEST_F(DriveFaults, VanishedDriveWithoutGiveUpEndsOnPause)
{
    SimProfile p = Disc();
    p.vanishAfter = 400;
    Attach(p);
    settings.giveUpLevel = 0;
    fe.prompt.ChooseFileAnswer(dir.File("disc.iso"));
    engine.runRequested = true;
    int outcome = -1;
    std::thread worker([&] { outcome = engine.RunCopy(); });
    // Real time: the copy runs on the virtual clock and only the pause ends it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto paused = std::chrono::steady_clock::now();
    engine.runRequested = false;
    worker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - paused, std::chrono::seconds(5));
    EXPECT_EQ(OUTCOME_USER_BREAK, outcome);
    ExpectConsistent();
}

// Given commands that each hang 2 s (below the 15 s time-out), the copy is
// slow but complete and correct.
TEST_F(DriveFaults, StallingDriveBelowTheTimeoutCompletes)
{
    SimProfile p = Disc();
    p.sectors = p.capacity = 2000;
    p.stallMillis = 2000;
    Attach(p);
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_EQ(2000u, ExpectConsistent());
}

// Given commands that hang past the time-out, each one fails after the
// time-out instead of hanging; the copy ends "Drive Not Ready" after its two
// readiness tests, and nothing is created.
TEST_F(DriveFaults, StallingDrivePastTheTimeoutEndsNotReady)
{
    SimProfile p = Disc();
    p.stallMillis = 600000;
    Attach(p);
    uint32_t tickStart = TickCount();
    EXPECT_EQ(OUTCOME_NOT_READY, Copy());
    // DrvStart and two DrvReady, each cut off at 15 s.
    EXPECT_LE(TickCount() - tickStart, 4 * kSelectTimeoutHalfSeconds * 500);
    EXPECT_TRUE(ReadAll(dir.File("disc.flg")).empty());
}

}  // namespace
