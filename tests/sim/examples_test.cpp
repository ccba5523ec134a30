// The bundled profiles: each one loads, and the two drives of the import
// workflow hold the same disc with damage that the other one can read.
#include "sim_harness.h"
#include "platform/rawio.h"

namespace {

std::string Example(const std::string& name) { return SourceDir() + rawio::kSep + "examples" + rawio::kSep + name; }

SimProfile LoadExample(const std::string& name)
{
    SimProfile p;
    std::string error;
    EXPECT_TRUE(LoadSimProfile(Example(name), &p, &error)) << error;
    return p;
}

bool IsBad(const SimProfile& p, uint32_t lba)
{
    for (auto it = p.ranges.rbegin(); it != p.ranges.rend(); ++it)
        if (lba >= it->first && lba <= it->last) return !it->flaky;
    return false;
}

}  // namespace

TEST(SimExamples, EveryBundledProfileLoads)
{
    for (const char* name : {"scratched.sim", "second-drive.sim", "clean.sim", "empty-tray.sim", "open-tray.sim"})
        LoadExample(name);
    EXPECT_FALSE(LoadExample("empty-tray.sim").disc);
    EXPECT_EQ(SimTray::Open, LoadExample("open-tray.sim").tray);
}

TEST(SimExamples, SecondDriveReadsWhatTheFirstNeverDoes)
{
    SimProfile first = LoadExample("scratched.sim");
    SimProfile second = LoadExample("second-drive.sim");
    EXPECT_EQ(first.label, second.label);
    EXPECT_EQ(first.sectors, second.sectors);
    EXPECT_EQ(first.capacity, second.capacity);
    uint32_t badOnFirst = 0;
    for (uint32_t lba = 0; lba < first.sectors; ++lba) {
        if (!IsBad(first, lba)) continue;
        ++badOnFirst;
        EXPECT_FALSE(IsBad(second, lba)) << lba;
    }
    EXPECT_GT(badOnFirst, 0u);
    // The label sector and the sectors the size estimate probes are readable.
    for (uint32_t lba : {16u, 1u, 2u, 4u, 8192u, 16384u, 32768u, 36864u, 38912u, 39936u, 39999u})
        EXPECT_FALSE(IsBad(first, lba) || IsBad(second, lba)) << lba;
}
