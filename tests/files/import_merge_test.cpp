#include <random>

#include "app/core/settings.h"
#include "files_fixture.h"

namespace {

constexpr uint32_t kCount = 1000;

class ImportMergeTest : public FilesTest {
protected:
    ImportMergeTest() { engine.destFolder = dir.Path(); }

    std::string Iso() const { return dir.File("Disc.iso"); }
    std::string Flg() const { return dir.File("Disc.flg"); }
    std::string Imp() const { return transfer.File("Disc.imp"); }

    static Bytes Records(std::initializer_list<uint32_t> lbas, uint32_t count = kCount, uint32_t size = 2048)
    {
        Bytes b;
        for (uint32_t lba : lbas) {
            Bytes r = ImportRecordBytes(count, size, lba);
            b.insert(b.end(), r.begin(), r.end());
        }
        return b;
    }

    std::vector<std::string> Merge(const Bytes& import)
    {
        WriteAll(Imp(), import);
        fe.poster.Clear();
        engine.ImportMerge(Imp().c_str());
        return fe.poster.LogLines();
    }

    // The image holds `lba` as the record carried it.
    bool ImageHolds(uint32_t lba)
    {
        Bytes image = ReadAll(Iso());
        if (image.size() < (lba + 1) * 2048) return false;
        return Bytes(image.begin() + lba * 2048, image.begin() + (lba + 1) * 2048) == SectorData(lba);
    }

    void ExpectAllClosed()
    {
        EXPECT_FALSE(engine.imageFile.IsOpen());
        EXPECT_FALSE(engine.flagFile.IsOpen());
        EXPECT_FALSE(engine.importFile.IsOpen());
    }

    CTempDir transfer;  // where the import file was carried to
};

TEST_F(ImportMergeTest, TenMissingSectorsFromAnotherFolder)
{
    WriteAll(Flg(), FlagFileBytes(kCount, 2048, {0, 1}, 2));
    Bytes two = SectorData(0);
    Bytes one = SectorData(1);
    two.insert(two.end(), one.begin(), one.end());
    WriteAll(Iso(), two);
    auto lines = Merge(Records({10, 11, 12, 13, 14, 15, 16, 17, 18, 999}));
    std::vector<std::string> expected;
    for (uint32_t lba : {10, 11, 12, 13, 14, 15, 16, 17, 18, 999}) expected.push_back("Import " + std::to_string(lba));
    expected.push_back("10 Sectors imported");
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(Iso(), engine.imageFile.GetPath());
    Bytes flags = ReadAll(Flg());
    EXPECT_EQ(12u, WordAt(flags, 8));
    uint32_t sum = 0;
    for (size_t off = 0; off < 48; off += 4) sum += WordAt(flags, off);
    EXPECT_EQ(0u, sum);
    for (uint32_t lba : {10u, 18u, 999u}) {
        EXPECT_TRUE(ImageHolds(lba)) << lba;
        EXPECT_FALSE(FlagIsMissing(flags, lba)) << lba;
    }
    EXPECT_TRUE(FlagIsMissing(flags, 19));
    EXPECT_EQ(10u, engine.lastImportCount);
    EXPECT_TRUE(engine.lastImportComplete);
    EXPECT_FALSE(engine.exportMode);
    ExpectAllClosed();
    EXPECT_EQ(Records({10, 11, 12, 13, 14, 15, 16, 17, 18, 999}), ReadAll(Imp()));  // left in place

    // Merging again writes the same sectors and adds nothing.
    lines = Merge(ReadAll(Imp()));
    EXPECT_EQ("10 Sectors imported", lines.back());
    EXPECT_EQ(12u, WordAt(ReadAll(Flg()), 8));
}

// A record of a sector the image already holds is taken (and not counted)
// only with the image's bytes; with other bytes it is another disc's, and the
// merge takes nothing at all.
TEST_F(ImportMergeTest, AlreadyReadSectorIsTakenOnlyWithTheSameBytes)
{
    WriteAll(Flg(), FlagFileBytes(kCount, 2048, {5}, 1));
    WriteAll(Iso(), Bytes(6 * 2048, 0xAA));
    const Bytes flags = ReadAll(Flg()), image = ReadAll(Iso());
    settings.debugLevel = 1;  // "Import" lines are Detail
    EXPECT_EQ((std::vector<std::string>{"Cannot Import! - Another disc: sector 5 differs from the image set's",
                                        "0 Sectors imported"}),
              Merge(Records({4, 5})));
    EXPECT_EQ(flags, ReadAll(Flg()));
    EXPECT_EQ(image, ReadAll(Iso()));
    EXPECT_FALSE(engine.lastImportComplete);

    Bytes same = image;
    const Bytes sector = SectorData(5);
    std::copy(sector.begin(), sector.end(), same.begin() + 5 * 2048);
    WriteAll(Iso(), same);
    EXPECT_EQ(std::vector<std::string>{"1 Sectors imported"}, Merge(Records({5})));
    EXPECT_TRUE(ImageHolds(5));
    EXPECT_EQ(1u, WordAt(ReadAll(Flg()), 8));
}

TEST_F(ImportMergeTest, EmptyImportFileWritesTheValidHeaderBackUnchanged)
{
    Bytes flags = FlagFileBytes(kCount, 2048, {3}, 1);
    WriteAll(Flg(), flags);
    WriteAll(Iso(), Bytes(4 * 2048, 0x33));
    EXPECT_EQ(std::vector<std::string>{"0 Sectors imported"}, Merge({}));
    EXPECT_EQ(flags, ReadAll(Flg()));
    EXPECT_TRUE(engine.lastImportComplete);
    ExpectAllClosed();
}

TEST_F(ImportMergeTest, TruncatedLastRecordEndsTheMergeEarly)
{
    WriteAll(Flg(), FlagFileBytes(kCount, 2048));
    Bytes imp = Records({1, 2, 3});
    imp.erase(imp.end() - 1000, imp.end());
    EXPECT_EQ("2 Sectors imported", Merge(imp).back());
    EXPECT_FALSE(FlagIsMissing(ReadAll(Flg()), 2));
    EXPECT_TRUE(FlagIsMissing(ReadAll(Flg()), 3));
    EXPECT_FALSE(engine.lastImportComplete);
}

// Given a record torn by a crash (a head and part of its data, or part of a
// head) with the export continued after it, then the records behind it are
// merged, the torn sector stays missing, and the bytes passed over are logged.
TEST_F(ImportMergeTest, TornRecordsCostNothingBehindThem)
{
    for (size_t torn : {size_t(16 + 700), size_t(9)}) {
        WriteAll(Flg(), FlagFileBytes(kCount, 2048));
        std::remove(Iso().c_str());
        Bytes imp = Records({1});
        Bytes piece = Records({2});
        imp.insert(imp.end(), piece.begin(), piece.begin() + long(torn));
        Bytes rest = Records({3, 4});
        imp.insert(imp.end(), rest.begin(), rest.end());
        auto lines = Merge(imp);
        EXPECT_EQ(std::vector<std::string>({"Import 1",
                                            "Passed over " + std::to_string(torn) + " damaged Bytes at offset 2064",
                                            "Import 3", "Import 4", "3 Sectors imported"}),
                  lines);
        Bytes flags = ReadAll(Flg());
        EXPECT_TRUE(FlagIsMissing(flags, 2));
        EXPECT_TRUE(ImageHolds(3) && ImageHolds(4));
        Bytes image = ReadAll(Iso());
        EXPECT_EQ(Bytes(2048, 0), Bytes(image.begin() + 2 * 2048, image.begin() + 3 * 2048));
        EXPECT_FALSE(engine.lastImportComplete);
    }
}

TEST_F(ImportMergeTest, ForeignGeometryAndLbasBeyondTheCountAreNeverWritten)
{
    Bytes flags = FlagFileBytes(kCount, 2048);
    WriteAll(Flg(), flags);
    auto lines = Merge(Records({1, 2}, kCount + 1));
    EXPECT_EQ((std::vector<std::string>{"Cannot Import! - Disc.imp holds records of another disc (1001 Sectors of 2048 Bytes)",
                                        "0 Sectors imported"}),
              lines);
    EXPECT_FALSE(engine.imageFile.Exists());
    EXPECT_EQ(flags, ReadAll(Flg()));

    lines = Merge(Records({kCount, 7, kCount + 5}));
    EXPECT_EQ((std::vector<std::string>{"Import 7", "2 Records beyond the last Sector skipped", "1 Sectors imported"}),
              lines);
    EXPECT_EQ(8u * 2048, ReadAll(Iso()).size());
    EXPECT_EQ(1u, WordAt(ReadAll(Flg()), 8));
    EXPECT_FALSE(engine.lastImportComplete);
}

// Given a flag file the merge cannot trust, then it refuses with a clear line,
// writes nothing and leaves the header as it was.
TEST_F(ImportMergeTest, UntrustedFlagFilesAreRefusedUntouched)
{
    Bytes badSum = FlagFileBytes(kCount, 2048);
    badSum[8] ^= 1;
    Bytes bigSectors = FlagFileBytes(kCount, 8192);
    Bytes shortFile(30, 0);
    struct Case {
        Bytes flags;
        const char* line;
    };
    for (const Case& c : {Case{badSum, "Cannot Import! - Failed Header Check *.flg"},
                          Case{bigSectors, "Cannot Import! - SectorSize 8192 not supported"},
                          Case{shortFile, "Error FRead.FLG"}}) {
        WriteAll(Flg(), c.flags);
        std::remove(Iso().c_str());
        EXPECT_EQ((std::vector<std::string>{c.line, "0 Sectors imported"}), Merge(Records({1}, kCount, 8192)));
        EXPECT_EQ(c.flags, ReadAll(Flg()));
        EXPECT_EQ(0u, ReadAll(Iso()).size());
        EXPECT_FALSE(engine.lastImportComplete);
        ExpectAllClosed();
    }
}

TEST_F(ImportMergeTest, MissingFlagFileOrImportFileCreatesNothing)
{
    auto lines = Merge(Records({1}));
    EXPECT_EQ((std::vector<std::string>{"Cannot Import! - Missing *.FLG file:", Flg()}), lines);
    EXPECT_FALSE(engine.imageFile.Exists());

    WriteAll(dir.File("Other.flg"), FlagFileBytes(kCount, 2048));
    fe.poster.Clear();
    engine.ImportMerge(transfer.File("Other.imp").c_str());
    EXPECT_EQ("0 Sectors imported", fe.poster.LogLines().back());
    EXPECT_FALSE(engine.imageFile.Exists());
    EXPECT_FALSE(engine.importFile.Exists());
    EXPECT_FALSE(engine.lastImportComplete);
}

// Given a flag file that marks sectors read but no image beside it (the second
// machine's folder), then the merge creates no image that would hold zeros
// where the flags claim data; with nothing marked read it may create one.
TEST_F(ImportMergeTest, NoNewImageBesideFlagsThatClaimSectors)
{
    WriteAll(Flg(), FlagFileBytes(kCount, 2048, {kCount - 1}, 1));
    Bytes flags = ReadAll(Flg());
    auto lines = Merge(Records({4}));
    EXPECT_EQ((std::vector<std::string>{"Cannot Import! - Missing *.ISO file:", Iso()}), lines);
    EXPECT_FALSE(engine.imageFile.Exists());
    EXPECT_EQ(flags, ReadAll(Flg()));
    EXPECT_FALSE(engine.lastImportComplete);

    WriteAll(Flg(), FlagFileBytes(kCount, 2048));
    EXPECT_EQ("1 Sectors imported", Merge(Records({4})).back());
    EXPECT_TRUE(ImageHolds(4));
}

// Given a copy that runs or is requested, then the merge touches nothing.
TEST_F(ImportMergeTest, RefusedWhileACopyRunsOrIsRequested)
{
    Bytes flags = FlagFileBytes(kCount, 2048);
    WriteAll(Flg(), flags);
    const std::vector<std::string> refused{"Cannot Import! - A copy is running; pause it first"};
    engine.runRequested = true;
    EXPECT_EQ(refused, Merge(Records({1})));
    engine.runRequested = false;
    ASSERT_TRUE(engine.TakeImageSet(CRecoveryEngine::kSetCopy));
    EXPECT_EQ(refused, Merge(Records({1})));
    EXPECT_FALSE(engine.imageFile.Exists());
    EXPECT_EQ(flags, ReadAll(Flg()));
    engine.ReleaseImageSet();
    EXPECT_EQ("1 Sectors imported", Merge(Records({1})).back());
}

TEST_F(ImportMergeTest, ImageLockedByAnotherWriter)
{
    Bytes flags = FlagFileBytes(kCount, 2048);
    WriteAll(Flg(), flags);
    CRawFile holder;
    holder.SetPath(Iso().c_str());
    ASSERT_TRUE(holder.Open());
    EXPECT_EQ((std::vector<std::string>{"Error FOpen.ISO", "Cannot Import! - Cannot open the image set",
                                        "0 Sectors imported"}),
              Merge(Records({1})));
    holder.Close();
    EXPECT_EQ(flags, ReadAll(Flg()));
    EXPECT_EQ(0u, ReadAll(Iso()).size());
    EXPECT_FALSE(engine.lastImportComplete);
    ExpectAllClosed();
}

TEST_F(ImportMergeTest, RandomBytesMergeNothing)
{
    Bytes flags = FlagFileBytes(kCount, 2048);
    WriteAll(Flg(), flags);
    std::mt19937 random(42);
    Bytes noise(50000);
    for (auto& b : noise) b = uint8_t(random());
    auto lines = Merge(noise);
    EXPECT_EQ((std::vector<std::string>{"Passed over 50000 damaged Bytes at offset 0", "0 Sectors imported"}), lines);
    EXPECT_EQ(0u, ReadAll(Iso()).size());
    Bytes after = ReadAll(Flg());
    EXPECT_EQ(Bytes(flags.begin() + 48, flags.end()), Bytes(after.begin() + 48, after.end()));
    EXPECT_FALSE(engine.lastImportComplete);
}

}  // namespace
