#include <cstring>

#include "files_fixture.h"
#include "channel/channel.h"

namespace {

class ImageSetTest : public FilesTest {};

TEST_F(ImageSetTest, ChosenNameNamesTheWholeSet)
{
    std::strcpy(engine.drive.volumeLabel, "HOLIDAY");
    engine.destFolder = dir.Path();
    fe.prompt.ChooseFileAnswer(dir.File("Disc.ISO.bak"));
    ASSERT_TRUE(engine.PrepareImageSet());
    ASSERT_EQ(1u, fe.prompt.fileChoices.size());
    const FileChoice& c = fe.prompt.fileChoices[0];
    EXPECT_EQ("HOLIDAY.iso", c.defaultName);
    EXPECT_EQ("Image Files (*.iso)|*.iso||", c.filter);
    EXPECT_EQ(dir.Path(), c.initialDir);
    EXPECT_FALSE(c.mustExist);
    EXPECT_EQ(dir.File("Disc.ISO.iso"), engine.imageFile.GetPath());
    EXPECT_EQ(dir.File("Disc.ISO.flg"), engine.flagFile.GetPath());
    EXPECT_EQ(dir.File("Disc.ISO.imp"), engine.importFile.GetPath());
    EXPECT_EQ(std::vector<std::string>{""}, fe.poster.StatusTexts(kSlotDestFolder));

    CTempDir other;
    fe.prompt.ChooseFileAnswer(other.File("Holiday"));
    ASSERT_TRUE(engine.PrepareImageSet());
    EXPECT_EQ(other.File("Holiday.iso"), engine.imageFile.GetPath());
    EXPECT_EQ(other.Path(), engine.destFolder.Get());

    fe.prompt.ChooseFileAnswer("");  // cancel: nothing changes
    EXPECT_FALSE(engine.PrepareImageSet());
    EXPECT_EQ(other.File("Holiday.iso"), engine.imageFile.GetPath());
    EXPECT_EQ(other.Path(), engine.destFolder.Get());
}

// Given a hostile or odd volume label, then the default name stays one plain
// file name inside the destination folder.
TEST_F(ImageSetTest, DefaultNameFromLabelIsAPlainFileName)
{
    EXPECT_EQ(".._.._x", SafeFileName("../../x", 250));
    EXPECT_EQ("a_b_c_d_e_f_g_h_i_j", SafeFileName("a\\b/c:d*e?f\"g<h>i|j", 250));
    EXPECT_EQ("tab_bell_", SafeFileName("tab\tbell\a", 250));
    EXPECT_EQ("_", SafeFileName(".", 250));
    EXPECT_EQ("__", SafeFileName("..", 250));
    EXPECT_EQ("UNNAMED_VOLUME", SafeFileName("", 250));
    EXPECT_EQ(std::string(250, 'L'), SafeFileName(std::string(300, 'L').c_str(), 250));

    std::strcpy(engine.drive.volumeLabel, "..");
    fe.prompt.ChooseFileAnswer("");
    engine.PrepareImageSet();
    EXPECT_EQ("__.iso", fe.prompt.fileChoices.at(0).defaultName);
}

TEST_F(ImageSetTest, WritesAt64BitOffsets)
{
    engine.imageFile.SetPath(dir.File("big.iso").c_str());
    ASSERT_TRUE(engine.imageFile.Open());
    engine.copySectorSize = 2048;
    Bytes data = SectorData(7);
    ASSERT_TRUE(engine.WriteSectors(2097152, 1, data.data()));
    EXPECT_EQ(4294967296LL + 2048, engine.imageFile.Size());
    Bytes back(2048);
    ASSERT_EQ(4294967296LL, engine.imageFile.Seek(4294967296LL));
    ASSERT_EQ(2048, engine.imageFile.Read(back.data(), 2048));
    EXPECT_EQ(data, back);
}

// Given runs that reach beyond the 64 KiB read buffer, or sectors of no bytes,
// then nothing is stored and the caller hears of it.
TEST_F(ImageSetTest, RefusesRunsBeyondTheReadBuffer)
{
    engine.imageFile.SetPath(dir.File("a.iso").c_str());
    ASSERT_TRUE(engine.imageFile.Open());
    engine.copySectorSize = 4096;
    EXPECT_TRUE(engine.WriteSectors(0, 16, engine.drive.readBuffer));
    EXPECT_FALSE(engine.WriteSectors(0, 17, engine.drive.readBuffer));
    engine.copySectorSize = 0;
    EXPECT_FALSE(engine.WriteSectors(0, 1, engine.drive.readBuffer));
    engine.exportMode = true;
    engine.copySectorSize = 8192;
    EXPECT_FALSE(engine.WriteSectors(0, 16, engine.drive.readBuffer));
    EXPECT_EQ(65536, engine.imageFile.Size());
}

TEST_F(ImageSetTest, ExportAppendsRecordsWhoseHeadsSumToZero)
{
    engine.importFile.SetPath(dir.File("Disc.imp").c_str());
    ASSERT_TRUE(engine.importFile.Open());
    engine.exportMode = true;
    engine.copySectorSize = 2048;
    engine.sectorsToCopy = 333000;
    for (uint32_t i = 0; i < 16; ++i) {
        Bytes d = SectorData(32 + i);
        std::memcpy(engine.drive.readBuffer + i * 2048, d.data(), 2048);
    }
    ASSERT_TRUE(engine.WriteSectors(32, 16, engine.drive.readBuffer));
    ASSERT_TRUE(engine.WriteSectors(99, 1, engine.drive.readBuffer));  // appended, not overwritten
    EXPECT_TRUE(engine.WriteSectors(5, 0, engine.drive.readBuffer));
    Bytes b = ReadAll(dir.File("Disc.imp"));
    ASSERT_EQ(17u * 2064, b.size());
    for (uint32_t i = 0; i < 16; ++i) {
        Bytes expected = ImportRecordBytes(333000, 2048, 32 + i);
        EXPECT_EQ(expected, Bytes(b.begin() + i * 2064, b.begin() + (i + 1) * 2064)) << "record " << i;
    }
    EXPECT_EQ(99u, WordAt(b, 16 * 2064 + 8));
    EXPECT_FALSE(engine.imageFile.IsOpen());
}

// Given a destination that cannot be queried, then the free space is 0, so the
// copy asks about low space instead of going on blindly.
TEST_F(ImageSetTest, FreeSpaceOfAMissingFolderIsZero)
{
    engine.destFolder = dir.File("gone" + kS);
    EXPECT_EQ(0u, engine.GetFreeMB());
}

TEST(NtfsRoot, RootsOfDrivesSharesAndTheCurrentFolder)
{
    auto root = [](const std::string& path) {
        char r[kMaxPath + 1];
        CRecoveryEngine::NtfsRoot(path.c_str(), r);
        return std::string(r);
    };
    const std::string s2 = kS + kS;
    EXPECT_EQ(s2 + "srv" + kS + "share" + kS, root(s2 + "srv" + kS + "share" + kS + "dir" + kS));
    EXPECT_EQ(s2 + "srv" + kS + "share", root(s2 + "srv" + kS + "share"));
    EXPECT_EQ(s2 + "srv", root(s2 + "srv"));
    EXPECT_EQ("E:" + kS, root("E:" + kS + "x" + kS + "y" + kS));
    EXPECT_EQ("", root(""));
    EXPECT_EQ("", root("." + kS));
    EXPECT_EQ(260u, root(kS + std::string(300, 'a')).size());
    EXPECT_FALSE(CRecoveryEngine::IsNtfs(("Q:" + kS + "gleanor-none" + kS + "x" + kS).c_str()));
}

}  // namespace
