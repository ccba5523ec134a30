// How the SG_IO manager turns ASPI command records into SG_IO requests and
// the replies back into completion status, adapter status and sense data.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "aspi/sgio/sgio_aspi.h"
#include "platform/event.h"
#include "sgio/fake_sg_system.h"

using namespace sgio;

namespace {

constexpr uint32_t kReadBuffer = 65536;

class SgioExec : public ::testing::Test {
protected:
    SgioExec()
    {
        os.AddSg("sg1", 4, 0, 0, 0);
        os.AddSg("sg2", 4, 0, 1, 0);
    }

    // A record as the drive layer fills it for the device at target `target`.
    aspi::SRB_ExecSCSICmd Record(std::initializer_list<uint8_t> cdb, uint8_t flags, uint32_t length,
                                 uint8_t target = 0)
    {
        aspi::SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
        srb.SRB_Target = target;
        srb.SRB_Flags = flags;
        srb.SRB_BufLen = length;
        srb.SRB_BufPointer = length ? buffer.data() : nullptr;
        srb.SRB_SenseLen = aspi::SENSE_LEN;
        srb.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
        std::copy(cdb.begin(), cdb.end(), srb.CDBByte);
        return srb;
    }
    aspi::SRB_ExecSCSICmd Read16At0()
    {
        return Record({0x28, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}, 0x48, kReadBuffer);
    }
    uint32_t Send(aspi::SRB_ExecSCSICmd& srb) { return manager.SendASPI32Command(&srb); }
    uint32_t SetTimeout(uint8_t ha, uint8_t target, uint8_t lun, uint32_t halfSeconds)
    {
        aspi::SRB_GetSetTimeouts srb{};
        srb.SRB_Cmd = aspi::SC_GETSET_TIMEOUTS;
        srb.SRB_Flags = aspi::SRB_DIR_OUT;
        srb.SRB_HaId = ha;
        srb.SRB_Target = target;
        srb.SRB_Lun = lun;
        srb.SRB_Timeout = halfSeconds;
        return manager.SendASPI32Command(&srb);
    }
    uint32_t LastTimeoutMs() const { return os.requests.back().timeoutMs; }

    CFakeSgSystem os;
    CSgioAspi manager{os};
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kReadBuffer, 0xEE);
};

FakeReply Good(int32_t resid = 0) { FakeReply r; r.resid = resid; return r; }

}  // namespace

TEST_F(SgioExec, PassesCdbDirectionAndBufferAndKeepsTheNodeOpen)
{
    auto tur = Record({0, 0, 0, 0, 0, 0}, 0x40, 0);
    auto stop = Record({0x1B, 0, 0, 0, 0, 0}, 0x50, 0);  // direction bit but no buffer
    auto inquiry = Record({0x12, 0, 0, 0, 0x38, 0}, 0x48, 56, 1);
    auto read = Read16At0();
    FakeReply inquiry36 = Good(20);
    inquiry36.data = {5, 0x80, 5, 0x32, 31};
    os.replies = {Good(), Good(), inquiry36, Good()};
    EXPECT_EQ(aspi::SS_COMP, Send(tur));
    EXPECT_EQ(aspi::SS_COMP, Send(stop));
    EXPECT_EQ(aspi::SS_COMP, Send(inquiry));
    EXPECT_EQ(aspi::SS_COMP, Send(read));
    EXPECT_EQ(aspi::SS_COMP, tur.SRB_Status);
    ASSERT_EQ(4u, os.requests.size());
    EXPECT_EQ(Direction::None, os.requests[0].direction);
    EXPECT_EQ(0u, os.requests[0].dataLength);
    EXPECT_EQ((std::vector<uint8_t>{0x1B, 0, 0, 0, 0, 0}), os.requests[1].cdb);
    EXPECT_EQ(Direction::None, os.requests[1].direction);
    EXPECT_EQ("/dev/sg2", os.requests[2].path);
    EXPECT_EQ(Direction::FromDevice, os.requests[2].direction);
    EXPECT_EQ(56u, os.requests[2].dataLength);
    EXPECT_EQ((std::vector<uint8_t>{0x28, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}), os.requests[3].cdb);
    EXPECT_EQ(kReadBuffer / 2, os.requests[3].dataLength);
    // Two scan opens, then one open per device for all its commands.
    EXPECT_EQ((std::vector<std::string>{"/dev/sg1", "/dev/sg2", "/dev/sg1", "/dev/sg2"}), os.opened);
}

// READ(10) gets a 64 KiB buffer whatever its block count: the request asks
// for the blocks only (16 blocks: 32 KiB), and one byte less than that is a
// failed read, never a sector. INQUIRY data may be as short as it says.
TEST_F(SgioExec, AsksForWhatTheCommandReadsAndFailsAShortTransfer)
{
    struct Case {
        std::vector<uint8_t> cdb;
        uint32_t buffer;
        uint32_t asked;  // dxfer length of the SG_IO request
        int32_t resid;
        std::vector<uint8_t> data;
        uint32_t expected;
    };
    const std::vector<uint8_t> read16 = {0x28, 0, 0, 0, 0, 0, 0, 0, 0x10, 0};
    const std::vector<uint8_t> read1 = {0x28, 0, 0, 0, 0, 0, 0, 0, 0x01, 0};
    const std::vector<uint8_t> read64 = {0x28, 0, 0, 0, 0, 0, 0, 0, 0x40, 0};  // more than the buffer holds
    const std::vector<uint8_t> read12 = {0xA8, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0};
    const std::vector<uint8_t> capacity = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> inquiry = {0x12, 0, 0, 0, 0x38, 0};
    const std::vector<uint8_t> other = {0x5A, 0, 0x2A, 0, 0, 0, 0, 0, 0x20, 0};
    const std::vector<uint8_t> inquiry36 = {5, 0x80, 5, 0x32, 31};
    const std::vector<uint8_t> inquiryClaims56 = {5, 0x80, 5, 0x32, 51};
    const std::vector<Case> cases = {
        {read16, kReadBuffer, 32768, 0, {}, aspi::SS_COMP},
        {read16, kReadBuffer, 32768, 1, {}, aspi::SS_ERR},
        {read16, kReadBuffer, 32768, -5, {}, aspi::SS_COMP},  // a negative residue moved it all
        {read1, kReadBuffer, 2048, 0, {}, aspi::SS_COMP},
        {read1, kReadBuffer, 2048, 2048, {}, aspi::SS_ERR},
        {read64, kReadBuffer, kReadBuffer, 0, {}, aspi::SS_COMP},
        {read64, kReadBuffer, kReadBuffer, 1, {}, aspi::SS_ERR},
        {read12, kReadBuffer, 4096, 0, {}, aspi::SS_COMP},
        {read12, kReadBuffer, 4096, 2048, {}, aspi::SS_ERR},
        {capacity, 8, 8, 0, {}, aspi::SS_COMP},
        {capacity, 8, 8, 4, {}, aspi::SS_ERR},
        {inquiry, 56, 56, 20, inquiry36, aspi::SS_COMP},        // as long as it says
        {inquiry, 56, 56, 20, inquiryClaims56, aspi::SS_ERR},   // shorter than it says
        {inquiry, 56, 56, 52, inquiry36, aspi::SS_ERR},         // not even the header
        {other, 32, 32, 2, {}, aspi::SS_ERR},                   // others: all of the buffer
        {other, 32, 32, 0, {}, aspi::SS_COMP},
    };
    for (const Case& c : cases) {
        aspi::SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
        srb.SRB_Flags = 0x48;
        srb.SRB_BufLen = c.buffer;
        srb.SRB_BufPointer = buffer.data();
        srb.SRB_CDBLen = static_cast<uint8_t>(c.cdb.size());
        std::copy(c.cdb.begin(), c.cdb.end(), srb.CDBByte);
        FakeReply r = Good(c.resid);
        r.data = c.data;
        os.replies = {r};
        SCOPED_TRACE(testing::Message() << "cdb " << int(c.cdb[0]) << " asked " << c.asked << " resid " << c.resid);
        EXPECT_EQ(c.expected, Send(srb));
        EXPECT_EQ(c.asked, os.requests.back().dataLength);
        EXPECT_EQ(c.expected, srb.SRB_Status);
        EXPECT_EQ(c.expected == aspi::SS_COMP ? aspi::HASTAT_OK : HASTAT_DO_DU, srb.SRB_HaStat);
    }
}

TEST_F(SgioExec, ReadOfNoBlocksMovesNothing)
{
    auto read0 = Record({0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x48, kReadBuffer);
    EXPECT_EQ(aspi::SS_COMP, Send(read0));
    EXPECT_EQ(Direction::None, os.requests.back().direction);
    EXPECT_EQ(0u, os.requests.back().dataLength);
}

TEST_F(SgioExec, OnlyAllGoodStatusesComplete)
{
    struct Case {
        uint8_t status;
        uint16_t host, driver;
        uint8_t expected, haStat;
    };
    const Case cases[] = {
        {0x00, kHostOk, kDriverOk, aspi::SS_COMP, aspi::HASTAT_OK},
        {0x08, kHostOk, kDriverOk, aspi::SS_ERR, aspi::HASTAT_OK},  // BUSY
        {0x00, kHostTimeOut, kDriverOk, aspi::SS_ERR, HASTAT_COMMAND_TIMEOUT},
        {0x00, kHostOk, kDriverTimeout, aspi::SS_ERR, HASTAT_COMMAND_TIMEOUT},
        {0x00, kHostNoConnect, kDriverOk, aspi::SS_ERR, HASTAT_SEL_TO},
        {0x00, kHostReset, kDriverOk, aspi::SS_ERR, HASTAT_BUS_RESET},
        {0x00, 0x07, kDriverOk, aspi::SS_ERR, HASTAT_PHASE_ERR},  // DID_ERROR
        {0x00, kHostOk, 0x01, aspi::SS_ERR, aspi::HASTAT_OK},     // DRIVER_BUSY
    };
    for (const Case& c : cases) {
        auto read = Read16At0();
        FakeReply r = Good();
        r.status = c.status;
        r.hostStatus = c.host;
        r.driverStatus = c.driver;
        os.replies = {r};
        SCOPED_TRACE(testing::Message() << int(c.status) << "/" << c.host << "/" << c.driver);
        EXPECT_EQ(c.expected, Send(read));
        EXPECT_EQ(c.haStat, read.SRB_HaStat);
        EXPECT_EQ(c.status, read.SRB_TargStat);
    }
    FakeReply broken;
    broken.ioctlFails = true;
    os.replies = {broken};
    auto read = Read16At0();
    EXPECT_EQ(aspi::SS_ERR, Send(read));
}

// A medium error: CHECK CONDITION with sense 03/11/00 lands in SenseArea,
// SRB_SenseLen bytes of it; a good command leaves SenseArea alone.
TEST_F(SgioExec, CopiesSenseOnCheckCondition)
{
    FakeReply medium;
    medium.status = aspi::STATUS_CHKCOND;
    medium.driverStatus = kDriverSense;
    medium.sense = {0x70, 0, 0x03, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0x99};
    auto read = Read16At0();
    std::memset(read.SenseArea, 0xAA, sizeof read.SenseArea);
    os.replies = {medium};
    EXPECT_EQ(aspi::SS_ERR, Send(read));
    EXPECT_EQ(aspi::STATUS_CHKCOND, read.SRB_TargStat);
    EXPECT_EQ(0, std::memcmp(read.SenseArea, medium.sense.data(), aspi::SENSE_LEN));
    EXPECT_EQ(0xAA, read.SenseArea[aspi::SENSE_LEN]);

    // Short sense is padded with zeros up to SRB_SenseLen.
    FakeReply notReady;
    notReady.status = aspi::STATUS_CHKCOND;
    notReady.sense = {0x70, 0, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x3A};
    auto tur = Record({0, 0, 0, 0, 0, 0}, 0x40, 0);
    std::memset(tur.SenseArea, 0xAA, sizeof tur.SenseArea);
    os.replies = {notReady};
    EXPECT_EQ(aspi::SS_ERR, Send(tur));
    EXPECT_EQ(0x02, tur.SenseArea[2]);
    EXPECT_EQ(0x3A, tur.SenseArea[12]);
    EXPECT_EQ(0x00, tur.SenseArea[13]);

    auto good = Read16At0();
    std::memset(good.SenseArea, 0xAA, sizeof good.SenseArea);
    os.replies = {Good()};
    EXPECT_EQ(aspi::SS_COMP, Send(good));
    EXPECT_EQ(0xAA, good.SenseArea[0]);
}

TEST_F(SgioExec, RefusesBadRecordsWithoutIssuingThem)
{
    auto noDevice = Record({0, 0, 0, 0, 0, 0}, 0x40, 0, 5);
    EXPECT_EQ(aspi::SS_NO_DEVICE, Send(noDevice));
    auto badHa = Record({0, 0, 0, 0, 0, 0}, 0x40, 0);
    badHa.SRB_HaId = 1;
    EXPECT_EQ(aspi::SS_INVALID_HA, Send(badHa));
    auto bothWays = Record({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0x58, kReadBuffer);
    EXPECT_EQ(SS_INVALID_SRB, Send(bothWays));
    auto noWay = Record({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0x40, kReadBuffer);
    EXPECT_EQ(SS_INVALID_SRB, Send(noWay));
    auto noBuffer = Record({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0x48, kReadBuffer);
    noBuffer.SRB_BufPointer = nullptr;
    EXPECT_EQ(SS_INVALID_SRB, Send(noBuffer));
    auto longCdb = Record({0, 0, 0, 0, 0, 0}, 0x40, 0);
    longCdb.SRB_CDBLen = 17;
    EXPECT_EQ(SS_INVALID_SRB, Send(longCdb));
    EXPECT_TRUE(os.requests.empty());

    uint8_t unknown[16] = {0x03};  // SC_ABORT_SRB is not offered
    EXPECT_EQ(aspi::SS_INVALID_CMD, manager.SendASPI32Command(unknown));
    EXPECT_EQ(aspi::SS_INVALID_CMD, unknown[1]);
}

TEST_F(SgioExec, NodeThatNoLongerOpensFailsTheCommand)
{
    manager.GetASPI32SupportInfo();
    os.nodes["/dev/sg1"].opens = false;
    auto tur = Record({0, 0, 0, 0, 0, 0}, 0x40, 0);
    EXPECT_EQ(aspi::SS_ERR, Send(tur));
    EXPECT_EQ(HASTAT_SEL_TO, tur.SRB_HaStat);
    EXPECT_TRUE(os.requests.empty());
}

// ASPI counts time-outs in half-seconds, SG_IO in milliseconds.
TEST_F(SgioExec, TimeOutIsPerDeviceInHalfSeconds)
{
    auto tur = Record({0, 0, 0, 0, 0, 0}, 0x40, 0);
    auto tur1 = Record({0, 0, 0, 0, 0, 0}, 0x40, 0, 1);
    Send(tur);
    EXPECT_EQ(kDefaultTimeoutHalfSeconds * 500, LastTimeoutMs());
    EXPECT_EQ(aspi::SS_COMP, SetTimeout(0, 0, 0, 30));
    Send(tur);
    EXPECT_EQ(15000u, LastTimeoutMs());
    Send(tur1);
    EXPECT_EQ(kDefaultTimeoutHalfSeconds * 500, LastTimeoutMs());

    EXPECT_EQ(aspi::SS_COMP, SetTimeout(kAspiWildcard, kAspiWildcard, kAspiWildcard, 108000));
    Send(tur1);
    EXPECT_EQ(54000000u, LastTimeoutMs());
    EXPECT_EQ(SS_INVALID_SRB, SetTimeout(0, 1, 0, 108001));
    EXPECT_EQ(aspi::SS_COMP, SetTimeout(0, 1, 0, 0));  // 0: back to the default
    Send(tur1);
    EXPECT_EQ(kDefaultTimeoutHalfSeconds * 500, LastTimeoutMs());
    EXPECT_EQ(aspi::SS_NO_DEVICE, SetTimeout(0, 3, 0, 30));

    aspi::SRB_GetSetTimeouts get{};
    get.SRB_Cmd = aspi::SC_GETSET_TIMEOUTS;
    get.SRB_Flags = aspi::SRB_DIR_IN;
    EXPECT_EQ(aspi::SS_COMP, manager.SendASPI32Command(&get));
    const uint32_t timeout = get.SRB_Timeout;  // a copy: the packed field is unaligned
    EXPECT_EQ(108000u, timeout);
}

// The status is final on return, and the event is signalled as well, so a
// caller that waits whatever the return value does not hang.
TEST_F(SgioExec, ReturnsFinalStatusAndSignalsTheEvent)
{
    CCompletionEvent event;
    ASSERT_TRUE(event.Create());
    event.Reset();
    auto tur = Record({0, 0, 0, 0, 0, 0}, 0x40, 0);
    tur.SRB_PostProc = event.Handle();
    EXPECT_EQ(aspi::SS_COMP, Send(tur));
    auto waited = std::async(std::launch::async, [&] { event.Wait(); });
    const bool signalled = waited.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!signalled) SignalCompletionEvent(event.Handle());  // let the waiter go
    EXPECT_TRUE(signalled);
}
