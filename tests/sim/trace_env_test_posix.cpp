#include <cstdlib>

#include "sim_harness.h"

// Given GLEANOR_SIM_TRACE, a new simulator traces from its first command on.
TEST(SimTraceEnvironment, NewSimulatorTracesToTheNamedFile)
{
    CTempDir dir;
    ASSERT_EQ(0, setenv("GLEANOR_SIM_TRACE", dir.File("trace.txt").c_str(), 1));
    {
        CSimulatedAspi sim;
        sim.AddDevice(Profile("tray open"));
        StartStop(sim, kLoad);
        TestUnitReady(sim);
    }
    unsetenv("GLEANOR_SIM_TRACE");
    EXPECT_EQ("1B 00 00 00 03 00 -> GOOD\n00 00 00 00 00 00 -> GOOD\n", ReadText(dir.File("trace.txt")));
    CSimulatedAspi quiet;
    quiet.AddDevice(Profile(""));
    TestUnitReady(quiet);
    EXPECT_EQ("1B 00 00 00 03 00 -> GOOD\n00 00 00 00 00 00 -> GOOD\n", ReadText(dir.File("trace.txt")));
}
