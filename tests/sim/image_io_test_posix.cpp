#include <sys/stat.h>

#include "sim_harness.h"

// Given an image that opens but cannot be read (a folder: read fails with
// EISDIR), every READ(10) of it fails as a medium error, never as data.
TEST(SimImageIo, AnUnreadableImageFailsTheRead)
{
    CFrontEndFixture frontEnd;
    CTempDir dir;
    ASSERT_EQ(0, mkdir(dir.File("disc.iso").c_str(), 0700));
    SimProfile p;
    std::string error;
    ASSERT_TRUE(ParseSimProfile("image disc.iso\nsectors 4\n", "disc.sim", dir.Path(), &p, &error)) << error;
    CSimulatedAspi sim;
    sim.AddDevice(p);
    EXPECT_TRUE(TestUnitReady(sim).Good());
    auto r = Read10(sim, 0, 1);
    EXPECT_EQ(aspi::SS_ERR, r.srb.SRB_Status);
    EXPECT_EQ(0x03, r.SenseKey());
    EXPECT_EQ(0x11, r.Asc());
    std::vector<uint8_t> sector(kSimSectorSize);
    EXPECT_FALSE(sim.DiscContent(0, 0, sector.data()));
}
