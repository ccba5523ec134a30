#include "files_fixture.h"

namespace {

constexpr unsigned kFg = mb::kSetForeground;

class FlagFileTest : public FilesTest {
protected:
    std::string Flg() const { return dir.File("Disc.flg"); }

    // CheckHeader on a flag file holding `bytes`; the file's bytes afterwards.
    bool Check(const Bytes& bytes)
    {
        engine.flagFile.Close();
        WriteAll(Flg(), bytes);
        OpenFlags(Flg());
        return engine.CheckHeader();
    }
};

TEST_F(FlagFileTest, NewFileFor1000SectorsIs184Bytes)
{
    InsertDisc(1000);
    ASSERT_TRUE(Check({}));
    EXPECT_TRUE(engine.headerChecked);
    Bytes b = ReadAll(Flg());
    ASSERT_EQ(184u, b.size());
    EXPECT_EQ(1000u, WordAt(b, 0));
    EXPECT_EQ(2048u, WordAt(b, 4));
    for (size_t off = 8; off < 44; off += 4) EXPECT_EQ(0u, WordAt(b, off));
    EXPECT_EQ(0xFFFFF418u, WordAt(b, 44));
    EXPECT_EQ(Bytes(136, 0xFF), Bytes(b.begin() + 48, b.end()));
    EXPECT_TRUE(fe.prompt.asked.empty());

    // A file shorter than its header is made anew from its start.
    ASSERT_TRUE(Check(Bytes(20, 0x00)));
    EXPECT_EQ(b, ReadAll(Flg()));
}

TEST_F(FlagFileTest, BitPositionsAndMarking)
{
    InsertDisc(1000);
    ASSERT_TRUE(Check({}));
    EXPECT_EQ(1u, engine.AccessFlags(13, 1, false));
    EXPECT_EQ(0u, engine.AccessFlags(13, 1, true));
    EXPECT_EQ(0u, engine.AccessFlags(13, 1, false));
    EXPECT_EQ(0u, engine.AccessFlags(0, 1, true));
    EXPECT_EQ(0u, engine.AccessFlags(8 * 5 + 7, 1, true));
    EXPECT_EQ(0xFFFFu, engine.AccessFlags(16, 16, false));
    EXPECT_EQ(0u, engine.AccessFlags(16, 16, true));
    EXPECT_EQ(0u, engine.AccessFlags(16, 16, false));
    // Sectors 12..15 with 13 read: bits 0, 2, 3 missing.
    EXPECT_EQ(0xDu, engine.AccessFlags(12, 4, false));

    Bytes b = ReadAll(Flg());
    EXPECT_EQ(0xFEu, b[48]);
    EXPECT_EQ(0xDFu, b[49]);
    EXPECT_EQ(0x00u, b[50]);
    EXPECT_EQ(0x00u, b[51]);
    EXPECT_EQ(0x7Fu, b[53]);
    EXPECT_EQ(0xFFu, b[52]);
    EXPECT_EQ(184u, b.size());
}

// Given a bitmap shorter than its sectors need, then the part the file lacks
// reads as missing (and is written so), bytes it holds keep their flags.
TEST_F(FlagFileTest, ShortBitmapWindowsReadAsMissing)
{
    InsertDisc(1000);
    Bytes header = FlagFileBytes(1000, 2048);
    header.resize(48);
    ASSERT_TRUE(Check(header));  // header only: no bitmap at all
    EXPECT_EQ(0xFFFFu, engine.AccessFlags(0, 16, false));
    Bytes filled = ReadAll(Flg());
    EXPECT_EQ(Bytes(4, 0xFF), Bytes(filled.begin() + 48, filled.end()));

    Bytes partial = header;
    partial.push_back(0x00);  // sectors 0..7 read
    partial.push_back(0x00);  // sectors 8..15 read
    ASSERT_TRUE(Check(partial));
    EXPECT_EQ(0xFF00u, engine.AccessFlags(8, 16, false));
    Bytes b = ReadAll(Flg());
    ASSERT_EQ(48u + 5, b.size());
    EXPECT_EQ((Bytes{0x00, 0x00, 0xFF, 0xFF, 0xFF}), Bytes(b.begin() + 48, b.end()));
}

// Given a window that starts far beyond the end of a short file, then the gap
// is filled as missing, so no sector in it ever reads as stored.
TEST_F(FlagFileTest, WindowBeyondTheEndFillsTheGapAsMissing)
{
    InsertDisc(100000);
    Bytes header = FlagFileBytes(100000, 2048);
    header.resize(48);
    ASSERT_TRUE(Check(header));
    EXPECT_EQ(0u, engine.AccessFlags(80000, 1, true));
    Bytes b = ReadAll(Flg());
    ASSERT_EQ(48u + 10000 + 4, b.size());
    EXPECT_EQ(Bytes(10000, 0xFF), Bytes(b.begin() + 48, b.begin() + 48 + 10000));
    EXPECT_EQ((Bytes{0xFE, 0xFF, 0xFF, 0xFF}), Bytes(b.begin() + 10048, b.end()));
    EXPECT_EQ(0xFFFFu, engine.AccessFlags(40000, 16, false));
}

TEST_F(FlagFileTest, WriteHeaderRenewsTheChecksum)
{
    InsertDisc(1000);
    ASSERT_TRUE(Check({}));
    engine.header.sectorsRead = 17;
    engine.header.readErrors = 3;
    ASSERT_TRUE(engine.WriteHeader());
    Bytes b = ReadAll(Flg());
    uint32_t sum = 0;
    for (size_t off = 0; off < 48; off += 4) sum += WordAt(b, off);
    EXPECT_EQ(0u, sum);
    EXPECT_EQ(17u, WordAt(b, 8));
    engine.flagFile.Close();
    EXPECT_FALSE(engine.WriteHeader());
    EXPECT_FALSE(engine.CheckHeader());  // not open: no question, false
    EXPECT_TRUE(fe.prompt.asked.empty());
}

TEST_F(FlagFileTest, NewHeaderWithOtherBlockLengthAsksEachWay)
{
    InsertDisc(1000, 2352);
    const AskedQuestion q{"Unexpected Sectorsize!", "Force 2048 Byte Sectors ? (Drive reports 2352)  ",
                          mb::kYesNoCancel | mb::kIconQuestion | kFg};
    struct Case {
        int answer;
        bool result;
        const char* line;
        uint32_t size;  // 0: nothing written
    };
    for (Case c : {Case{kIdYes, true, "Force SectorSize 2048", 2048}, Case{kIdNo, true, "Keep SectorSize 2352", 2352},
                   Case{kIdCancel, false, "Cancel on ForceSectorSize", 0}, Case{kIdFailed, false, nullptr, 0}}) {
        fe.prompt.asked.clear();
        fe.poster.Clear();
        fe.prompt.Answer(q.caption, c.answer);
        EXPECT_EQ(c.result, Check({}));
        EXPECT_EQ(std::vector<AskedQuestion>{q}, fe.prompt.asked);
        EXPECT_EQ(c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{}, fe.poster.LogLines());
        Bytes b = ReadAll(Flg());
        if (c.size == 0) {
            EXPECT_TRUE(b.empty());
            EXPECT_FALSE(engine.headerChecked);
        } else {
            EXPECT_EQ(c.size, WordAt(b, 4));
        }
    }
}

TEST_F(FlagFileTest, BadChecksumAsksAndNoClosesTheFileUntouched)
{
    InsertDisc(1000);
    Bytes bad = FlagFileBytes(1000, 2048, {1, 2}, 2);
    bad[44] ^= 1;
    const AskedQuestion q{"Failed Header Check!", "Ignore Checksum Error ?  ", mb::kYesNo | mb::kIconWarning | kFg};

    fe.prompt.Answer(q.caption, kIdNo);
    EXPECT_FALSE(Check(bad));
    EXPECT_FALSE(engine.flagFile.IsOpen());
    EXPECT_FALSE(engine.headerChecked);
    EXPECT_EQ(bad, ReadAll(Flg()));

    fe.prompt.Answer(q.caption, kIdYes);
    EXPECT_TRUE(Check(bad));
    EXPECT_TRUE(engine.flagFile.IsOpen());
    EXPECT_EQ((std::vector<AskedQuestion>{q, q}), fe.prompt.asked);
    EXPECT_EQ((std::vector<std::string>{"Fail Header Check *.flg", "Fail Header Check *.flg"}), fe.poster.LogLines());
    ASSERT_TRUE(engine.WriteHeader());  // the copy's end: valid again
    uint32_t sum = 0;
    for (size_t off = 0; off < 48; off += 4) sum += WordAt(ReadAll(Flg()), off);
    EXPECT_EQ(0u, sum);
}

TEST_F(FlagFileTest, SectorCountMismatchRefusesWithTheFileOpenAndUntouched)
{
    InsertDisc(332999);
    Bytes flags = FlagFileBytes(333000, 2048);
    EXPECT_FALSE(Check(flags));
    EXPECT_TRUE(engine.flagFile.IsOpen());
    EXPECT_FALSE(engine.headerChecked);
    EXPECT_EQ((std::vector<AskedQuestion>{{"Sectornumber Mismatch !",
                                           "Expected sectors:\t333000\nBut drive reports:\t332999\nVerify the given "
                                           "filename before trying \"Force Size\" ",
                                           mb::kOk | mb::kIconError | kFg}}),
              fe.prompt.asked);
    EXPECT_EQ(std::vector<std::string>{"Sectornumber Mismatch"}, fe.poster.LogLines());
    EXPECT_EQ(flags, ReadAll(Flg()));
}

TEST_F(FlagFileTest, ForcedVolumeSizeAsksOkOrCancel)
{
    InsertDisc(332999);
    engine.drive.SetCopySize(333000);
    Bytes flags = FlagFileBytes(333000, 2048);
    const AskedQuestion q{"Volumesize Modified !",
                          "Sectors set to:\t333000\nBut drive reports:\t332999\nDo You really want to continue ?",
                          mb::kOkCancel | mb::kIconWarning | kFg};
    fe.prompt.Answer(q.caption, kIdOk);
    EXPECT_TRUE(Check(flags));
    fe.prompt.Answer(q.caption, kIdCancel);
    EXPECT_FALSE(Check(flags));
    EXPECT_FALSE(Check(flags));  // a box that could not be shown is no OK
    EXPECT_EQ((std::vector<AskedQuestion>{q, q, q}), fe.prompt.asked);
    EXPECT_EQ((std::vector<std::string>{"Canceled Modified Sectornumber", "Canceled Modified Sectornumber"}),
              fe.poster.LogLines());
    EXPECT_EQ(flags, ReadAll(Flg()));
}

TEST_F(FlagFileTest, ExistingSectorSizeWinsOnOk)
{
    InsertDisc(1000, 2352);
    Bytes flags = FlagFileBytes(1000, 2048);
    const AskedQuestion q{"Unexpected Sectorsize!", "Forcing 2048 Byte Sectors !  ", mb::kOkCancel | mb::kIconWarning | kFg};
    fe.prompt.Answer(q.caption, kIdOk);
    EXPECT_TRUE(Check(flags));
    EXPECT_EQ(2048u, engine.header.sectorSize);
    fe.prompt.Answer(q.caption, kIdCancel);
    EXPECT_FALSE(Check(flags));
    EXPECT_EQ((std::vector<AskedQuestion>{q, q}), fe.prompt.asked);
    EXPECT_EQ(std::vector<std::string>{"Canceled on ForceSectorSize"}, fe.poster.LogLines());
    EXPECT_EQ(flags, ReadAll(Flg()));
}

}  // namespace
