// WNASPI32.DLL made of the simulated drive: the two ASPI entry points, with the
// devices described by the profiles that GLEANOR_SIM lists (';' between paths).
// No profiles, or a list that fails to load, leave one adapter without devices
// (or with the devices loaded before the failing profile).
//
// GLEANOR_SIM_CLOCK=virtual makes the simulator's waits cost no time, so a
// rescue under wine runs at full speed; the program keeps its own clock.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "aspi/sim/sim_drive.h"
#include "platform/clock.h"

namespace {

void Report(const std::string& text)
{
    std::string line = "WNASPI32 (simulated): " + text + "\n";
    OutputDebugStringA(line.c_str());
    std::fputs(line.c_str(), stderr);
}

CSimulatedAspi& Simulator()
{
    // Built on first use, by whichever thread comes first (thread-safe static).
    static CSimulatedAspi sim;
    static const bool loaded = [] {
        if (SimEnvironment("GLEANOR_SIM_CLOCK") == "virtual") {
            static CVirtualClock clock;
            SetClock(&clock);
        }
        std::string error;
        if (!AddProfilesFromList(sim, SimEnvironment("GLEANOR_SIM"), &error)) Report(error);
        return true;
    }();
    (void)loaded;
    return sim;
}

}  // namespace

extern "C" uint32_t __cdecl GetASPI32SupportInfo() { return Simulator().GetASPI32SupportInfo(); }

extern "C" uint32_t __cdecl SendASPI32Command(void* srb) { return Simulator().SendASPI32Command(srb); }
