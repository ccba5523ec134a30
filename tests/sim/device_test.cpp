#include <algorithm>

#include "sim_harness.h"

namespace {

class SimDevice : public ::testing::Test {
protected:
    CFrontEndFixture frontEnd;  // virtual clock: the simulator's waits cost nothing
    CSimulatedAspi sim;

    void Add(const std::string& text) { sim.AddDevice(Profile(text)); }
    uint64_t MicrosSince(uint64_t start) const { return frontEnd.clock.Micros() - start; }
};

void ExpectCheck(const SimReply& r, uint8_t key, uint8_t asc, uint8_t ascq)
{
    EXPECT_EQ(aspi::SS_ERR, r.srb.SRB_Status);
    EXPECT_EQ(aspi::STATUS_CHKCOND, r.srb.SRB_TargStat);
    EXPECT_EQ(aspi::HASTAT_OK, r.srb.SRB_HaStat);
    EXPECT_EQ(0x70, r.srb.SenseArea[0]);  // fixed format, current error
    EXPECT_EQ(10, r.srb.SenseArea[7]);
    EXPECT_EQ(key, r.SenseKey());
    EXPECT_EQ(asc, r.Asc());
    EXPECT_EQ(ascq, r.Ascq());
}

std::vector<uint8_t> Generated(const SimProfile& p, uint32_t lba)
{
    std::vector<uint8_t> s(kSimSectorSize);
    GenerateSector(p, lba, s.data());
    return s;
}

std::vector<uint8_t> SectorOf(const SimReply& r, unsigned i)
{
    return std::vector<uint8_t>(r.data.begin() + i * kSimSectorSize, r.data.begin() + (i + 1) * kSimSectorSize);
}

}  // namespace

TEST(SimContent, GeneratedSectorsFollowTheFormula)
{
    SimProfile p = Profile("label HOLIDAY_2009");
    for (uint32_t lba : {0u, 1u, 250u, 0x01020304u, 0xFFFFFFFFu}) {
        auto s = Generated(p, lba);
        EXPECT_EQ(uint8_t(lba), s[0]);
        EXPECT_EQ(uint8_t(lba >> 8), s[1]);
        EXPECT_EQ(uint8_t(lba >> 16), s[2]);
        EXPECT_EQ(uint8_t(lba >> 24), s[3]);
        for (unsigned i = 4; i < kSimSectorSize; ++i) ASSERT_EQ(uint8_t((uint64_t(lba) + i) % 251), s[i]) << lba;
    }
    auto pvd = Generated(p, 16);
    EXPECT_EQ("HOLIDAY_2009                    ", std::string(pvd.begin() + 40, pvd.begin() + 72));
    EXPECT_EQ((16 + 39) % 251, pvd[39]);
    EXPECT_EQ((16 + 72) % 251, pvd[72]);
    // Sector 16 of a disc with a full-width label has no padding at all.
    auto full = Generated(Profile("label ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"), 16);
    EXPECT_EQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", std::string(full.begin() + 40, full.begin() + 72));
}

TEST_F(SimDevice, TrayAndDiscDecideReadiness)
{
    Add("");                // closed with a disc
    Add("tray open");
    Add("disc no");
    Add("tray fixed");
    EXPECT_TRUE(TestUnitReady(sim, 0).Good());
    EXPECT_EQ(aspi::STATUS_GOOD, TestUnitReady(sim, 0).srb.SRB_TargStat);
    ExpectCheck(TestUnitReady(sim, 1), 0x02, 0x3A, 0x00);
    ExpectCheck(TestUnitReady(sim, 2), 0x02, 0x3A, 0x00);
    EXPECT_TRUE(TestUnitReady(sim, 3).Good());
    // Not ready also refuses the capacity and the sectors.
    ExpectCheck(ReadCapacity(sim, 1), 0x02, 0x3A, 0x00);
    ExpectCheck(Read10(sim, 0, 1, 2), 0x02, 0x3A, 0x00);
}

TEST_F(SimDevice, EjectAndLoadMoveTheTrayUnlessItIsFixed)
{
    Add("");
    Add("tray fixed");
    Add("tray open");
    Add("tray open\ndisc no");
    EXPECT_TRUE(StartStop(sim, kEject).Good());
    ExpectCheck(TestUnitReady(sim), 0x02, 0x3A, 0x00);
    EXPECT_TRUE(StartStop(sim, kEject).Good());  // already open
    EXPECT_TRUE(StartStop(sim, kLoad).Good());
    EXPECT_TRUE(TestUnitReady(sim).Good());

    ExpectCheck(StartStop(sim, kLoad, 1), 0x05, 0x24, 0x00);
    ExpectCheck(StartStop(sim, kEject, 1), 0x05, 0x24, 0x00);
    EXPECT_TRUE(TestUnitReady(sim, 1).Good());

    EXPECT_TRUE(StartStop(sim, kLoad, 2).Good());
    EXPECT_TRUE(TestUnitReady(sim, 2).Good());
    EXPECT_TRUE(StartStop(sim, kLoad, 3).Good());  // the tray closes on nothing
    ExpectCheck(TestUnitReady(sim, 3), 0x02, 0x3A, 0x00);
}

TEST_F(SimDevice, SpinDownKeepsTheDriveReadyAndTheNextReadSpinsUp)
{
    Add("spinup_ms 1500\nsector_us 100");
    EXPECT_TRUE(StartStop(sim, kStop).Good());
    EXPECT_TRUE(TestUnitReady(sim).Good());
    uint64_t t0 = frontEnd.clock.Micros();
    EXPECT_TRUE(Read10(sim, 0, 1).Good());
    EXPECT_EQ(1500000u + 100u, MicrosSince(t0));
    t0 = frontEnd.clock.Micros();
    EXPECT_TRUE(Read10(sim, 0, 1).Good());
    EXPECT_EQ(100u, MicrosSince(t0));  // spinning already

    // Start after stop pays the spin-up once; the read after it does not.
    StartStop(sim, kStop);
    t0 = frontEnd.clock.Micros();
    EXPECT_TRUE(StartStop(sim, kStart).Good());
    EXPECT_TRUE(StartStop(sim, kStart).Good());
    EXPECT_TRUE(Read10(sim, 0, 1).Good());
    EXPECT_EQ(1500000u + 100u, MicrosSince(t0));

    // An eject stops the disc; the load brings it up again.
    StartStop(sim, kEject);
    t0 = frontEnd.clock.Micros();
    EXPECT_TRUE(StartStop(sim, kLoad).Good());
    EXPECT_EQ(1500000u, MicrosSince(t0));
}

TEST_F(SimDevice, ReadCapacityReportsTheProfileBigEndian)
{
    Add("sectors 1000\ncapacity 286719");
    Add("sectors 10\nblock_length 2352");
    auto r = ReadCapacity(sim);
    ASSERT_TRUE(r.Good());
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x04, 0x5F, 0xFF, 0x00, 0x00, 0x08, 0x00}), r.data);
    r = ReadCapacity(sim, 1);
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 9, 0, 0, 0x09, 0x30}), r.data);
    // The reported block length does not change what a READ(10) delivers.
    r = Read10(sim, 3, 2, 1);
    ASSERT_TRUE(r.Good());
    EXPECT_EQ(Generated(Profile("sectors 10"), 4), SectorOf(r, 1));
}

TEST_F(SimDevice, InquiryIdentifiesPaddedAndLeavesTheRestOfTheBuffer)
{
    Add("vendor ACME\nproduct DVD");
    auto r = Exec(sim, 0, {0x12, 0, 0, 0, 0x38, 0}, 56, 0xAA);
    ASSERT_TRUE(r.Good());
    EXPECT_EQ(0x05, r.data[0]);
    EXPECT_EQ(0x80, r.data[1]);  // removable medium
    EXPECT_EQ("ACME    DVD             ", std::string(r.data.begin() + 8, r.data.begin() + 32));
    for (size_t i = 36; i < 56; ++i) EXPECT_EQ(0xAA, r.data[i]) << i;
    // The allocation length bounds the transfer.
    r = Exec(sim, 0, {0x12, 0, 0, 0, 8, 0}, 56, 0xAA);
    EXPECT_TRUE(r.Good());
    EXPECT_EQ(0xAA, r.data[8]);
    // INQUIRY answers with the tray open too.
    StartStop(sim, kEject);
    EXPECT_TRUE(Exec(sim, 0, {0x12, 0, 0, 0, 0x38, 0}, 56).Good());
}

TEST_F(SimDevice, ReadsGeneratedSectorsAndFailsAtTheEnd)
{
    Add("sectors 100\nlabel EDGE");
    SimProfile p = Profile("sectors 100\nlabel EDGE");
    auto r = Read10(sim, 10, 16);
    ASSERT_TRUE(r.Good());
    for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(Generated(p, 10 + i), SectorOf(r, i)) << i;
    EXPECT_TRUE(Read10(sim, 99, 1).Good());
    ExpectCheck(Read10(sim, 100, 1), 0x05, 0x21, 0x00);
    ExpectCheck(Read10(sim, 90, 16), 0x05, 0x21, 0x00);  // runs over the end
    ExpectCheck(Read10(sim, 0xFFFFFFFF, 16), 0x05, 0x21, 0x00);
    EXPECT_TRUE(Read10(sim, 100, 0).Good());  // no blocks, no transfer
}

TEST_F(SimDevice, ARequestTouchingABadSectorFailsAsAWhole)
{
    Add("bad 20-20\nerror_ms 250\nsector_us 90");
    uint64_t t0 = frontEnd.clock.Micros();
    auto r = Read10(sim, 16, 16, 0, 65536);
    ExpectCheck(r, 0x03, 0x11, 0x00);
    EXPECT_EQ(250000u, MicrosSince(t0));
    // The data area holds no sector that could be mistaken for one read.
    SimProfile p = Profile("");
    for (unsigned i = 0; i < 16; ++i) EXPECT_NE(Generated(p, 16 + i), SectorOf(r, i)) << i;
    t0 = frontEnd.clock.Micros();
    EXPECT_TRUE(Read10(sim, 0, 16).Good());
    EXPECT_EQ(16u * 90u, MicrosSince(t0));
    EXPECT_TRUE(Read10(sim, 19, 1).Good());
    EXPECT_TRUE(Read10(sim, 21, 1).Good());
}

TEST_F(SimDevice, LaterLinesWinWhereRangesOverlap)
{
    Add("bad 100-200\nflaky 150-160 1");
    Add("flaky 100-200 1\nbad 150-150");
    Add("flaky 100-200 0\nflaky 120-120 1");
    EXPECT_TRUE(Read10(sim, 150, 11).Good());
    EXPECT_FALSE(Read10(sim, 149, 1).Good());
    EXPECT_FALSE(Read10(sim, 161, 1).Good());
    EXPECT_FALSE(Read10(sim, 150, 1, 1).Good());
    EXPECT_TRUE(Read10(sim, 149, 1, 1).Good());
    EXPECT_TRUE(Read10(sim, 151, 1, 1).Good());
    EXPECT_TRUE(Read10(sim, 120, 1, 2).Good());
    EXPECT_FALSE(Read10(sim, 121, 1, 2).Good());
}

TEST_F(SimDevice, FlakySectorsReadAtTheirProbabilityDeterministically)
{
    auto pattern = [this](int device) {
        std::string seen;
        for (uint32_t lba = 0; lba < 2000; ++lba) seen += Read10(sim, lba, 1, device).Good() ? '1' : '0';
        return seen;
    };
    Add("flaky 0-1999 0.3\nseed 7");
    Add("flaky 0-1999 0.3\nseed 7");
    Add("flaky 0-1999 0.3\nseed 8");
    std::string a = pattern(0);
    size_t reads = size_t(std::count(a.begin(), a.end(), '1'));
    EXPECT_GT(reads, 520u);  // 600 expected; 3.5 standard deviations either side
    EXPECT_LT(reads, 680u);
    EXPECT_EQ(a, pattern(1));
    EXPECT_NE(a, pattern(2));
}

// Given the same seed, a 16-sector request costs 16 draws, as 16 single reads do.
TEST_F(SimDevice, EverySectorOfARequestCostsOneDraw)
{
    Add("flaky 0-99 0.5\nseed 3");
    Add("flaky 0-99 0.5\nseed 3");
    Read10(sim, 0, 16, 0);
    for (uint32_t lba = 0; lba < 16; ++lba) Read10(sim, lba, 1, 1);
    std::string after0, after1;
    for (int i = 0; i < 64; ++i) {
        after0 += Read10(sim, 50, 1, 0).Good() ? '1' : '0';
        after1 += Read10(sim, 50, 1, 1).Good() ? '1' : '0';
    }
    EXPECT_EQ(after1, after0);
    EXPECT_NE(std::string(64, '0'), after0);
    EXPECT_NE(std::string(64, '1'), after0);
}

TEST_F(SimDevice, NeverWritesBeyondTheBuffer)
{
    Add("");
    // Two sectors asked into a one-sector buffer: refused, nothing written.
    std::vector<uint8_t> area(3 * kSimSectorSize, 0xCC);
    SimReply r;
    r.srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    r.srb.SRB_BufLen = kSimSectorSize;
    r.srb.SRB_BufPointer = area.data();
    r.srb.SRB_SenseLen = aspi::SENSE_LEN;
    r.srb.SRB_CDBLen = 10;
    const uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0};
    std::memcpy(r.srb.CDBByte, cdb, sizeof cdb);
    sim.SendASPI32Command(&r.srb);
    EXPECT_EQ(aspi::SS_ERR, r.srb.SRB_Status);
    EXPECT_EQ(0x12, r.srb.SRB_HaStat);  // data overrun
    EXPECT_EQ(std::vector<uint8_t>(area.size(), 0xCC), area);
    // READ CAPACITY into a short buffer, the same.
    r = Exec(sim, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 4, 0xCC);
    EXPECT_FALSE(r.Good());
    EXPECT_EQ(std::vector<uint8_t>(4, 0xCC), r.data);
    // An exact fit is fine.
    EXPECT_TRUE(Read10(sim, 0, 16, 0, 16 * kSimSectorSize).Good());
}

TEST_F(SimDevice, RefusesUnknownCommandsAndWrongCdbLengths)
{
    Add("");
    ExpectCheck(Exec(sim, 0, {0x43, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0x05, 0x20, 0x00);
    ExpectCheck(Exec(sim, 0, {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0x05, 0x24, 0x00);
    ExpectCheck(Exec(sim, 0, {0x28, 0, 0, 0, 0, 0}, 2048), 0x05, 0x24, 0x00);
}

TEST_F(SimDevice, ImageFileGivesTheContentAndFailsBeyondItsEnd)
{
    CTempDir dir;
    std::string content;
    for (int s = 0; s < 3; ++s) content += std::string(kSimSectorSize, char('A' + s));
    content += std::string(100, 'D');  // a partial fourth sector
    WriteFile(dir.File("disc.iso"), content);
    SimProfile p;
    std::string error;
    ASSERT_TRUE(ParseSimProfile("image disc.iso\nsectors 5", "disc.sim", dir.Path(), &p, &error)) << error;
    sim.AddDevice(p);
    auto r = Read10(sim, 0, 3);
    ASSERT_TRUE(r.Good());
    EXPECT_EQ(std::vector<uint8_t>(content.begin(), content.begin() + 3 * kSimSectorSize),
              std::vector<uint8_t>(r.data.begin(), r.data.begin() + 3 * kSimSectorSize));
    ExpectCheck(Read10(sim, 3, 1), 0x03, 0x11, 0x00);
    ExpectCheck(Read10(sim, 2, 2), 0x03, 0x11, 0x00);
    ExpectCheck(Read10(sim, 4, 1), 0x03, 0x11, 0x00);
    ExpectCheck(Read10(sim, 5, 1), 0x05, 0x21, 0x00);

    std::vector<uint8_t> sector(kSimSectorSize);
    ASSERT_TRUE(sim.DiscContent(0, 1, sector.data()));
    EXPECT_EQ(std::vector<uint8_t>(kSimSectorSize, 'B'), sector);
    EXPECT_FALSE(sim.DiscContent(0, 3, sector.data()));
    EXPECT_FALSE(sim.DiscContent(0, 5, sector.data()));
    EXPECT_FALSE(sim.DiscContent(1, 0, sector.data()));  // no such device
}

TEST_F(SimDevice, DiscContentIgnoresDamageAndTray)
{
    Add("bad 0-99\ntray open\nsectors 100\nlabel X");
    std::vector<uint8_t> sector(kSimSectorSize);
    ASSERT_TRUE(sim.DiscContent(0, 16, sector.data()));
    EXPECT_EQ(Generated(Profile("label X"), 16), sector);
    EXPECT_FALSE(sim.DiscContent(0, 100, sector.data()));
}

TEST_F(SimDevice, DiscRemovedAndPutBack)
{
    Add("");
    sim.SetDiscPresent(0, false);
    ExpectCheck(TestUnitReady(sim), 0x02, 0x3A, 0x00);
    ExpectCheck(Read10(sim, 0, 1), 0x02, 0x3A, 0x00);
    sim.SetDiscPresent(0, true);
    EXPECT_TRUE(Read10(sim, 0, 1).Good());
    sim.SetTrayOpen(0, true);
    ExpectCheck(TestUnitReady(sim), 0x02, 0x3A, 0x00);
    sim.SetTrayOpen(0, false);
    EXPECT_TRUE(TestUnitReady(sim).Good());
}
