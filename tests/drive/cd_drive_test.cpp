// The drive object's commands and sequences, as the manager sees them.
#include <cstring>

#include "drive/drive_fixture.h"

namespace {

const std::string kAddr = "0:1:3";

class OneDriveTest : public DriveTest {
protected:
    OneDriveTest()
    {
        device = &manager.Device(0, 1, 3);
        InitAndForget();
    }
    std::string Cmd(const char* command) const { return At(kAddr, command); }
    FakeDevice* device;
};

TEST_F(OneDriveTest, EverySingleCommandSendsItsCdbDirectionAndBufferLength)
{
    EXPECT_TRUE(drive.DrvReady());
    EXPECT_TRUE(drive.DrvInquiry(0));
    EXPECT_EQ(19999u, drive.DrvCap());
    EXPECT_TRUE(drive.DrvBlkRead(0x01234567, 16));
    EXPECT_TRUE(drive.DrvStop());
    EXPECT_TRUE(drive.DrvStart());
    EXPECT_TRUE(drive.DrvOpen());
    EXPECT_TRUE(drive.DrvClose());
    EXPECT_EQ((std::vector<std::string>{Cmd(kTur), Cmd(kInquiry), Cmd(kCapacity),
                                        Cmd("48 65536 28 00 01 23 45 67 00 00 10 00"), Cmd(kStop), Cmd(kStart),
                                        Cmd(kEject), Cmd(kLoad)}),
              manager.log);
}

TEST_F(OneDriveTest, ReadCapacityIsBigEndianAndFailureKeepsTheSizes)
{
    const uint8_t reply[8] = {0x00, 0x04, 0x5F, 0xFF, 0x00, 0x00, 0x08, 0x00};
    std::memcpy(device->capacity, reply, sizeof reply);
    EXPECT_EQ(286719u, drive.DrvCap());
    EXPECT_EQ(286719u, drive.reportedLastLba.load());
    EXPECT_EQ(286719u, drive.CopySize());
    EXPECT_EQ(2048u, drive.BlockLength());

    const uint8_t other[8] = {0x81, 0x02, 0x03, 0x04, 0x00, 0x00, 0x09, 0x30};
    std::memcpy(device->capacity, other, sizeof other);
    EXPECT_EQ(0x81020304u, drive.DrvCap());  // top bit set: no sign trouble
    EXPECT_EQ(0x930u, drive.BlockLength());

    device->ready = false;
    EXPECT_EQ(0u, drive.DrvCap());
    EXPECT_EQ(0x81020304u, drive.reportedLastLba.load());
    EXPECT_EQ(0x81020304u, drive.CopySize());
    EXPECT_EQ(0x930u, drive.BlockLength());
    EXPECT_EQ((std::vector<std::string>{"blk 45fff, siz 800", "blk 81020304, siz 930", "SCSI DrvCap 4"}), LogLines());
}

TEST_F(OneDriveTest, BlockReadLogsOkOrRdErrAndFillsTheBufferFromItsStart)
{
    std::memset(drive.readBuffer, 0, sizeof drive.readBuffer);
    EXPECT_TRUE(drive.DrvBlkRead(0x01234567, 16));
    EXPECT_EQ(0xA5, drive.readBuffer[0]);
    device->unreadable.insert(0x01234570);
    manager.failStatus = 0x04;
    EXPECT_FALSE(drive.DrvBlkRead(0x01234567, 16));
    EXPECT_TRUE(drive.DrvBlkRead(0xFFFFFFFF, 1));
    EXPECT_EQ((std::vector<std::string>{"lba 1234567, len 10 OK", "SCSI DrvBlkRead 4", "lba 1234567, len 10 RdErr",
                                        "lba ffffffff, len 1 OK"}),
              LogLines());
    EXPECT_EQ(Cmd("48 65536 28 00 FF FF FF FF 00 00 01 00"), manager.log.back());
}

TEST_F(OneDriveTest, InquiryKeepsTrailingSpacesAndStopsAtNul)
{
    device->vendor = "ABCDE   ";
    device->product = "0123456789ABCDEF";
    ASSERT_TRUE(drive.DrvInquiry(0));
    EXPECT_STREQ("ABCDE   0123456789ABCDEF", drive.DriveName(0));
    EXPECT_EQ(24u, std::strlen(drive.DriveName(0)));
    EXPECT_STREQ("[0:1:3] ", drive.Entry(0).addressText);

    device->vendor = "HL";  // the rest of the field is NUL
    device->product = "DVD";
    ASSERT_TRUE(drive.DrvInquiry(0));
    EXPECT_STREQ("HLDVD", drive.DriveName(0));
    EXPECT_EQ((std::vector<std::string>{"[0:1:3]  ABCDE   0123456789ABCDEF", "[0:1:3]  HLDVD"}), LogLines());
}

TEST_F(OneDriveTest, ShortInquiryReplyLeavesNoStaleBytes)
{
    device->vendor = "LONGVEND";
    ASSERT_TRUE(drive.DrvInquiry(0));
    device->vendor = "ABCD";
    device->inquiryBytes = 12;  // vendor's first four bytes only
    ASSERT_TRUE(drive.DrvInquiry(0));
    EXPECT_STREQ("ABCD", drive.DriveName(0));
}

TEST_F(DriveTest, FailedInquiryEmptiesTheEntryAndLeavesItSelected)
{
    manager.Device(0, 0, 0);
    FakeDevice& second = manager.Device(0, 1, 0);
    InitAndForget();
    ASSERT_EQ(2, drive.DriveCount());
    ASSERT_TRUE(drive.SelectDrive(0));
    second.answersInquiry = false;
    EXPECT_FALSE(drive.DrvInquiry(1));
    EXPECT_STREQ("", drive.DriveName(1));
    EXPECT_STREQ("", drive.Entry(1).addressText);
    EXPECT_EQ(1, drive.SelectedIndex());
    EXPECT_EQ(At("0:1:0", kInquiry), manager.log.back());
    EXPECT_EQ("SCSI DrvInquiry 4", LogLines().back());
    EXPECT_FALSE(drive.DrvInquiry(kMaxDrives));  // beyond the table: nothing sent
    EXPECT_EQ(At("0:1:0", kInquiry), manager.log.back());
}

TEST_F(DriveTest, SelectDriveOutOfRangeSelectsTheFirstAndSendsNothing)
{
    manager.Device(0, 0, 0);
    manager.Device(0, 1, 0);
    InitAndForget();
    ASSERT_TRUE(drive.SelectDrive(1));
    manager.log.clear();
    EXPECT_FALSE(drive.SelectDrive(-1));
    EXPECT_EQ(0, drive.SelectedIndex());
    ASSERT_TRUE(drive.SelectDrive(1));
    manager.log.clear();
    EXPECT_FALSE(drive.SelectDrive(drive.DriveCount()));
    EXPECT_EQ(0, drive.SelectedIndex());
    EXPECT_EQ(std::vector<std::string>{}, manager.log);
}

TEST_F(OneDriveTest, SelectDriveSetsFifteenSecondsAndReadsCapacityOnlyWhenReady)
{
    EXPECT_TRUE(drive.SelectDrive(0));
    EXPECT_EQ((std::vector<std::string>{"timeout 0:1:3 10 30", Cmd(kTur), Cmd(kTur), Cmd(kCapacity)}), manager.log);

    manager.log.clear();
    device->ready = false;
    device->capacity[3] = 0x20;  // would change the size if it were read
    EXPECT_TRUE(drive.SelectDrive(0));
    EXPECT_EQ((std::vector<std::string>{"timeout 0:1:3 10 30", Cmd(kTur), Cmd(kTur)}), manager.log);
    EXPECT_EQ(19999u, drive.CopySize());
}

TEST_F(OneDriveTest, CycleTraySleepsHalfTheTimeTwice)
{
    manager.stampTime = true;
    const uint32_t t = fe.clock.TickCount();
    auto stamped = [&](const char* c, uint32_t dt) { return Cmd(c) + " @" + std::to_string(t + dt); };
    EXPECT_TRUE(drive.CycleTray(1001));
    EXPECT_EQ((std::vector<std::string>{stamped(kStop, 0), stamped(kLoad, 0), stamped(kEject, 0),
                                        stamped(kLoad, 500), stamped(kTur, 1000), stamped(kStart, 1000),
                                        stamped(kTur, 1000)}),
              manager.log);
}

TEST_F(OneDriveTest, CycleTrayOfAFixedTrayOnlyStopsStartsAndTests)
{
    device->trayMoves = false;
    const uint32_t t = fe.clock.TickCount();
    EXPECT_TRUE(drive.CycleTray(1001));
    EXPECT_EQ((std::vector<std::string>{Cmd(kStop), Cmd(kLoad), Cmd(kStart), Cmd(kTur)}), manager.log);
    EXPECT_EQ(t, fe.clock.TickCount());
    EXPECT_EQ((std::vector<std::string>{"SCSI DrvClose 4"}), LogLines());
}

TEST_F(OneDriveTest, PauseDriveSleepsBetweenStopAndStartAndReportsTheSecondTest)
{
    manager.stampTime = true;
    const uint32_t t = fe.clock.TickCount();
    auto stamped = [&](const char* c, uint32_t dt) { return Cmd(c) + " @" + std::to_string(t + dt); };
    EXPECT_TRUE(drive.PauseDrive(3000));
    EXPECT_EQ((std::vector<std::string>{stamped(kStop, 0), stamped(kStart, 3000), stamped(kTur, 3000),
                                        stamped(kTur, 3000)}),
              manager.log);
    device->ready = false;
    EXPECT_FALSE(drive.PauseDrive(0));
}

TEST_F(OneDriveTest, SpinUpReadsSectorBySectorUntilTheFirstFailure)
{
    EXPECT_TRUE(drive.SpinUp(500, 0));
    EXPECT_EQ((std::vector<std::string>{Cmd(kStart), Cmd(kTur), Cmd(kTur)}), manager.log);

    manager.log.clear();
    device->unreadable.insert(101);
    EXPECT_FALSE(drive.SpinUp(100, 3));
    EXPECT_EQ((std::vector<std::string>{Cmd(kStart), Cmd(kTur), Cmd(kTur), Cmd("48 65536 28 00 00 00 00 64 00 00 01 00"),
                                        Cmd("48 65536 28 00 00 00 00 65 00 00 01 00")}),
              manager.log);

    manager.log.clear();
    device->ready = false;
    EXPECT_FALSE(drive.SpinUp(0, 3));
    EXPECT_EQ(0, manager.BlockReads());
}

TEST_F(DriveTest, WithoutDrivesNoCommandLeavesTheObject)
{
    manager.support = 0x0100;
    manager.Device(0, 0, 0).type = 0;  // a disk at 0:0:0 must never be stopped
    InitAndForget();
    EXPECT_FALSE(drive.DrvReady());
    EXPECT_FALSE(drive.DrvStop());
    EXPECT_FALSE(drive.DrvOpen());
    EXPECT_EQ(0u, drive.DrvCap());
    EXPECT_EQ(0, manager.execCount);
    EXPECT_EQ("SCSI DrvReady 82", LogLines().front());
}

}  // namespace
