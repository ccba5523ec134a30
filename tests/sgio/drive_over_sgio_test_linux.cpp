// The drive object and the ASPI transport running on the SG_IO manager, down
// to the scripted operating system: what the scan lists, and what a read of
// 16 sectors asks of the device and makes of its answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/core/settings.h"
#include "aspi/sgio/sgio_aspi.h"
#include "drive/cd_drive.h"
#include "engine/recovery_engine.h"
#include "sgio/fake_sg_system.h"
#include "support/fakes.h"

using namespace sgio;

namespace {

constexpr uint32_t kSixteenSectors = 16 * 2048;

FakeReply InquiryReply(const char* vendor, const char* product)
{
    FakeReply r;
    r.data.assign(36, ' ');
    r.data[0] = 5;
    r.data[4] = 31;  // 36 bytes in all
    std::memcpy(r.data.data() + 8, vendor, std::strlen(vendor));
    std::memcpy(r.data.data() + 16, product, std::strlen(product));
    r.resid = 56 - 36;
    return r;
}

class DriveOverSgio : public ::testing::Test {
protected:
    DriveOverSgio()
    {
        os.AddSg("sg0", 3, 0, 0, 0);
        os.AddSg("sg1", 0, 0, 2, 0, 0);  // a hard disk on host 0
        os.AddSg("sg2", 7, 0, 1, 3);
        os.texts["/sys/class/scsi_host/host3/proc_name"] = "ahci\n";
        os.byOpcode[0x12] = InquiryReply("ACME", "DVD-RW DRIVE");
        FakeReply capacity;
        capacity.data = {0, 0, 0x0B, 0xB7, 0, 0, 8, 0};
        os.byOpcode[0x25] = capacity;
        drive.Aspi().SetLibrary(&library);
    }

    FakeReply Sectors(uint8_t fill, int32_t resid = 0)
    {
        FakeReply r;
        r.data.assign(kSixteenSectors, fill);
        r.resid = resid;
        return r;
    }

    CFrontEndFixture fe;
    CFakeSgSystem os;
    CSgioAspi manager{os};
    CInProcessAspiLibrary library{&manager};
    CCdDrive drive;
};

}  // namespace

TEST_F(DriveOverSgio, ScanListsTheCdDrivesOfEveryHost)
{
    ASSERT_TRUE(drive.InitAspi());
    ASSERT_EQ(2, drive.DriveCount());
    EXPECT_STREQ("[1:0:0] ", drive.Entry(0).addressText);
    EXPECT_STREQ("[2:1:3] ", drive.Entry(1).addressText);
    EXPECT_STREQ("ACME    DVD-RW DRIVE    ", drive.DriveName(0));
    EXPECT_TRUE(fe.poster.Logged("Aspi Manager ID: GLEANOR SG_IO"));
    EXPECT_TRUE(fe.poster.Logged("Host Adapter 1 ID: ahci"));
}

TEST_F(DriveOverSgio, ReadOfSixteenSectorsTakesOnlyACompleteTransfer)
{
    ASSERT_TRUE(drive.InitAspi());
    ASSERT_TRUE(drive.SelectDrive(0));
    EXPECT_EQ(15000u, os.requests.back().timeoutMs);  // 30 half-seconds
    EXPECT_EQ(2999u, drive.CopySize());

    os.replies = {Sectors(0x5A)};
    ASSERT_TRUE(drive.DrvBlkRead(100, 16));
    EXPECT_EQ("/dev/sg0", os.requests.back().path);
    EXPECT_EQ(kSixteenSectors, os.requests.back().dataLength);
    EXPECT_EQ(0x5A, drive.readBuffer[0]);
    EXPECT_EQ(0x5A, drive.readBuffer[kSixteenSectors - 1]);

    // One sector short, and a medium error: both are failed reads.
    os.replies = {Sectors(0x77, 2048)};
    EXPECT_FALSE(drive.DrvBlkRead(100, 16));
    FakeReply medium;
    medium.status = 2;
    medium.driverStatus = kDriverSense;
    medium.sense = {0x70, 0, 3, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0};
    os.replies = {medium};
    EXPECT_FALSE(drive.DrvBlkRead(100, 16));
    EXPECT_TRUE(fe.poster.Logged("SG_IO 28: status 2 host 0 driver 8 resid 0 sense 3/11/00"));
    EXPECT_TRUE(fe.poster.Logged("lba 64, len 10 RdErr"));
}

// Given the source drive (host 5) unplugged mid-copy and another DVD drive
// (host 6) that the rescan numbers where the source was, of another model or
// of the same model with another disc of the same size: nothing but the
// identity test reaches the other drive (INQUIRY; for the same model its
// ready tests, READ CAPACITY and one-sector reads of held sectors), nothing
// of its disc enters the image, and the copy gives up once its minute of
// failure has passed (ten minutes here, so that the search runs), the drive
// left detached.
TEST(DriveOverSgioRemap, AnotherDriveAtTheOldAddressIsNeverTaken)
{
    for (const char* otherModel : {"CD-ROM DRIVE", "DVD-RW DRIVE"}) {
        SCOPED_TRACE(otherModel);
        CFrontEndFixture fe;
        CTempDir dir;
        CFakeSgSystem os;
        os.AddSg("sg0", 5, 0, 0, 0);
        os.AddSg("sg1", 6, 0, 0, 0);
        os.byOpcode[0x12] = InquiryReply("ACME", "DVD-RW DRIVE");
        FakeReply capacity;
        capacity.data = {0, 0, 0x0B, 0xB7, 0, 0, 8, 0};
        os.byOpcode[0x25] = capacity;
        os.byOpcode[0x28].data.assign(kSixteenSectors, 0x5A);
        os.byPath["/dev/sg1"][0x12] = InquiryReply("ACME", otherModel);
        os.byPath["/dev/sg1"][0x28].data.assign(kSixteenSectors, 0x33);
        CSgioAspi manager{os};
        CInProcessAspiLibrary library{&manager};
        CRecoveryEngine engine;
        engine.drive.Aspi().SetLibrary(&library);
        ASSERT_TRUE(engine.drive.InitAspi());
        ASSERT_TRUE(engine.drive.SelectDrive(0));
        ASSERT_STREQ("[0:0:0] ", engine.drive.Entry(0).addressText);
        const size_t scanned = os.requests.size();
        os.vanishPath = "/dev/sg0";
        os.vanishAfter = scanned + 40;

        fe.prompt.ChooseFileAnswer(dir.File("Disc"));
        settings.giveUpLevel = 3;  // ten minutes: the search after the first minute runs for nine
        engine.runRequested = true;
        const uint32_t start = TickCount();
        int outcome = engine.RunCopy();
        settings.giveUpLevel = 0;
        EXPECT_EQ(OUTCOME_GIVE_UP, outcome);
        EXPECT_LT(TickCount() - start, 2 * GiveUpMilliseconds(3));
        EXPECT_TRUE(fe.poster.Logged("Drive did not come back: [0:0:0] ACME    DVD-RW DRIVE    "));
        EXPECT_TRUE(engine.drive.Detached());
        // Read errors are the reads that reached the source and failed, not
        // the requests held back once it was detached (said once instead).
        uint32_t failedReads = 0;
        for (size_t i = os.vanishAfter; i < os.requests.size(); ++i)
            failedReads += os.requests[i].path == "/dev/sg0" && os.requests[i].cdb[0] == 0x28;
        EXPECT_EQ(failedReads, engine.header.readErrors);
        const std::vector<std::string> lines = fe.poster.LogLines();
        EXPECT_EQ(1, std::count(lines.begin(), lines.end(), std::string("Requests wait until the drive is found again")));
        bool asked = false;
        for (size_t i = scanned; i < os.requests.size(); ++i) {
            const SeenRequest& r = os.requests[i];
            if (r.path != "/dev/sg1") continue;
            asked = true;
            const uint8_t op = r.cdb[0];
            EXPECT_TRUE(op == 0x12 || op == 0x00 || op == 0x25 || (op == 0x28 && r.cdb[8] == 1)) << int(op);
            EXPECT_TRUE(op == 0x12 || std::string(otherModel) == "DVD-RW DRIVE") << int(op);
        }
        EXPECT_TRUE(asked) << "the rescan never asked the other drive";
        std::vector<uint8_t> image(3000 * 2048);
        FILE* f = std::fopen(dir.File("Disc.iso").c_str(), "rb");
        ASSERT_NE(nullptr, f);
        size_t got = std::fread(image.data(), 1, image.size(), f);
        std::fclose(f);
        EXPECT_GT(got, 0u);
        EXPECT_EQ(image.begin() + long(got), std::find(image.begin(), image.begin() + long(got), 0x33));
    }
}
