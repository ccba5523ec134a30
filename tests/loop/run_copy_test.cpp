// One copy at a time on the scripted drive: outcomes, the target table, the
// request sizes, the map, give-up and the questions about free space.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/settings.h"
#include "copy_helpers.h"
#include "fake_aspi.h"
#include "support/fakes.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kSectors = 1000;

class RunCopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.fake.lastLba = kSectors;  // the reported last LBA is the sector count in use
        rig.engine.drive.DrvCap();
        e.destFolder = dir.Path();
        e.runRequested = true;
        progressMap.mapCells = kMapCellsMax;
        rig.fake.ClearCommands();
    }

    int Copy(const std::string& name = "Disc")
    {
        fe.prompt.ChooseFileAnswer(dir.File(name));
        return e.RunCopy();
    }

    // An image holding the disc's content wherever `flags` says read.
    void WriteImageFor(const std::vector<uint8_t>& flags)
    {
        std::vector<uint8_t> image(size_t(kSectors) * 2048, 0);
        for (uint32_t lba = 0; lba < kSectors; ++lba) {
            if (Missing(flags, lba)) continue;
            for (uint32_t i = 0; i < 2048; ++i) image[size_t(lba) * 2048 + i] = CFakeAspi::ContentByte(lba, i);
        }
        WriteAll(Iso(), image);
    }

    std::string Iso() const { return dir.File("Disc.iso"); }
    std::string Flg() const { return dir.File("Disc.flg"); }
    std::string Imp() const { return dir.File("Disc.imp"); }

    std::vector<std::string> Reads() const
    {
        std::vector<std::string> reads;
        for (const auto& c : rig.fake.Commands()) {
            if (c.rfind("READ", 0) == 0) reads.push_back(c);
        }
        return reads;
    }

    // Every sector the flag file marks read holds the disc's content, and the
    // header's counter agrees with the bitmap.
    void ExpectConsistent(uint32_t sectors = kSectors)
    {
        auto flags = ReadAll(Flg());
        auto image = ReadAll(Iso());
        FlagHeader h = HeaderOf(flags);
        EXPECT_EQ(0u, h.Sum());
        EXPECT_EQ(CountRead(flags, sectors), h.sectorsRead);
        for (uint32_t lba = 0; lba < sectors; ++lba) {
            if (Missing(flags, lba)) continue;
            ASSERT_GE(image.size(), size_t(lba + 1) * 2048) << lba;
            for (uint32_t i = 0; i < 2048; i += 509)
                ASSERT_EQ(CFakeAspi::ContentByte(lba, i), image[size_t(lba) * 2048 + i]) << lba;
        }
    }

    bool Asked(const std::string& caption) const
    {
        for (const auto& q : fe.prompt.asked) {
            if (q.caption == caption) return true;
        }
        return false;
    }

    CFrontEndFixture fe;
    CTempDir dir;
    CFakeRig rig;
    CRecoveryEngine& e = rig.engine;
};

TEST_F(RunCopyTest, CleanDiscEndsOkInOnePass)
{
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(fe.poster.Logged("Create Disc.iso"));
    EXPECT_TRUE(fe.poster.Logged("Loop 1 Read 1000 Errors 0"));
    EXPECT_FALSE(fe.poster.Logged("Loop 2 Read 0 Errors 0"));
    EXPECT_EQ("Exit 0x0: Ok", fe.poster.LogLines().back());
    EXPECT_EQ(kSectors * 2048, ReadAll(Iso()).size());
    ExpectConsistent();
    EXPECT_EQ(kSectors, HeaderOf(ReadAll(Flg())).sectorsRead);
    EXPECT_EQ("STOP", rig.fake.Commands().back());
    auto messages = fe.poster.Messages();
    EXPECT_EQ((PostedMessage{UM_STATUS_TEXT, unsigned(kSlotRestoreTitle), ""}), messages.back());
    // 16 sectors a request, but one at a time once 16 or fewer remain.
    for (const auto& r : Reads()) {
        unsigned lba = 0, count = 0;
        ASSERT_EQ(2, std::sscanf(r.c_str(), "READ %u %u", &lba, &count));
        EXPECT_EQ(kSectors - lba <= 16 ? 1u : 16u, count) << r;
    }
    EXPECT_FALSE(e.imageFile.IsOpen() || e.flagFile.IsOpen() || e.importFile.IsOpen());
}

// The resume reads only the identity test's sectors: sector 16 and the first
// held sector of each eighth of the disc, one at a time.
TEST_F(RunCopyTest, ResumeOfAFullyReadSetReadsOnlyItsIdentityAndKeepsTheMap)
{
    ASSERT_EQ(OUTCOME_OK, Copy());
    progressMap.cells[300] = kCellError;  // a cell no request of the next copy enters
    rig.fake.ClearCommands();
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(fe.poster.Logged("Continue Disc.iso"));
    EXPECT_TRUE(fe.poster.Logged("Loop 1 Read 0 Errors 0"));
    EXPECT_EQ((std::vector<std::string>{"READ 16 1", "READ 0 1", "READ 125 1", "READ 250 1", "READ 375 1",
                                        "READ 500 1", "READ 625 1", "READ 750 1", "READ 875 1"}),
              Reads());
    EXPECT_EQ(kCellError, progressMap.Cell(300));
    ExpectConsistent();
    // Another flag file clears the map.
    EXPECT_EQ(OUTCOME_OK, Copy("Other"));
    EXPECT_EQ(kCellUnvisited, progressMap.Cell(300));
    EXPECT_EQ(kCellVisited, progressMap.Cell(0));
}

// Blocks that mix read and missing sectors are worked through one sector at
// a time until a block is all missing or all read; blocks are not aligned.
TEST_F(RunCopyTest, MixedBlocksAreReadSectorBySector)
{
    auto flags = NewFlagFile(kSectors, 2048, kSectors - 38);
    for (uint32_t lba = 0; lba < kSectors; ++lba) SetMissing(flags, lba, lba >= 3 && lba <= 40);
    WriteAll(Flg(), flags);
    WriteImageFor(flags);
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_EQ((std::vector<std::string>{"READ 0 1", "READ 125 1", "READ 250 1", "READ 375 1", "READ 500 1",
                                        "READ 625 1", "READ 750 1", "READ 875 1", "READ 3 16", "READ 19 16", "READ 35 1", "READ 36 1", "READ 37 1",
                                        "READ 38 1", "READ 39 1", "READ 40 1"}),
              Reads());
    EXPECT_TRUE(fe.poster.Logged("Loop 1 Read 38 Errors 0"));
    ExpectConsistent();
}

TEST_F(RunCopyTest, StartChecksEndTheCopyBeforeAnyFile)
{
    rig.fake.ready = false;
    EXPECT_EQ(OUTCOME_NOT_READY, e.RunCopy());
    EXPECT_EQ("Exit 0x1: Drive Not Ready", fe.poster.LogLines().back());
    EXPECT_EQ((std::vector<std::string>{"START", "TUR", "TUR", "STOP"}), rig.fake.Commands());
    EXPECT_TRUE(fe.prompt.fileChoices.empty());

    rig.fake.ready = true;
    e.drive.SetCopySize(0);
    EXPECT_EQ(OUTCOME_EMPTY, e.RunCopy());
    EXPECT_EQ("Exit 0xc: Disk is Empty", fe.poster.LogLines().back());

    e.drive.SetCopySize(kSectors);
    fe.prompt.ChooseFileAnswer("");
    EXPECT_EQ(OUTCOME_CANCELED, e.RunCopy());
    EXPECT_STREQ("Canceled", e.OutcomeText());
    EXPECT_EQ("Exit 0xb: Canceled", fe.poster.LogLines().back());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(RunCopyTest, ImageWithoutFlagFileIsLeftAlone)
{
    WriteAll(Iso(), {1, 2, 3});
    EXPECT_EQ(OUTCOME_ISO_NO_FLG, Copy());
    EXPECT_TRUE(fe.poster.Logged("Continue Disc.iso"));
    EXPECT_EQ("Exit 0x8: Existing *.Iso but no *.Flg", fe.poster.LogLines().back());
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), ReadAll(Iso()));
    EXPECT_FALSE(FileExists(Flg()));
    EXPECT_TRUE(Reads().empty());
}

TEST_F(RunCopyTest, FilesThatWillNotOpen)
{
    fe.prompt.ChooseFileAnswer(dir.File("no-such-folder/Disc"));
    fe.prompt.Answer("Low Disk Space !", kIdYes);  // no free space in a folder that is not there
    EXPECT_EQ(OUTCOME_FOPEN, e.RunCopy());
    EXPECT_EQ("Exit 0x2: FOpen *.Iso", fe.poster.LogLines().back());
    EXPECT_TRUE(Reads().empty());
}

// The word and a file name of 260 characters do not fit the 256-character
// file line: the line is cut, never written beyond.
TEST_F(RunCopyTest, FileLineOfAnOverlongNameIsCut)
{
    fe.prompt.ChooseFileAnswer(std::string(300, 'x'));  // no folder: the whole path is the name
    EXPECT_EQ(OUTCOME_FOPEN, e.RunCopy());
    auto lines = fe.poster.LogLines();
    auto line = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("Create x", 0) == 0; });
    ASSERT_NE(lines.end(), line);
    EXPECT_EQ(std::string("Create ") + std::string(92, 'x'), *line);
    EXPECT_FALSE(FileExists(std::string(255, 'x')));
}

// A header that does not fit the disc ends the copy and stays on disk as it was.
TEST_F(RunCopyTest, RefusedHeadersStayAsTheyWere)
{
    const auto original = NewFlagFile(2000);
    WriteAll(Flg(), original);
    WriteAll(Iso(), {});
    EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy());
    EXPECT_TRUE(Asked("Sectornumber Mismatch !"));
    EXPECT_EQ("Exit 0x9: CheckHeader *.flg", fe.poster.LogLines().back());
    EXPECT_EQ(original, ReadAll(Flg()));
    EXPECT_TRUE(Reads().empty());
}

// Sectors over 4,096 bytes do not fit 16 to a request in the read buffer, and
// sectors of 0 bytes would be marked read with nothing stored: both refused.
TEST_F(RunCopyTest, SectorSizesTheReadBufferCannotTakeAreRefused)
{
    for (uint32_t size : {0u, 8192u, 65536u}) {
        const auto original = NewFlagFile(kSectors, size);
        WriteAll(Flg(), original);
        WriteAll(Iso(), {});
        fe.prompt.Answer("Unexpected Sectorsize!", kIdOk);
        EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy()) << size;
        EXPECT_TRUE(fe.poster.Logged("Sectorsize " + std::to_string(size) + " not supported (1..4096)"));
        EXPECT_EQ(original, ReadAll(Flg())) << size;
        EXPECT_TRUE(Reads().empty());
        EXPECT_TRUE(ReadAll(Iso()).empty());
    }
    // 4,096 bytes still fit.
    WriteAll(Flg(), NewFlagFile(kSectors, 4096));
    fe.prompt.Answer("Unexpected Sectorsize!", kIdOk);
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_EQ(size_t(kSectors) * 4096, ReadAll(Iso()).size());
}

TEST_F(RunCopyTest, TooLittleSpaceAsksBeforeTheCopy)
{
    // A disc far larger than any free space.
    e.drive.SetCopySize(0xFFFFFF00);
    fe.prompt.Answer("Low Disk Space !", kIdNo);
    EXPECT_EQ(OUTCOME_LOW_SPACE, Copy());
    ASSERT_EQ(1u, fe.prompt.asked.size());
    EXPECT_EQ((AskedQuestion{"Low Disk Space !", "Continue anyway ?  ", mb::kYesNo | mb::kIconWarning | mb::kSetForeground}),
              fe.prompt.asked[0]);
    EXPECT_TRUE(fe.poster.Logged("Abort LowDiskSpace"));
    EXPECT_EQ("Exit 0xa: Abort LowDiskSpace", fe.poster.LogLines().back());
    EXPECT_FALSE(FileExists(Flg()));

    // Yes goes on (here to a flag file of another disc, which ends it).
    WriteAll(Flg(), NewFlagFile(kSectors));
    WriteAll(Iso(), {});
    fe.prompt.Answer("Low Disk Space !", kIdYes);
    EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy());
    EXPECT_TRUE(Asked("Sectornumber Mismatch !"));
}

// An image already larger than the disc needs no more space: the difference
// must not wrap into a demand of some 4 million MB.
TEST_F(RunCopyTest, ImageLargerThanTheDiscNeedsNoSpace)
{
    WriteAll(Flg(), NewFlagFile(kSectors));
    WriteAll(Iso(), {});
    std::filesystem::resize_file(Iso(), 100u << 20);
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_FALSE(Asked("Low Disk Space !"));
    ExpectConsistent();
}

TEST_F(RunCopyTest, FlagFileAloneStartsAnImportFile)
{
    WriteAll(Flg(), NewFlagFile(kSectors));
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(fe.poster.Logged("Create Disc.imp"));
    EXPECT_FALSE(FileExists(Iso()));
    auto records = ReadAll(Imp());
    ASSERT_EQ(size_t(kSectors) * (16 + 2048), records.size());
    EXPECT_EQ(kSectors, HeaderOf(ReadAll(Flg())).sectorsRead);
    // A second copy with the image beside it still collects into the import
    // file, and says so.
    WriteAll(Iso(), {});
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(fe.poster.Logged("Continue Disc.imp"));
    EXPECT_TRUE(fe.poster.Logged("Found sectors go to Disc.imp: merge it with Import File"));
    EXPECT_TRUE(ReadAll(Iso()).empty());
}

TEST_F(RunCopyTest, PauseEndsTheCopyAfterTheCurrentRequest)
{
    rig.fake.readable = [this](uint32_t lba) {
        if (lba == 480) e.runRequested = false;
        return true;
    };
    EXPECT_EQ(OUTCOME_USER_BREAK, Copy());
    EXPECT_EQ("Exit 0x3: User Break", fe.poster.LogLines().back());
    EXPECT_EQ("READ 480 16", Reads().back());
    ExpectConsistent();
    EXPECT_EQ(496u, HeaderOf(ReadAll(Flg())).sectorsRead);
}

// With every read failing, the copy gives up at the first tick after the
// failure time passes one minute; drive care's time does not count.
TEST_F(RunCopyTest, GivesUpAfterOneMinuteNotCountingDriveCare)
{
    settings.giveUpLevel = 4;
    rig.fake.readable = [](uint32_t) { return false; };
    rig.fake.errorMs = 100;
    uint32_t t0 = TickCount();
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    EXPECT_EQ("Exit 0x7: Give Up", fe.poster.LogLines().back());
    auto failures = fe.poster.StatusTexts(6);
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ("Failure:\t   0:01:00", failures.back());
    unsigned long careMs = 0;
    for (const auto& line : fe.poster.LogLines()) {
        unsigned long ms = 0;
        if (std::sscanf(line.c_str(), "Pause %lu msec", &ms) == 1) careMs += ms;
    }
    EXPECT_GT(careMs, 0u);
    EXPECT_GE(TickCount() - t0, 60000 + careMs);
    FlagHeader h = HeaderOf(ReadAll(Flg()));
    EXPECT_EQ(0u, h.sectorsRead);
    EXPECT_GT(h.readErrors, 500u);
    EXPECT_GE(h.elapsedSeconds, 60u);
}

TEST_F(RunCopyTest, SkipIsZeroWhenFewerThanEightAreMissing)
{
    auto flags = NewFlagFile(kSectors, 2048, kSectors - 7);
    for (uint32_t lba = 0; lba < kSectors; ++lba) SetMissing(flags, lba, lba >= 500 && lba < 507);
    WriteAll(Flg(), flags);
    WriteImageFor(flags);
    settings.giveUpLevel = 4;
    rig.fake.readable = [](uint32_t lba) { return lba != 503; };
    rig.fake.errorMs = 1000;
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    int skips = 0;
    for (const auto& line : fe.poster.LogLines()) {
        if (line.rfind("Skipping ", 0) == 0) {
            EXPECT_EQ("Skipping 0", line);
            ++skips;
        }
    }
    EXPECT_GT(skips, 10);
    EXPECT_TRUE(fe.poster.Logged("Loop 1 Read 6 Errors 1"));
    EXPECT_TRUE(fe.poster.Logged("Loop 2 Read 0 Errors 1"));
    EXPECT_EQ(rig.fake.ReadsOf(502), 1);
    ExpectConsistent();
}

// After 30 s without a good read, requests shrink to one sector; a disc that
// never reads never goes back to 16.
TEST_F(RunCopyTest, SingleSectorRequestsAfterThirtySecondsOfFailure)
{
    settings.giveUpLevel = 3;
    rig.fake.readable = [](uint32_t) { return false; };
    rig.fake.errorMs = 500;
    uint32_t t0 = TickCount();
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    auto commands = rig.fake.Commands();
    auto ticks = rig.fake.CommandTicks();
    bool single = false;
    int fullBefore = 0;
    for (size_t i = 0; i < commands.size(); ++i) {
        unsigned lba = 0, count = 0;
        if (std::sscanf(commands[i].c_str(), "READ %u %u", &lba, &count) != 2 || kSectors - lba <= 16) continue;
        if (count == 16 && !single) ++fullBefore;
        if (count == 1 && !single) {
            single = true;
            EXPECT_GE(ticks[i] - t0, 30000u);
        }
        if (single) {
            EXPECT_EQ(1u, count) << commands[i];
        }
    }
    EXPECT_TRUE(single);
    EXPECT_GT(fullBefore, 10);
}

TEST_F(RunCopyTest, MapStaysInsideItsCells)
{
    // No cells in use (never divided by), more than the map has, and a disc
    // whose division leaves more cells than the bar shows.
    for (uint32_t cells : {0u, 5000u, 512u}) {
        progressMap.mapCells = cells;
        progressMap.Clear();
        rig.fake.readable = [](uint32_t lba) { return lba < 600 || lba > 615; };
        settings.giveUpLevel = 4;
        rig.fake.errorMs = 2000;
        Copy(std::to_string(cells));
        EXPECT_EQ(cells, progressMap.mapCells.load()) << cells;
        uint32_t used = cells == 0 ? 1 : std::min<uint32_t>(cells, kMapCellsMax);
        for (uint32_t c = used; c < kMapCellsMax; ++c) EXPECT_EQ(kCellUnvisited, progressMap.Cell(c)) << cells;
        EXPECT_NE(kCellUnvisited, progressMap.Cell(used - 1)) << cells;
    }
    EXPECT_EQ(kCellVisited, progressMap.Cell(0));
}

TEST_F(RunCopyTest, FailedRequestMarksItsCell)
{
    progressMap.mapCells = 100;  // 10 sectors a cell
    rig.fake.readable = [](uint32_t lba) { return lba < 600 || lba > 615; };
    settings.giveUpLevel = 4;
    rig.fake.errorMs = 2000;
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    bool error = false;
    for (uint32_t c = 58; c <= 61; ++c) error = error || progressMap.Cell(c) == kCellError;
    EXPECT_TRUE(error);
    EXPECT_EQ(kCellVisited, progressMap.Cell(0));
    for (uint32_t c = 0; c < 58; ++c) EXPECT_NE(kCellError, progressMap.Cell(c)) << c;
    for (uint32_t c = 100; c < kMapCellsMax; ++c) EXPECT_EQ(kCellUnvisited, progressMap.Cell(c)) << c;
    ExpectConsistent();
}

}  // namespace
