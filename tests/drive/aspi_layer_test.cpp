// Initialisation, bus scan, command execution and teardown of the ASPI transport.
#include "drive/drive_fixture.h"

namespace {

const unsigned kErrorBox = mb::kOk | mb::kIconError;

TEST_F(DriveTest, ScanVisitsEveryAdapterTargetAndLunAndListsCdDrivesInOrder)
{
    manager.support = 0x0102;
    manager.adapters[0] = {aspi::SS_COMP, "IGNORED", ""};
    manager.adapters[1] = {aspi::SS_COMP, "ASPI MANAGER 123", "0123456789ABCDEF"};
    manager.Device(1, 0, 0).product = "ON ADAPTER ONE  ";
    manager.Device(0, 2, 0).product = "TARGET TWO      ";
    manager.Device(0, 1, 3).product = "TARGET ONE LUN 3";
    manager.Device(0, 0, 0).type = 0;  // a disk is not listed
    EXPECT_TRUE(drive.InitAspi());

    EXPECT_EQ(2, manager.hostAdapterInquiries);
    EXPECT_EQ((std::map<uint8_t, int>{{0, 64}, {1, 64}}), manager.deviceTypeRequests);
    ASSERT_EQ(3, drive.DriveCount());
    EXPECT_STREQ("VENDOR  TARGET ONE LUN 3", drive.DriveName(0));
    EXPECT_STREQ("VENDOR  TARGET TWO      ", drive.DriveName(1));
    EXPECT_STREQ("VENDOR  ON ADAPTER ONE  ", drive.DriveName(2));
    EXPECT_EQ((std::vector<std::string>{At("0:1:3", kInquiry), At("0:2:0", kInquiry), At("1:0:0", kInquiry)}),
              manager.log);
    // The empty identifier of adapter 0 holds the manager line back until adapter 1.
    EXPECT_EQ((std::vector<std::string>{"Ok: Wnaspi32.dll", "Ok: GetASPI32SupportInfo", "Ok: SendASPI32Command",
                                        "Ok: 102 = GetASPI32SupportInfo()", "[0:1:3]  VENDOR  TARGET ONE LUN 3",
                                        "[0:2:0]  VENDOR  TARGET TWO      ", "Aspi Manager ID: ASPI MANAGER 123",
                                        "Host Adapter 1 ID: 0123456789ABCDEF", "[1:0:0]  VENDOR  ON ADAPTER ONE  "}),
              LogLines());
    EXPECT_TRUE(fe.prompt.asked.empty());
}

TEST_F(DriveTest, ManagerLineComesOnceAheadOfTheFirstAdapterLine)
{
    manager.support = 0x0102;
    manager.adapters[0] = {aspi::SS_COMP, "MGR", "FIRST"};
    manager.adapters[1] = {aspi::SS_COMP, "OTHER MGR", "SECOND"};
    EXPECT_TRUE(drive.InitAspi());
    EXPECT_EQ((std::vector<std::string>{"Ok: Wnaspi32.dll", "Ok: GetASPI32SupportInfo", "Ok: SendASPI32Command",
                                        "Ok: 102 = GetASPI32SupportInfo()", "Aspi Manager ID: MGR",
                                        "Host Adapter 0 ID: FIRST", "Host Adapter 1 ID: SECOND"}),
              LogLines());
}

TEST_F(DriveTest, AdapterWhoseInquiryFailsIsReportedAndSkipped)
{
    manager.support = 0x0102;
    manager.adapters[0].status = aspi::SS_INVALID_HA;
    manager.Device(0, 0, 0);
    manager.Device(1, 5, 0);
    EXPECT_TRUE(drive.InitAspi());
    EXPECT_EQ((std::vector<AskedQuestion>{{"Error FS 007:", "Host adapter number 0: inquiry failed.", kErrorBox}}),
              fe.prompt.asked);
    EXPECT_EQ((std::map<uint8_t, int>{{1, 64}}), manager.deviceTypeRequests);
    ASSERT_EQ(1, drive.DriveCount());
    EXPECT_STREQ("[1:5:0] ", drive.Entry(0).addressText);
}

TEST_F(DriveTest, OnlyTheScannedRangeIsFoundAndAFailedInquiryFreesTheEntry)
{
    manager.Device(0, 10, 0);                       // beyond targets 0..7
    manager.Device(0, 1, 0).answersInquiry = false;  // type 5 but silent
    manager.Device(0, 7, 7);
    EXPECT_TRUE(drive.InitAspi());
    ASSERT_EQ(1, drive.DriveCount());
    EXPECT_STREQ("[0:7:7] ", drive.Entry(0).addressText);
    EXPECT_EQ(7, drive.Entry(0).target);
    EXPECT_EQ(7, drive.Entry(0).lun);
}

TEST_F(DriveTest, ANinthDriveIsNotAdded)
{
    for (uint8_t lun = 0; lun < 8; ++lun) manager.Device(0, 0, lun);
    manager.Device(0, 1, 0).product = "NINTH";
    EXPECT_TRUE(drive.InitAspi());
    EXPECT_EQ(kMaxDrives, drive.DriveCount());
    EXPECT_EQ(8, manager.execCount);  // the ninth is not even asked
    EXPECT_STREQ("[0:0:7] ", drive.Entry(7).addressText);
    EXPECT_EQ(64, manager.deviceTypeRequests[0]);
    // The last drive asked stays selected: nothing was written past the table
    // into the fields that follow it.
    EXPECT_EQ(7, drive.SelectedIndex());
}

struct SupportCase {
    uint32_t support;
    const char* text;
};
void PrintTo(const SupportCase& c, std::ostream* os) { *os << std::hex << c.support; }

class SupportStatusTest : public DriveTest, public ::testing::WithParamInterface<SupportCase> {};

TEST_P(SupportStatusTest, ManagerNotReadyStopsBeforeTheEventAndCommandsFailUnsent)
{
    manager.support = GetParam().support;
    manager.Device(0, 0, 0);
    EXPECT_FALSE(drive.InitAspi());
    EXPECT_EQ((std::vector<AskedQuestion>{{"GetASPISupportInfo:", GetParam().text, kErrorBox}}), fe.prompt.asked);
    EXPECT_FALSE(drive.Aspi().Ready());
    EXPECT_EQ(0, drive.DriveCount());
    EXPECT_EQ(0, manager.hostAdapterInquiries);
    EXPECT_FALSE(drive.DrvReady());
    EXPECT_FALSE(drive.SelectDrive(0));
    drive.Aspi().SetTimeout(0, 0, 0, kSelectTimeoutHalfSeconds);
    EXPECT_EQ(std::vector<std::string>{}, manager.log);
}

INSTANTIATE_TEST_SUITE_P(Statuses, SupportStatusTest,
                         ::testing::Values(SupportCase{0xE800, "Error initializing ASPI."},
                                           SupportCase{0xE101, "Old ASPI manager."},
                                           SupportCase{0xE201, "ASPI for Windows does not support real mode."},
                                           SupportCase{0xE300, "Could not find the ASPI manager."},
                                           SupportCase{0x0001, "Error initializing ASPI."}));

TEST_F(DriveTest, NoAdaptersStillCreatesTheEventAndSucceeds)
{
    manager.support = 0x0100;
    EXPECT_TRUE(drive.InitAspi());
    EXPECT_TRUE(drive.Aspi().Ready());
    EXPECT_EQ(0, drive.DriveCount());
    EXPECT_EQ(0, manager.hostAdapterInquiries);
    EXPECT_TRUE(fe.prompt.asked.empty());
    EXPECT_EQ("Ok: 100 = GetASPI32SupportInfo()", LogLines().back());
}

struct MissingCase {
    bool loads;
    const char* missing;
    AskedQuestion box;
    size_t logLines;  // "Ok:" lines before the failure
};
void PrintTo(const MissingCase& c, std::ostream* os) { *os << c.box.caption; }

class MissingPieceTest : public DriveTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingPieceTest, IsReportedAndNothingIsCalledThroughIt)
{
    library.loads = GetParam().loads;
    if (GetParam().missing) library.missing.insert(GetParam().missing);
    manager.Device(0, 0, 0);
    EXPECT_FALSE(drive.InitAspi());
    EXPECT_EQ(std::vector<AskedQuestion>{GetParam().box}, fe.prompt.asked);
    EXPECT_EQ(GetParam().logLines, LogLines().size());
    EXPECT_EQ(0, drive.DriveCount());
    EXPECT_FALSE(drive.DrvReady());
    EXPECT_FALSE(drive.DrvInquiry(0));
    EXPECT_EQ(0, manager.execCount);
    EXPECT_EQ(0, manager.hostAdapterInquiries);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, MissingPieceTest,
    ::testing::Values(
        MissingCase{false, nullptr, {"Error FS 002", "LoadLibrary:\nWNASPI32.DLL not found.", kErrorBox}, 0},
        MissingCase{true,
                    "GetASPI32SupportInfo",
                    {"Error FS 003", "GetProcAddress:\nGetASPI32SupportInfo not fount.", kErrorBox},
                    1},
        MissingCase{true,
                    "SendASPI32Command",
                    {"Error FS 004", "GetProcAddress:\npfnSendASPI32Command not found.", kErrorBox},
                    2}));

TEST(AspiTeardown, TheLibraryIsLoadedOnceAndFreedWithTheDrive)
{
    CFrontEndFixture fe;
    CRecordingManager manager;
    CPartialLibrary library{&manager};
    {
        CCdDrive drive;
        drive.Aspi().SetLibrary(&library);
        EXPECT_TRUE(drive.InitAspi());
        EXPECT_EQ(1, library.loadCalls);
        EXPECT_EQ(0, library.freeCalls);
    }
    EXPECT_EQ(1, library.freeCalls);
    // Freed means unregistered: the entry points no longer reach the manager.
    EXPECT_EQ(nullptr, library.Resolve("SendASPI32Command"));
}

TEST_F(DriveTest, PendingCommandsAreWaitedForAndTheEventIsResetBeforeEach)
{
    FakeDevice& device = manager.Device(0, 0, 0);
    InitAndForget();
    manager.completeLater = true;
    device.ready = false;
    EXPECT_FALSE(drive.DrvReady());  // leaves the event signalled
    device.ready = true;
    EXPECT_TRUE(drive.DrvReady());   // a stale signal would read the cleared status
    EXPECT_EQ(19999u, drive.DrvCap());
    EXPECT_EQ((std::vector<std::string>{"SCSI DrvReady 4", "blk 4e1f, siz 800"}), LogLines());
}

}  // namespace
