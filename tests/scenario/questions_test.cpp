// The target table, every question of the flag file header and of the copy's
// set-up answered both ways, and damaged input.
#include <algorithm>
#include <filesystem>
#include <set>

#include "app/core/settings.h"
#include "scenario_rig.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kSectors = 4000;

class QuestionScenario : public ScenarioTest {
protected:
    // A partly read image set: the copy is paused half way.
    void PartialCopy()
    {
        poster.onLog = [this](const std::string& line) {
            unsigned long lba = 0;
            if (std::sscanf(line.c_str(), "lba %lx", &lba) == 1 && lba >= kSectors / 2) engine.runRequested = false;
        };
        ASSERT_EQ(OUTCOME_USER_BREAK, Copy());
        poster.onLog = nullptr;
        fe.poster.Clear();
    }
    FlagHeader Header() const
    {
        FlagHeader h;
        h.Decode(Flags().data());
        return h;
    }
    void WriteHeader(const FlagHeader& h)
    {
        auto flags = Flags();
        h.Encode(flags.data());
        WriteFileBytes(Path("flg"), flags);
    }
};

TEST_F(QuestionScenario, ImageWithoutFlagFileEndsAtOnce)
{
    Attach({Disc(kSectors)});
    WriteFileBytes(Path("iso"), {9, 9, 9});
    EXPECT_EQ(OUTCOME_ISO_NO_FLG, Copy());
    EXPECT_TRUE(Logged("Continue Disc.iso"));
    EXPECT_TRUE(Logged("Exit 0x8: Existing *.Iso but no *.Flg"));
    EXPECT_EQ((std::vector<uint8_t>{9, 9, 9}), ReadFileBytes(Path("iso")));
    EXPECT_FALSE(std::filesystem::exists(Path("flg")));
}

// The second machine: only the flag file came along, so the sectors still
// missing are collected into an import file; the image is never opened.
TEST_F(QuestionScenario, FlagFileAloneCollectsIntoAnImportFile)
{
    SimProfile a = Disc(kSectors, 100);
    AddBad(a, 1000, 1999);
    SimProfile b = Disc(kSectors, 100);
    AddBad(b, 1500, 1599);
    Attach({a, b});
    settings.giveUpLevel = 4;
    ASSERT_EQ(OUTCOME_GIVE_UP, Copy());
    std::filesystem::create_directory(dir.File("b"));
    const std::string second = std::string("b").append(1, dir.Path().back()).append("Disc");  // the other machine's folder
    std::filesystem::copy_file(Path("flg"), Path("flg", second));
    const auto before = Flags(second);

    ASSERT_TRUE(engine.drive.SelectDrive(1));
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy(second));
    EXPECT_TRUE(Logged("Create Disc.imp"));
    EXPECT_FALSE(std::filesystem::exists(Path("iso", second)));
    ExpectImportConsistent(before, second, 1);
    EXPECT_EQ(100u, MissingSectors(second).size());
    // Started again, it continues the same import file.
    fe.poster.Clear();
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy(second));
    EXPECT_TRUE(Logged("Continue Disc.imp"));
    ExpectImportConsistent(before, second, 1);
}

TEST_F(QuestionScenario, OddBlockLengthOnANewFlagFile)
{
    SimProfile p = Disc(kSectors);
    p.blockLength = 2352;
    Attach({p});

    fe.prompt.Answer("Unexpected Sectorsize!", kIdYes);
    EXPECT_EQ(OUTCOME_OK, Copy("yes"));
    EXPECT_TRUE(Logged("Force SectorSize 2048"));
    EXPECT_EQ(size_t(kSectors) * 2048, ReadFileBytes(Path("iso", "yes")).size());
    ExpectImageConsistent("yes");

    fe.prompt.Answer("Unexpected Sectorsize!", kIdNo);
    EXPECT_EQ(OUTCOME_OK, Copy("no"));
    EXPECT_TRUE(Logged("Keep SectorSize 2352"));
    EXPECT_EQ(size_t(kSectors) * 2352, ReadFileBytes(Path("iso", "no")).size());
    ExpectHeaderSound("no");

    fe.prompt.Answer("Unexpected Sectorsize!", kIdCancel);
    EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy("cancel"));
    EXPECT_TRUE(Logged("Cancel on ForceSectorSize"));
    EXPECT_TRUE(ReadFileBytes(Path("iso", "cancel")).empty());
}

TEST_F(QuestionScenario, ChecksumErrorAnsweredBothWays)
{
    Attach({Disc(kSectors)});
    PartialCopy();
    FlagHeader h = Header();
    h.reserved[0] ^= 0x40;  // the sum no longer comes to zero
    WriteHeader(h);
    const auto damaged = Flags();

    fe.prompt.Answer("Failed Header Check!", kIdNo);
    EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy());
    EXPECT_TRUE(Logged("Fail Header Check *.flg"));
    EXPECT_EQ(damaged, Flags());

    fe.prompt.Answer("Failed Header Check!", kIdYes);
    EXPECT_EQ(OUTCOME_OK, Copy());
    ExpectImageConsistent();
    EXPECT_EQ(h.reserved[0], Header().reserved[0]);  // carried along, with a fresh checksum
}

TEST_F(QuestionScenario, SectorCountOfAnotherDiscIsRefused)
{
    Attach({Disc(kSectors)});
    PartialCopy();
    for (uint32_t count : {kSectors + 1, 0u}) {
        FlagHeader h = Header();
        h.sectorCount = count;
        h.checksum = 0;
        h.checksum = 0 - h.Sum();
        WriteHeader(h);
        const auto before = Flags();
        EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy());
        EXPECT_TRUE(Asked("Sectornumber Mismatch !"));
        EXPECT_TRUE(Logged("Sectornumber Mismatch"));
        EXPECT_EQ(before, Flags());
    }
}

// A forced size the drive does not report: OK copies that many, Cancel stops.
TEST_F(QuestionScenario, ModifiedVolumeSizeAnsweredBothWays)
{
    Attach({Disc(kSectors)});
    engine.drive.SetCopySize(kSectors - 100);
    fe.prompt.Answer("Volumesize Modified !", kIdOk);
    // A new flag file is made without the question; continuing it asks.
    ASSERT_EQ(OUTCOME_OK, Copy());
    EXPECT_FALSE(Asked("Volumesize Modified !"));
    FlagHeader h = Header();
    h.sectorsRead = 0;
    h.checksum = 0;
    h.checksum = 0 - h.Sum();
    auto flags = Flags();
    h.Encode(flags.data());
    std::fill(flags.begin() + kFlagHeaderSize, flags.end(), 0xFF);
    WriteFileBytes(Path("flg"), flags);

    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(Asked("Volumesize Modified !"));
    EXPECT_EQ(kSectors - 100, Header().sectorCount);
    ExpectImageConsistent();

    fe.prompt.asked.clear();
    fe.prompt.Answer("Volumesize Modified !", kIdCancel);
    const auto before = Flags();
    EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy());
    EXPECT_TRUE(Logged("Canceled Modified Sectornumber"));
    EXPECT_EQ(before, Flags());
}

TEST_F(QuestionScenario, KeptSectorSizeOfTheFlagFileAnsweredBothWays)
{
    Attach({Disc(kSectors)});
    PartialCopy();
    FlagHeader h = Header();
    h.sectorSize = 2336;
    h.checksum = 0;
    h.checksum = 0 - h.Sum();
    WriteHeader(h);
    // The image as a copy of such sectors stores them: each one-block read at a 2336-byte stride.
    const auto image = ReadFileBytes(Path("iso"));
    std::vector<uint8_t> wide(image.size() / 2048 * 2336, 0);
    for (size_t lba = 0; lba < image.size() / 2048; ++lba)
        std::copy_n(image.begin() + long(lba * 2048), 2048, wide.begin() + long(lba * 2336));
    WriteFileBytes(Path("iso"), wide);
    const auto before = Flags();

    fe.prompt.Answer("Unexpected Sectorsize!", kIdCancel);
    EXPECT_EQ(OUTCOME_CHECK_HEADER, Copy());
    EXPECT_TRUE(Logged("Canceled on ForceSectorSize"));
    EXPECT_EQ(before, Flags());

    fe.prompt.Answer("Unexpected Sectorsize!", kIdOk);
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(MissingSectors().empty());
    ExpectHeaderSound();
    EXPECT_EQ(2336u, Header().sectorSize);
}

// Damaged flag files end clearly and mark nothing that is not in the image.
TEST_F(QuestionScenario, ShortFlagFileIsMadeAnew)
{
    Attach({Disc(kSectors)});
    WriteFileBytes(Path("iso"), std::vector<uint8_t>(100, 0xAB));
    WriteFileBytes(Path("flg"), std::vector<uint8_t>(20, 0x00));  // would read as "all read"
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(Logged("Continue Disc.iso"));
    ExpectImageConsistent();
    EXPECT_TRUE(MissingSectors().empty());
}

TEST_F(QuestionScenario, OverlongPathNeverMixesUpTheFiles)
{
    Attach({Disc(kSectors)});
    std::string name(300, 'n');
    int outcome = Copy(name);
    EXPECT_TRUE(LoggedPrefix("Exit 0x"));
    std::set<std::string> paths = {engine.imageFile.GetPath(), engine.flagFile.GetPath(), engine.importFile.GetPath()};
    EXPECT_EQ(3u, paths.size()) << engine.imageFile.GetPath();
    for (const auto& p : paths) EXPECT_LE(p.size(), 260u);
    if (outcome == OUTCOME_OK) {
        auto flags = ReadFileBytes(engine.flagFile.GetPath());
        auto image = ReadFileBytes(engine.imageFile.GetPath());
        EXPECT_EQ(size_t(kSectors) * 2048, image.size());
        ASSERT_GE(flags.size(), kFlagHeaderSize);
        FlagHeader h;
        h.Decode(flags.data());
        EXPECT_EQ(0u, h.Sum());
        EXPECT_EQ(kSectors, h.sectorsRead);
    } else {
        EXPECT_EQ(OUTCOME_FOPEN, outcome);
    }
}

}  // namespace
