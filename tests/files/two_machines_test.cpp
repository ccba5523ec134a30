// The rescue with two machines: A copies and gives up on a zone its drive
// cannot read; only A's flag file goes to B, whose drives collect part of the
// missing sectors into an import file over two runs (the first cut off in the
// middle of an export write); A merges the import file from another folder.
#include <filesystem>
#include <cstring>
#include <memory>

#include "app/core/settings.h"
#include "files_fixture.h"

namespace {

constexpr uint32_t kSectors = 3000;

SimProfile Disc(std::vector<SimRange> bad)
{
    SimProfile p;
    p.sectors = kSectors;
    p.sectorsSet = true;
    p.capacity = kSectors;
    p.capacitySet = true;
    p.label = "DISC";
    p.errorMillis = 100;
    p.ranges = std::move(bad);
    return p;
}

struct Machine {
    explicit Machine(const SimProfile& profile)
    {
        sim.AddDevice(profile);
        engine->drive.Aspi().SetLibrary(&lib);
        engine->drive.InitAspi();
        engine->drive.SelectDrive(0);
    }
    int Copy(CScriptedPrompt& prompt, const CTempDir& dir)
    {
        prompt.ChooseFileAnswer(dir.File("Disc.iso"));
        engine->destFolder = dir.Path();
        engine->runRequested = true;
        int outcome = engine->RunCopy();
        engine->runRequested = false;  // as the worker clears it after a copy
        return outcome;
    }
    CSimulatedAspi sim;
    CInProcessAspiLibrary lib{&sim};
    std::unique_ptr<CRecoveryEngine> engine = std::make_unique<CRecoveryEngine>();
};

std::set<uint32_t> Missing(const Bytes& flags)
{
    std::set<uint32_t> missing;
    for (uint32_t lba = 0; lba < kSectors; ++lba)
        if (FlagIsMissing(flags, lba)) missing.insert(lba);
    return missing;
}

std::set<uint32_t> Range(uint32_t first, uint32_t last)
{
    std::set<uint32_t> s;
    for (uint32_t lba = first; lba <= last; ++lba) s.insert(lba);
    return s;
}

// Every sector the flag file marks read holds the disc's content.
void ExpectImageMatchesFlags(Machine& m, const Bytes& image, const Bytes& flags)
{
    uint8_t content[kSimSectorSize];
    for (uint32_t lba = 0; lba < kSectors; ++lba) {
        if (FlagIsMissing(flags, lba)) continue;
        ASSERT_GE(image.size(), (lba + 1) * 2048u) << lba;
        ASSERT_TRUE(m.sim.DiscContent(0, lba, content));
        ASSERT_EQ(0, std::memcmp(image.data() + lba * 2048, content, 2048)) << lba;
    }
}

TEST(TwoMachines, ImportFileFinishesTheRescue)
{
    CFrontEndFixture fe;
    settings.giveUpLevel = 4;  // one minute of failure
    settings.allowCooldown = 0;
    CTempDir dirA, dirB, carried;

    Machine a(Disc({{1000, 1399, 0, false}}));
    ASSERT_EQ(OUTCOME_GIVE_UP, a.Copy(fe.prompt, dirA));
    ASSERT_EQ(Range(1000, 1399), Missing(ReadAll(dirA.File("Disc.flg"))));

    // Machine B gets only the flag file; its first drive reads all but 1100..1199.
    std::filesystem::copy_file(dirA.File("Disc.flg"), dirB.File("Disc.flg"));
    Machine b1(Disc({{1100, 1199, 0, false}}));
    fe.poster.Clear();
    ASSERT_EQ(OUTCOME_GIVE_UP, b1.Copy(fe.prompt, dirB));
    EXPECT_TRUE(fe.poster.Logged("Create Disc.imp"));
    EXPECT_FALSE(std::filesystem::exists(dirB.File("Disc.iso")));
    EXPECT_EQ(300u * 2064, std::filesystem::file_size(dirB.File("Disc.imp")));

    // Cut off in the middle of writing the last record: it is torn and the
    // flag of its sector on B was never cleared.
    const uint32_t torn = WordAt(ReadAll(dirB.File("Disc.imp")), 299 * 2064 + 8);
    std::filesystem::resize_file(dirB.File("Disc.imp"), 300u * 2064 - 1000);
    Bytes flagsB = ReadAll(dirB.File("Disc.flg"));
    flagsB[48 + torn / 8] |= uint8_t(1u << (torn % 8));
    WriteAll(dirB.File("Disc.flg"), flagsB);

    // Continued with another drive that also reads 1100..1149.
    Machine b2(Disc({{1150, 1199, 0, false}}));
    fe.poster.Clear();
    ASSERT_EQ(OUTCOME_GIVE_UP, b2.Copy(fe.prompt, dirB));
    EXPECT_TRUE(fe.poster.Logged("Continue Disc.imp"));
    EXPECT_EQ(Range(1150, 1199), Missing(ReadAll(dirB.File("Disc.flg"))));

    // A merges the file from wherever it was carried to.
    std::filesystem::copy_file(dirB.File("Disc.imp"), carried.File("Disc.imp"));
    fe.poster.Clear();
    a.engine->destFolder = dirA.Path();
    a.engine->ImportMerge(carried.File("Disc.imp").c_str());
    EXPECT_EQ("350 Sectors imported", fe.poster.LogLines().back());
    EXPECT_TRUE(fe.poster.Logged("Passed over 1064 damaged Bytes at offset " + std::to_string(299 * 2064)));

    Bytes flagsA = ReadAll(dirA.File("Disc.flg"));
    EXPECT_EQ(Range(1150, 1199), Missing(flagsA));
    EXPECT_EQ(kSectors - 50, WordAt(flagsA, 8));
    ExpectImageMatchesFlags(a, ReadAll(dirA.File("Disc.iso")), flagsA);

    // Merging the same file again imports the same records and adds nothing.
    a.engine->ImportMerge(carried.File("Disc.imp").c_str());
    EXPECT_EQ("350 Sectors imported", fe.poster.LogLines().back());
    EXPECT_EQ(flagsA, ReadAll(dirA.File("Disc.flg")));
}

}  // namespace
