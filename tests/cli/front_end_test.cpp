// The front end in this process, on a simulator whose state (the trays)
// lives across commands: listing, preselection, eject and load, forced sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "cli/dispatch.h"
#include "cli/rescue_check.h"
#include "cli/interrupt.h"
#include "support/fakes.h"

namespace {

struct CommandRun {
    int status;
    std::string out;
    std::string err;
};

std::string Drain(FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
    std::fclose(f);
    return text;
}

CommandRun Gleanor(CSimulatedAspi* sim, std::vector<std::string> args)
{
    args.insert(args.begin(), "gleanor");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    Options o;
    std::string error;
    if (!ParseCommandLine(int(argv.size()), argv.data(), &o, &error)) return {kExitUsage, "", error};
    CliIo io;
    io.out = std::tmpfile();
    io.err = std::tmpfile();
    io.in = stdin;
    int status = RunGleanor(o, io, sim);
    CommandRun r{status, Drain(io.out), Drain(io.err)};
    return r;
}

SimProfile Disc(const std::string& label, bool disc = true)
{
    SimProfile p;
    p.sectors = 20000;
    p.capacity = 19999;
    p.label = label;
    p.disc = disc;
    p.errorMillis = 0;
    return p;
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class FrontEndTest : public ::testing::Test {
protected:
    void SetUp() override { ResetInterrupts(); }
    void TearDown() override { ResetInterrupts(); }
    CSimulatedAspi sim;
};

TEST_F(FrontEndTest, ListsDrivesAndMarksTheLastReadyOne)
{
    sim.AddDevice(Disc("FIRST"));
    sim.AddDevice(Disc("SECOND"));
    sim.AddDevice(Disc("", false));
    CommandRun r = Gleanor(&sim, {"drives"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("  0  [0:0:0]  GLEANOR SIMULATED DVD  ready  FIRST  39 MB\n"
              "* 1  [0:1:0]  GLEANOR SIMULATED DVD  ready  SECOND  39 MB\n"
              "  2  [0:2:0]  GLEANOR SIMULATED DVD  not ready\n",
              r.out);
}

TEST_F(FrontEndTest, WithNoReadyDiscTheFirstDriveIsChosen)
{
    sim.AddDevice(Disc("", false));
    sim.AddDevice(Disc("", false));
    CommandRun r = Gleanor(&sim, {"drives"});
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(Has(r.out, "* 0  [0:0:0]")) << r.out;
    EXPECT_TRUE(Has(r.out, "  1  [0:1:0]")) << r.out;
}

TEST_F(FrontEndTest, EjectThenDrivesShowsNotReadyAndLoadBringsItBack)
{
    sim.AddDevice(Disc("TRAYDISC"));
    CommandRun eject = Gleanor(&sim, {"eject"});
    EXPECT_EQ(0, eject.status) << eject.err;
    EXPECT_EQ("drive 0: ejected, not ready\n", eject.out);
    CommandRun list = Gleanor(&sim, {"drives"});
    EXPECT_TRUE(Has(list.out, "* 0  [0:0:0]  GLEANOR SIMULATED DVD  not ready")) << list.out;
    CommandRun load = Gleanor(&sim, {"load"});
    EXPECT_EQ(0, load.status) << load.err;
    EXPECT_EQ("drive 0: ready  TRAYDISC  39 MB\n", load.out);
}

TEST_F(FrontEndTest, EjectOnAFixedTrayIsReportedAsNotDone)
{
    SimProfile fixed = Disc("FIXED");
    fixed.tray = SimTray::Fixed;
    sim.AddDevice(fixed);
    CommandRun r = Gleanor(&sim, {"eject"});
    EXPECT_EQ(kExitCouldNot, r.status);
    EXPECT_TRUE(Has(r.err, "the tray did not open")) << r.err;
}

TEST_F(FrontEndTest, DriveBeyondTheCountIsAUsageError)
{
    sim.AddDevice(Disc("ONE"));
    CommandRun r = Gleanor(&sim, {"estimate", "--drive", "1"});
    EXPECT_EQ(kExitUsage, r.status);
    EXPECT_TRUE(Has(r.err, "--drive 1: there is only 1 drive (0..0)")) << r.err;
}

TEST_F(FrontEndTest, NoDrivesAndNotReadyCouldNotBeDone)
{
    CommandRun none = Gleanor(&sim, {"drives"});
    EXPECT_EQ(kExitCouldNot, none.status);
    EXPECT_TRUE(Has(none.err, "[Error No Drives] No drives detected.")) << none.err;

    sim.AddDevice(Disc("", false));
    CommandRun estimate = Gleanor(&sim, {"estimate", "--sim-clock", "virtual", "--sim", "unused"});
    EXPECT_EQ(kExitCouldNot, estimate.status);
    EXPECT_TRUE(Has(estimate.err, "Drive Not Ready")) << estimate.err;
}

TEST_F(FrontEndTest, EstimatePrintsTheLastReadableSector)
{
    SimProfile p = Disc("EST");
    p.sectors = 300000;  // READ CAPACITY may say anything; the estimate reads
    p.capacity = 12;
    sim.AddDevice(p);
    CommandRun r = Gleanor(&sim, {"estimate", "--log-level", "4"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("299999\n", r.out);
    EXPECT_TRUE(Has(r.err, "\nlba 299999\n")) << r.err;  // the probe's own log, at level 4
}

TEST_F(FrontEndTest, ForcedSizeIsLoggedAndUsedByTheCopy)
{
    CTempDir dir;
    sim.AddDevice(Disc("FORCED"));
    CommandRun r = Gleanor(&sim, {"copy", "--sim", "x", "--sim-clock", "virtual", "--dest", dir.Path(), "--force-size",
                           "1000"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(Has(r.err, "Disksize changed to \"-- Free --\" (1000 Sectors)\n")) << r.err;
    EXPECT_TRUE(Has(r.err, "Exit 0x0: Ok")) << r.err;
    // A new flag file for 1,000 sectors: 48 + 4 * (1000 / 32 + 3) bytes.
    EXPECT_EQ(184, std::filesystem::file_size(dir.File("FORCED.flg")));

    // The same flag file as the size source; the copy then asks whether the
    // modified size is right, and asking for it was the answer OK.
    CommandRun again = Gleanor(&sim, {"copy", "--sim", "x", "--sim-clock", "virtual", "--dest", dir.Path(),
                               "--force-size", "flag:" + dir.File("FORCED.flg")});
    EXPECT_EQ(0, again.status) << again.err;
    EXPECT_TRUE(Has(again.err, "Disksize changed to \"Existing Flagfile\" (1000 Sectors)")) << again.err;
    EXPECT_TRUE(Has(again.err, "Answered \"Volumesize Modified !\" with OK")) << again.err;
}

TEST_F(FrontEndTest, FlagFileThatGivesNoSizeIsRefused)
{
    CTempDir dir;
    sim.AddDevice(Disc("SHORT"));
    FILE* f = std::fopen(dir.File("short.flg").c_str(), "wb");
    std::fputs("too short", f);
    std::fclose(f);
    CommandRun r = Gleanor(&sim, {"copy", "--sim", "x", "--sim-clock", "virtual", "--dest", dir.Path(), "--force-size",
                           "flag:" + dir.File("short.flg")});
    EXPECT_EQ(kExitCouldNot, r.status);
    EXPECT_TRUE(Has(r.err, "no sector count")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("SHORT.iso")));

    CommandRun missing = Gleanor(&sim, {"copy", "--dest", dir.Path(), "--force-size", "flag:" + dir.File("none.flg")});
    EXPECT_EQ(kExitUsage, missing.status);
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.flg")));  // never created
}

TEST_F(FrontEndTest, InterruptBeforeTheCopyStartsIsAUserBreak)
{
    CTempDir dir;
    sim.AddDevice(Disc("", false));
    NoteInterrupt();
    CommandRun r = Gleanor(&sim, {"copy", "--dest", dir.Path()});
    EXPECT_EQ(OUTCOME_USER_BREAK, r.status);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace

namespace {

// The demo's checker must be able to say no: a sector marked read whose
// image bytes differ, or that lies beyond the image, counts as wrong.
TEST(RescueCheckTest, FindsSectorsMarkedReadThatAreNotTheDiscs)
{
    CTempDir dir;
    constexpr uint32_t kSectors = 20;
    FlagHeader h;
    h.sectorCount = kSectors;
    h.sectorSize = kNormalSectorSize;
    h.sectorsRead = 4;
    h.checksum = 0 - h.Sum();
    uint8_t raw[kFlagHeaderSize];
    h.Encode(raw);
    std::vector<uint8_t> bitmap(4 * (kSectors / 32 + 3), 0xFF);
    bitmap[0] = 0xF0;  // sectors 0..3 read
    bitmap[2] = 0xEF;  // sector 20 (past the end: never looked at)
    FILE* f = std::fopen(dir.File("d.flg").c_str(), "wb");
    std::fwrite(raw, 1, sizeof raw, f);
    std::fwrite(bitmap.data(), 1, bitmap.size(), f);
    std::fclose(f);
    // The image holds sectors 0..2 (sector 3 is beyond its end); sector 1 is damaged.
    auto content = [](uint32_t lba, uint8_t* out) {
        std::memset(out, int(lba + 1), kNormalSectorSize);
        return true;
    };
    std::vector<uint8_t> image(3 * kNormalSectorSize);
    for (uint32_t lba = 0; lba < 3; ++lba) content(lba, &image[lba * kNormalSectorSize]);
    image[kNormalSectorSize + 100] ^= 1;
    f = std::fopen(dir.File("d.iso").c_str(), "wb");
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);

    RescueCheck r = CheckRescue(dir.File("d.flg"), dir.File("d.iso"), content);
    ASSERT_TRUE(r.filesRead) << r.problem;
    EXPECT_TRUE(r.headerValid);
    EXPECT_EQ(4u, r.marked);
    EXPECT_EQ(2u, r.correct);
    EXPECT_EQ(2u, r.wrong);
    EXPECT_EQ(1u, r.firstWrong);

    EXPECT_FALSE(CheckRescue(dir.File("none.flg"), dir.File("d.iso"), content).filesRead);
}

}  // namespace
