#include <atomic>
#include <cstring>
#include <thread>

#include "files_fixture.h"
#include "channel/channel.h"

namespace {

class SizeSourceTest : public FilesTest {
protected:
    SizeSourceTest() { InsertDisc(333215); }

    uint32_t FromFlagFile(const std::string& path)
    {
        fe.prompt.ChooseFileAnswer(path);
        return engine.SizeBySource(1, detail);
    }

    char detail[51] = "stale";
};

TEST_F(SizeSourceTest, DriveReportedAndCancelledChoiceGiveTheDrivesSize)
{
    EXPECT_EQ(333215u, engine.SizeBySource(0, detail));
    EXPECT_STREQ("", detail);
    std::strcpy(engine.drive.volumeLabel, "DISC");
    engine.destFolder = dir.Path();
    EXPECT_EQ(333215u, FromFlagFile(""));
    EXPECT_STREQ("", detail);
    const FileChoice& c = fe.prompt.fileChoices.at(0);
    EXPECT_EQ("DISC.flg", c.defaultName);
    EXPECT_EQ("Flag Files (*.flg)|*.flg||", c.filter);
    EXPECT_EQ(dir.Path(), c.initialDir);
    EXPECT_TRUE(c.mustExist);
}

TEST_F(SizeSourceTest, ExistingFlagFileGivesItsCountAndMovesTheDestination)
{
    CTempDir other;
    std::string name = std::string(60, 'n') + ".flg";
    WriteAll(other.File(name), FlagFileBytes(333000, 2048));
    EXPECT_EQ(333000u, FromFlagFile(other.File(name)));
    EXPECT_EQ(std::string(50, 'n'), detail);
    EXPECT_EQ(other.Path(), engine.destFolder.Get());
    EXPECT_EQ(std::vector<std::string>{""}, fe.poster.StatusTexts(kSlotDestFolder));
    EXPECT_FALSE(engine.flagFile.IsOpen());
    EXPECT_TRUE(fe.prompt.asked.empty());
}

// Given a flag file that cannot be used, then the answer is 0 and the file is
// closed on every path, so the next copy can open it.
TEST_F(SizeSourceTest, UnusableFlagFilesGiveZeroAndAreClosed)
{
    WriteAll(dir.File("short.flg"), Bytes(47, 0));
    EXPECT_EQ(0u, FromFlagFile(dir.File("short.flg")));
    EXPECT_FALSE(engine.flagFile.IsOpen());

    EXPECT_EQ(0u, FromFlagFile(dir.File("none.flg")));
    EXPECT_FALSE(engine.flagFile.Exists());  // never created

    Bytes bad = FlagFileBytes(333000, 2048);
    bad[0] ^= 1;
    WriteAll(dir.File("bad.flg"), bad);
    fe.prompt.Answer("Failed Header Check!", kIdNo);
    EXPECT_EQ(0u, FromFlagFile(dir.File("bad.flg")));
    EXPECT_STREQ("", detail);
    EXPECT_FALSE(engine.flagFile.IsOpen());
    fe.prompt.Answer("Failed Header Check!", kIdYes);
    EXPECT_EQ(333001u, FromFlagFile(dir.File("bad.flg")));
    EXPECT_STREQ("bad.flg", detail);
    EXPECT_FALSE(engine.flagFile.IsOpen());
    const AskedQuestion q{"Failed Header Check!", "Ignore Checksum Error ?  ",
                          mb::kYesNo | mb::kIconWarning | mb::kSetForeground};
    EXPECT_EQ((std::vector<AskedQuestion>{q, q}), fe.prompt.asked);
    EXPECT_EQ((std::vector<std::string>{"Fail Header Check *.flg", "Fail Header Check *.flg"}), fe.poster.LogLines());
    EXPECT_EQ(bad, ReadAll(dir.File("bad.flg")));
}

// Given a copy holding the image set, the flag-file source opens no dialog
// and no file (the file objects are the copy's) and gives 0; free again, it reads.
TEST_F(SizeSourceTest, FlagFileSourceIsRefusedWhileACopyHoldsTheImageSet)
{
    WriteAll(dir.File("set.flg"), FlagFileBytes(333000, 2048));
    ASSERT_TRUE(engine.TakeImageSet(CRecoveryEngine::kSetCopy));
    EXPECT_EQ(0u, FromFlagFile(dir.File("set.flg")));
    EXPECT_TRUE(fe.prompt.fileChoices.empty());
    EXPECT_EQ((std::vector<std::string>{"Cannot read a flag file - A copy is running; pause it first"}),
              fe.poster.LogLines());
    engine.ReleaseImageSet();
    EXPECT_EQ(333000u, FromFlagFile(dir.File("set.flg")));
}

TEST_F(SizeSourceTest, EstimateWaitsForTheWorker)
{
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            if (engine.probeSizeRequested.load()) {
                engine.drive.estimatedLastLba.store(298000);
                engine.probeSizeRequested.store(false, std::memory_order_release);
            }
            std::this_thread::yield();
        }
    });
    EXPECT_EQ(298000u, engine.SizeBySource(2, detail));
    EXPECT_STREQ("", detail);
    EXPECT_FALSE(engine.probeSizeRequested.load());
    stop = true;
    worker.join();
}

}  // namespace
