#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/event.h"
#include "sim_harness.h"

namespace {

class SimAspi : public ::testing::Test {
protected:
    CFrontEndFixture frontEnd;
    CSimulatedAspi sim;
    CTempDir dir;

    void Add(const std::string& text) { sim.AddDevice(Profile(text)); }

    uint8_t DeviceType(uint8_t ha, uint8_t target, uint8_t lun, uint8_t* type)
    {
        aspi::SRB_GDEVBlock s{};
        s.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
        s.SRB_HaId = ha;
        s.SRB_Target = target;
        s.SRB_Lun = lun;
        uint32_t returned = sim.SendASPI32Command(&s);
        EXPECT_EQ(returned, s.SRB_Status);
        *type = s.SRB_DeviceType;
        return s.SRB_Status;
    }

    uint8_t Timeouts(uint8_t flags, uint8_t target, uint32_t* halfSeconds)
    {
        aspi::SRB_GetSetTimeouts s{};
        s.SRB_Cmd = aspi::SC_GETSET_TIMEOUTS;
        s.SRB_Flags = flags;
        s.SRB_Target = target;
        s.SRB_Timeout = *halfSeconds;
        sim.SendASPI32Command(&s);
        *halfSeconds = s.SRB_Timeout;
        return s.SRB_Status;
    }

    void SetTimeout(uint32_t halfSeconds, uint8_t target = 0)
    {
        EXPECT_EQ(aspi::SS_COMP, Timeouts(aspi::SRB_DIR_OUT, target, &halfSeconds));
    }
};

}  // namespace

TEST_F(SimAspi, AnswersOneHostAdapterEvenWithoutDevices)
{
    EXPECT_EQ(0x0101u, sim.GetASPI32SupportInfo());
    aspi::SRB_HAInquiry s{};
    s.SRB_Cmd = aspi::SC_HA_INQUIRY;
    EXPECT_EQ(aspi::SS_COMP, sim.SendASPI32Command(&s));
    EXPECT_EQ(aspi::SS_COMP, s.SRB_Status);
    EXPECT_EQ(1, s.HA_Count);
    EXPECT_EQ("GLEANOR SIM", std::string(reinterpret_cast<char*>(s.HA_ManagerId)));
    EXPECT_EQ("SIMULATED HA", std::string(reinterpret_cast<char*>(s.HA_Identifier)));
    aspi::SRB_HAInquiry other{};
    other.SRB_Cmd = aspi::SC_HA_INQUIRY;
    other.SRB_HaId = 1;
    EXPECT_EQ(aspi::SS_INVALID_HA, sim.SendASPI32Command(&other));
    EXPECT_EQ(aspi::SS_INVALID_HA, other.SRB_Status);
    uint8_t type = 0;
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(0, 0, 0, &type));
    aspi::SRB_Header bogus{};
    bogus.SRB_Cmd = 0x05;  // set host adapter parameters: not offered
    EXPECT_EQ(aspi::SS_INVALID_CMD, sim.SendASPI32Command(&bogus));
    EXPECT_NE(aspi::SS_COMP, sim.SendASPI32Command(nullptr));
}

TEST_F(SimAspi, DeviceKIsTargetKLunZero)
{
    Add("vendor FIRST");
    Add("vendor SECOND");
    uint8_t type = 0;
    EXPECT_EQ(aspi::SS_COMP, DeviceType(0, 0, 0, &type));
    EXPECT_EQ(aspi::DTYPE_CDROM, type);
    EXPECT_EQ(aspi::SS_COMP, DeviceType(0, 1, 0, &type));
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(0, 2, 0, &type));
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(0, 1, 1, &type));
    EXPECT_EQ(aspi::SS_INVALID_HA, DeviceType(1, 0, 0, &type));
    auto r = Exec(sim, 1, {0x12, 0, 0, 0, 0x38, 0}, 56);
    EXPECT_EQ("SECOND  ", std::string(r.data.begin() + 8, r.data.begin() + 16));
    EXPECT_EQ(aspi::SS_NO_DEVICE, TestUnitReady(sim, 2).srb.SRB_Status);
    EXPECT_EQ(aspi::SS_NO_DEVICE, TestUnitReady(sim, 2).returned);
}

TEST_F(SimAspi, EventNotifyCompletesThroughTheEvent)
{
    Add("");
    CCompletionEvent event;
    ASSERT_TRUE(event.Create());
    event.Reset();
    aspi::SRB_ExecSCSICmd s{};
    s.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    s.SRB_Flags = aspi::SRB_EVENT_NOTIFY;
    s.SRB_SenseLen = aspi::SENSE_LEN;
    s.SRB_CDBLen = 6;
    s.SRB_PostProc = event.Handle();
    EXPECT_EQ(aspi::SS_PENDING, sim.SendASPI32Command(&s));
    auto waited = std::async(std::launch::async, [&event] { event.Wait(); });
    ASSERT_EQ(std::future_status::ready, waited.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(aspi::SS_COMP, s.SRB_Status);

    // With the flag but no event the status comes back directly.
    s.SRB_PostProc = nullptr;
    s.SRB_Status = 0;
    EXPECT_EQ(aspi::SS_COMP, sim.SendASPI32Command(&s));
}

TEST_F(SimAspi, TimeoutsAreStoredPerDevice)
{
    Add("");
    Add("");
    uint32_t t = 30;
    EXPECT_EQ(aspi::SS_COMP, Timeouts(aspi::SRB_DIR_OUT, 1, &t));
    t = 0;
    EXPECT_EQ(aspi::SS_COMP, Timeouts(aspi::SRB_DIR_IN, 1, &t));
    EXPECT_EQ(30u, t);
    t = 0;
    Timeouts(aspi::SRB_DIR_IN, 0, &t);
    EXPECT_EQ(0u, t);
    t = 8;
    EXPECT_EQ(aspi::SS_COMP, Timeouts(aspi::SRB_DIR_OUT, 0xFF, &t));  // every target
    t = 0;
    Timeouts(aspi::SRB_DIR_IN, 0, &t);
    EXPECT_EQ(8u, t);
    EXPECT_EQ(aspi::SS_NO_DEVICE, Timeouts(aspi::SRB_DIR_OUT, 5, &t));
}

TEST_F(SimAspi, StalledCommandsHangUpToTheTimeoutThenFail)
{
    Add("stall_ms 2000");
    Add("stall_ms 20000");
    SetTimeout(30, 0);
    SetTimeout(30, 1);
    uint64_t t0 = frontEnd.clock.Micros();
    EXPECT_TRUE(TestUnitReady(sim, 0).Good());
    EXPECT_EQ(2000000u, frontEnd.clock.Micros() - t0);

    t0 = frontEnd.clock.Micros();
    auto r = Read10(sim, 0, 1, 1);
    EXPECT_EQ(15000000u, frontEnd.clock.Micros() - t0);
    EXPECT_EQ(aspi::SS_ERR, r.srb.SRB_Status);
    EXPECT_EQ(aspi::HASTAT_TIMEOUT, r.srb.SRB_HaStat);

    // With no time-out set the command waits the whole stall and completes.
    Add("stall_ms 20000");
    t0 = frontEnd.clock.Micros();
    EXPECT_TRUE(TestUnitReady(sim, 2).Good());
    EXPECT_EQ(20000000u, frontEnd.clock.Micros() - t0);
}

TEST_F(SimAspi, VanishedDeviceFailsEveryCommandAndLeavesTheBus)
{
    Add("vanish_after 3");
    EXPECT_TRUE(TestUnitReady(sim).Good());
    EXPECT_TRUE(ReadCapacity(sim).Good());
    EXPECT_TRUE(Read10(sim, 0, 1).Good());
    EXPECT_EQ(3u, sim.CommandCount(0));
    for (int i = 0; i < 3; ++i) {
        auto r = TestUnitReady(sim);
        EXPECT_EQ(aspi::SS_ERR, r.srb.SRB_Status);
        EXPECT_EQ(0x02, r.SenseKey());
        EXPECT_EQ(0x04, r.Asc());
    }
    EXPECT_FALSE(Exec(sim, 0, {0x12, 0, 0, 0, 0x38, 0}, 56).Good());
    EXPECT_FALSE(StartStop(sim, kLoad).Good());
    sim.SetDiscPresent(0, true);
    EXPECT_FALSE(TestUnitReady(sim).Good());
    uint8_t type = 0;
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(0, 0, 0, &type));
    EXPECT_EQ(9u, sim.CommandCount(0));
    EXPECT_EQ(0u, sim.CommandCount(1));
}

// Given a device that vanishes after one command and returns at another
// address after two more requests (a USB drive re-plugged), then the request
// after those finds its old target empty, and it answers at the next free one.
TEST_F(SimAspi, VanishedDeviceComesBackAtAnotherTarget)
{
    Add("vanish_after 1\nreturn_after 2\nnew_address yes");
    Add("vendor OTHER");
    uint8_t type = 0;
    EXPECT_TRUE(TestUnitReady(sim).Good());
    EXPECT_EQ(0x04, TestUnitReady(sim).Asc());                  // gone; does not count toward the return
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(0, 0, 0, &type));  // away: 1
    EXPECT_EQ(0x04, TestUnitReady(sim).Asc());                  // away: 2
    EXPECT_EQ(aspi::SS_NO_DEVICE, TestUnitReady(sim).srb.SRB_Status);  // back, elsewhere
    EXPECT_EQ(2, sim.TargetOf(0));
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(0, 0, 0, &type));
    EXPECT_EQ(aspi::SS_COMP, DeviceType(0, 2, 0, &type));
    EXPECT_TRUE(TestUnitReady(sim, 2).Good());
    EXPECT_TRUE(TestUnitReady(sim, 1).Good());  // the other device never moved
}

TEST_F(SimAspi, TraceHasOneLinePerCommand)
{
    Add("bad 5-5\ntray open");
    sim.SetTraceFile(dir.File("trace.txt"));
    TestUnitReady(sim);
    StartStop(sim, kLoad);
    Read10(sim, 0x01234567, 16);
    Read10(sim, 5, 1);
    TestUnitReady(sim, 3);
    sim.SetTraceFile("");
    TestUnitReady(sim);  // no longer traced
    EXPECT_EQ("00 00 00 00 00 00 -> CHECK 2/3A/00\n"
              "1B 00 00 00 03 00 -> GOOD\n"
              "28 00 01 23 45 67 00 00 10 00 -> CHECK 5/21/00\n"
              "28 00 00 00 00 05 00 00 01 00 -> CHECK 3/11/00\n"
              "00 00 00 00 00 00 -> NO DEVICE\n",
              ReadText(dir.File("trace.txt")));
}

TEST_F(SimAspi, TraceNamesTheDeviceWhenThereAreSeveral)
{
    Add("");
    Add("stall_ms 60000");
    SetTimeout(2, 1);
    sim.SetTraceFile(dir.File("trace.txt"));
    TestUnitReady(sim, 0);
    TestUnitReady(sim, 1);
    Exec(sim, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2);
    sim.SetTraceFile(dir.File("trace.txt"));  // reopened: appends
    TestUnitReady(sim, 0);
    EXPECT_EQ("[0:0:0] 00 00 00 00 00 00 -> GOOD\n"
              "[0:1:0] 00 00 00 00 00 00 -> TIMEOUT\n"
              "[0:0:0] 25 00 00 00 00 00 00 00 00 00 -> OVERRUN\n"
              "[0:0:0] 00 00 00 00 00 00 -> GOOD\n",
              ReadText(dir.File("trace.txt")));
}

TEST_F(SimAspi, ProfilesFromAList)
{
    WriteFile(dir.File("a.sim"), "vendor A\n");
    WriteFile(dir.File("b.sim"), "vendor B\n");
    WriteFile(dir.File("bad.sim"), "vendor B\nsectors many\n");
    const std::string sep(1, kSimListSeparator);
    std::string error;
    ASSERT_TRUE(AddProfilesFromList(sim, sep + dir.File("a.sim") + sep + sep + dir.File("b.sim") + sep, &error))
        << error;
    EXPECT_EQ(2, sim.DeviceCount());
    auto inquiry = Exec(sim, 1, {0x12, 0, 0, 0, 36, 0}, 36);
    EXPECT_EQ("B       ", std::string(inquiry.data.begin() + 8, inquiry.data.begin() + 16));
    EXPECT_TRUE(AddProfilesFromList(sim, "", &error));
    EXPECT_EQ(2, sim.DeviceCount());

    CSimulatedAspi other;
    EXPECT_FALSE(AddProfilesFromList(other, dir.File("a.sim") + sep + dir.File("bad.sim") + sep + dir.File("b.sim"),
                                     &error));
    EXPECT_EQ(dir.File("bad.sim") + ":2: sectors: bad number \"many\"", error);
    EXPECT_EQ(1, other.DeviceCount());
}

// Given a reader thread and a thread that takes the disc out and puts it back,
// every command sees a consistent device: reads either deliver the sector or fail.
TEST_F(SimAspi, DiscChangesWhileAnotherThreadReads)
{
    Add("sectors 64");
    SimProfile p = Profile("sectors 64");
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; i < 2000 && !done; ++i) sim.SetDiscPresent(0, i % 2 == 0);
    });
    for (int i = 0; i < 2000; ++i) {
        auto r = Read10(sim, uint32_t(i % 64), 1);
        if (!r.Good()) continue;
        std::vector<uint8_t> expected(kSimSectorSize);
        GenerateSector(p, uint32_t(i % 64), expected.data());
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), r.data.begin()));
    }
    done = true;
    changer.join();
    sim.SetDiscPresent(0, true);
    EXPECT_TRUE(Read10(sim, 0, 1).Good());
    EXPECT_EQ(2001u, sim.CommandCount(0));
}
