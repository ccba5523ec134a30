// The pass-through ASPI manager down to a scripted Windows: which letters
// the scan takes and how it numbers them, the pass-through record each of the
// drive object's commands becomes, and what the manager makes of the replies.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "aspi/spti/spti_aspi.h"
#include "drive/cd_drive.h"
#include "spti/fake_spti_system.h"
#include "support/fakes.h"

using namespace spti;

namespace {

std::string Text(const uint8_t* field, size_t size)
{
    return std::string(reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), size));
}

aspi::SRB_HAInquiry Adapter(CSptiAspi& m, uint8_t ha)
{
    aspi::SRB_HAInquiry srb{};
    srb.SRB_Cmd = aspi::SC_HA_INQUIRY;
    srb.SRB_HaId = ha;
    m.SendASPI32Command(&srb);
    return srb;
}

uint8_t DeviceType(CSptiAspi& m, uint8_t ha, uint8_t target, uint8_t lun)
{
    aspi::SRB_GDEVBlock srb{};
    srb.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    srb.SRB_HaId = ha;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    return m.SendASPI32Command(&srb) == aspi::SS_COMP ? srb.SRB_DeviceType : 0xFF;
}

// READ(10) of `blocks` sectors at LBA 100 on adapter 0, target 0, LUN 0.
aspi::SRB_ExecSCSICmd Read(uint8_t* buffer, uint32_t bufferLength, uint8_t blocks)
{
    aspi::SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = aspi::SRB_DIR_IN;
    srb.SRB_BufLen = bufferLength;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = aspi::SENSE_LEN;
    srb.SRB_CDBLen = 10;
    const uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 100, 0, 0, blocks, 0};
    std::memcpy(srb.CDBByte, cdb, sizeof cdb);
    return srb;
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A CD drive's standard INQUIRY answer, named "QEMU    QEMU CD-ROM".
FakeReply CdInquiry()
{
    FakeReply inquiry;
    inquiry.data.assign(36, ' ');
    inquiry.data[0] = 5;
    inquiry.data[4] = 31;
    std::memcpy(inquiry.data.data() + 8, "QEMU    QEMU CD-ROM", 19);
    inquiry.transferred = 36;
    return inquiry;
}

class SptiTest : public ::testing::Test {
protected:
    SptiTest() { os.Add('D', 2, 0, 0, 0); }
    CSptiAspi& Manager()
    {
        if (!manager) manager = std::make_unique<CSptiAspi>(os);
        return *manager;
    }

    CFrontEndFixture fe;
    CFakeSptiSystem os;
    std::unique_ptr<CSptiAspi> manager;
};

TEST_F(SptiTest, ScanTakesCdromLettersFromAOnAndNumbersBusesDensely)
{
    os.letters.clear();
    os.Add('B', 4, 1, 3, 0);
    os.Add('C', 0, 0, 0, 0);
    os.letters['C'].type = 3;  // a fixed disk
    os.Add('E', 4, 0, 1, 2);
    os.Add('F', 9, 0, 0, 0);
    os.letters['F'].addressed = false;
    os.Add('G', 4, 0, 1, 2);   // a second letter of E's device
    os.Add('H', 4, 0, 9, 0);   // a target ASPI cannot express

    EXPECT_EQ(0x0104u, Manager().GetASPI32SupportInfo());
    std::vector<std::string> opened;
    for (const SeenOpen& o : os.opens) {
        opened.push_back(o.path);
        EXPECT_EQ(kGenericRead | kGenericWrite, o.access);
        EXPECT_EQ(kFileShareRead | kFileShareWrite, o.share);
    }
    EXPECT_EQ((std::vector<std::string>{"\\\\.\\B:", "\\\\.\\E:", "\\\\.\\F:", "\\\\.\\G:", "\\\\.\\H:"}), opened);

    // Port 4 path 0 before port 4 path 1; then F and H on adapters of their own.
    std::vector<std::string> found;
    for (const SptiDevice& d : Manager().Devices())
        found.push_back(std::string(1, d.letter) + " " + std::to_string(d.adapter) + ":" + std::to_string(d.target) +
                        ":" + std::to_string(d.lun));
    EXPECT_EQ((std::vector<std::string>{"E 0:1:2", "B 1:3:0", "F 2:0:0", "H 3:0:0"}), found);
    EXPECT_EQ(5, DeviceType(Manager(), 0, 1, 2));
    EXPECT_EQ(0xFF, DeviceType(Manager(), 0, 0, 0));
    EXPECT_EQ("GLEANOR SPTI", Text(Adapter(Manager(), 1).HA_ManagerId, 16));
    EXPECT_EQ("SPTI B:", Text(Adapter(Manager(), 1).HA_Identifier, 16));
    EXPECT_EQ(aspi::SS_INVALID_HA, Adapter(Manager(), 4).SRB_Status);

    // Unload: every handle opened is closed exactly once, G's at the scan already.
    const std::vector<std::string> closedAtScan = os.closed;
    EXPECT_EQ(std::vector<std::string>{"\\\\.\\G:"}, closedAtScan);
    manager.reset();
    std::vector<std::string> closed = os.closed, handles = os.handles;
    std::sort(closed.begin(), closed.end());
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(handles, closed);
}

TEST_F(SptiTest, AccessDeniedLeavesTheDriveOutAndSaysWhy)
{
    CTempDir dir;
    os.environment[kTraceVariable] = dir.File("aspi.trace");
    os.Add('E', 3, 0, 0, 0);
    os.letters['E'].openError = kErrorAccessDenied;

    EXPECT_EQ(0x0101u, Manager().GetASPI32SupportInfo());
    ASSERT_EQ(1u, Manager().Devices().size());
    EXPECT_EQ('D', Manager().Devices()[0].letter);
    ASSERT_EQ(1u, os.debugLines.size());
    EXPECT_NE(std::string::npos, os.debugLines[0].find("\\\\.\\E: OPEN -> ERROR 5 ACCESS DENIED"));
    manager.reset();  // flushes and closes the trace
    EXPECT_EQ("\\\\.\\E: OPEN -> ERROR 5 ACCESS DENIED (run as administrator)\n", FileText(dir.File("aspi.trace")));

    // With every drive refused, the program hears that ASPI has no adapters.
    os.letters['D'].openError = kErrorAccessDenied;
    EXPECT_EQ(0xE800u, Manager().GetASPI32SupportInfo());
}

// The drive object's five commands, as it sends them after the scan.
TEST_F(SptiTest, EachCommandBecomesOneExactPassThroughRecord)
{
    CInProcessAspiLibrary library(&Manager());
    CCdDrive drive;
    drive.Aspi().SetLibrary(&library);
    os.replies.push_back(CdInquiry());
    ASSERT_TRUE(drive.InitAspi());
    ASSERT_EQ(1, drive.DriveCount());
    EXPECT_NE(std::string::npos, std::string(drive.DriveName(0)).find("QEMU CD-ROM"));

    FakeReply capacity;
    capacity.data = {0, 0, 0x0B, 0xB7, 0, 0, 8, 0};
    FakeReply none;
    os.replies = {none, none, capacity, none, none};
    ASSERT_TRUE(drive.SelectDrive(0));  // time-out 30 half-seconds, TUR, TUR, READ CAPACITY
    EXPECT_EQ(0xBB7u, drive.reportedLastLba.load());
    EXPECT_TRUE(drive.DrvBlkRead(0x01234567, 16));
    EXPECT_TRUE(drive.DrvStop());

    struct Expected {
        std::vector<uint8_t> cdb;
        uint8_t dataIn;
        uint32_t length;
        uint32_t seconds;
    };
    const std::vector<Expected> expected = {
        {{0x12, 0, 0, 0, 56, 0}, kDataIn, 56, 30},  // before any time-out is set: 60 half-seconds
        {{0x00, 0, 0, 0, 0, 0}, kDataUnspecified, 0, 15},
        {{0x00, 0, 0, 0, 0, 0}, kDataUnspecified, 0, 15},
        {{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kDataIn, 8, 15},
        {{0x28, 0, 0x01, 0x23, 0x45, 0x67, 0, 0, 16, 0}, kDataIn, 16 * 2048, 15},
        {{0x1B, 0, 0, 0, 0, 0}, kDataOut, 0, 15},
    };
    ASSERT_EQ(expected.size(), os.seen.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const ScsiPassThroughDirect& p = os.seen[i].record;
        EXPECT_EQ("\\\\.\\D:", os.seen[i].path);
        EXPECT_EQ(sizeof(ScsiPassThroughDirect), p.Length);
        EXPECT_EQ(sizeof(PassThroughRequest), os.seen[i].size);
        EXPECT_EQ(expected[i].cdb, std::vector<uint8_t>(p.Cdb, p.Cdb + p.CdbLength));
        EXPECT_EQ(expected[i].dataIn, p.DataIn);
        EXPECT_EQ(expected[i].length, p.DataTransferLength);
        EXPECT_EQ(expected[i].length == 0, p.DataBuffer == nullptr);
        EXPECT_EQ(expected[i].seconds, p.TimeOutValue);
        EXPECT_EQ(offsetof(PassThroughRequest, sense), p.SenseInfoOffset);
        EXPECT_EQ(kSenseBytes, p.SenseInfoLength);
    }
    EXPECT_EQ(drive.readBuffer, os.seen[4].record.DataBuffer);  // aligned: no bounce

    drive.Aspi().SetTimeout(0, 0, 0, 3);  // 1.5 s: rounded up, never down to nothing
    EXPECT_TRUE(drive.DrvReady());
    EXPECT_EQ(2u, os.seen.back().record.TimeOutValue);
}

TEST_F(SptiTest, MisalignedBufferGoesThroughAnAlignedCopy)
{
    os.letters['D'].alignmentMask = 0x3;
    alignas(4) uint8_t buffer[2 * 2048 + 1] = {};
    FakeReply sectors;
    sectors.data.assign(2 * 2048, 0);
    for (size_t i = 0; i < sectors.data.size(); ++i) sectors.data[i] = static_cast<uint8_t>(i * 7);
    os.replies = {sectors};
    aspi::SRB_ExecSCSICmd srb = Read(buffer + 1, 2 * 2048, 2);

    EXPECT_EQ(aspi::SS_COMP, Manager().SendASPI32Command(&srb));
    ASSERT_EQ(1u, os.seen.size());
    EXPECT_NE(buffer + 1, os.seen[0].record.DataBuffer);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(os.seen[0].record.DataBuffer) & 0x3);
    EXPECT_EQ(sectors.data, std::vector<uint8_t>(buffer + 1, buffer + 1 + 2 * 2048));
    EXPECT_EQ(0x3, Adapter(Manager(), 0).HA_Unique[0]);  // the alignment, told to the caller too
}

TEST_F(SptiTest, RepliesBecomeAspiStatuses)
{
    CTempDir dir;
    os.environment[kTraceVariable] = dir.File("aspi.trace");
    uint8_t buffer[2048];
    FakeReply check;
    check.status = aspi::STATUS_CHKCOND;
    check.sense = {0x70, 0, 0x03, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0};
    FakeReply shortRead;
    shortRead.data.assign(1024, 0xAB);
    shortRead.transferred = 1024;
    FakeReply timeout;
    timeout.error = kErrorSemTimeout;
    FakeReply gone;
    gone.error = 1167;  // ERROR_DEVICE_NOT_CONNECTED
    os.replies = {check, shortRead, timeout, gone, FakeReply{}};

    aspi::SRB_ExecSCSICmd srb = Read(buffer, sizeof buffer, 1);
    std::memset(srb.SenseArea, 0xEE, sizeof srb.SenseArea);
    EXPECT_EQ(aspi::SS_ERR, Manager().SendASPI32Command(&srb));
    EXPECT_EQ(aspi::SS_ERR, srb.SRB_Status);
    EXPECT_EQ(aspi::STATUS_CHKCOND, srb.SRB_TargStat);
    EXPECT_EQ(std::vector<uint8_t>(check.sense.begin(), check.sense.begin() + aspi::SENSE_LEN),
              std::vector<uint8_t>(srb.SenseArea, srb.SenseArea + aspi::SENSE_LEN));
    EXPECT_EQ(0xEE, srb.SenseArea[aspi::SENSE_LEN]);  // nothing beyond SRB_SenseLen

    srb = Read(buffer, sizeof buffer, 1);
    EXPECT_EQ(aspi::SS_ERR, Manager().SendASPI32Command(&srb));
    EXPECT_EQ(0x12, srb.SRB_HaStat);  // data underrun

    srb = Read(buffer, sizeof buffer, 1);
    EXPECT_EQ(aspi::SS_ERR, Manager().SendASPI32Command(&srb));
    EXPECT_EQ(aspi::HASTAT_TIMEOUT, srb.SRB_HaStat);

    srb = Read(buffer, sizeof buffer, 1);
    EXPECT_EQ(aspi::SS_ERR, Manager().SendASPI32Command(&srb));
    EXPECT_NE(aspi::HASTAT_TIMEOUT, srb.SRB_HaStat);
    EXPECT_NE(aspi::HASTAT_OK, srb.SRB_HaStat);

    srb = Read(buffer, sizeof buffer, 1);
    EXPECT_EQ(aspi::SS_COMP, Manager().SendASPI32Command(&srb));
    EXPECT_EQ(aspi::HASTAT_OK, srb.SRB_HaStat);

    manager.reset();
    const std::string read = "[0:0:0] 28 00 00 00 00 64 00 00 01 00 -> ";
    EXPECT_EQ(read + "CHECK 3/11/00\n" + read + "SHORT 1024 OF 2048\n" + read + "TIMEOUT\n" + read +
                  "ERROR 1167\n" + read + "GOOD\n",
              FileText(dir.File("aspi.trace")));
}

}  // namespace

// Given the selected drive's letter removed (its handle dead), then the
// drive back under another letter: the rescan closes the dead handle and
// keeps the drive that stayed at its address; the drive that came back is
// found again by its identity, and with another disc of the same size in
// it, it is refused.
TEST_F(SptiTest, RescanDropsADeadHandleAndFindsTheDriveBackByItsIdentity)
{
    os.Add('E', 3, 0, 0, 0);
    CInProcessAspiLibrary library(&Manager());
    CCdDrive drive;
    drive.Aspi().SetLibrary(&library);
    FakeReply inquiry = CdInquiry();
    FakeReply none;
    FakeReply capacity;
    capacity.data = {0, 0, 0x0B, 0xB7, 0, 0, 8, 0};
    os.replies = {inquiry, none};  // D: the drive; E: another that answers no name
    ASSERT_TRUE(drive.InitAspi());
    ASSERT_EQ(2, drive.DriveCount());
    os.replies = {none, none, capacity};
    ASSERT_TRUE(drive.SelectDrive(0));
    CDiscEvidence evidence;
    evidence.Reset(0xBB8, 2048);
    std::vector<uint8_t> held(2048, 0x5A);
    evidence.Offer(100, held.data());

    os.Unplug('D');
    drive.Detach();
    os.replies.clear();
    EXPECT_FALSE(drive.FindAgain(&evidence));
    EXPECT_TRUE(drive.Detached());
    EXPECT_EQ(std::vector<std::string>{"\\\\.\\D:"}, os.closed);
    EXPECT_EQ(5, DeviceType(Manager(), 1, 0, 0));  // E: stayed at its address
    EXPECT_EQ(0xFF, DeviceType(Manager(), 0, 0, 0));

    os.Add('F', 2, 0, 0, 0);  // back under another letter
    FakeReply other;
    other.data.assign(2048, 0x33);
    os.replies = {inquiry, none, none, capacity, other};
    EXPECT_FALSE(drive.FindAgain(&evidence));  // another disc of the same size
    EXPECT_TRUE(drive.Detached());

    FakeReply same;
    same.data = held;
    os.replies = {inquiry, none, none, capacity, same};
    ASSERT_TRUE(drive.FindAgain(&evidence));
    EXPECT_FALSE(drive.Detached());
    EXPECT_STREQ("[0:0:0] ", drive.Entry(0).addressText);
    EXPECT_EQ("\\\\.\\F:", os.seen.back().path);
    EXPECT_EQ(0x28, os.seen.back().record.Cdb[0]);
}
