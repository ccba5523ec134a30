// The simulated drive's profile parser over arbitrary text: it never crashes,
// refuses with a message that names the file and line, and what it accepts
// is a profile the simulator can run (ranges in order, probabilities in 0..1).
#include <fuzzer/FuzzedDataProvider.h>

#include "aspi/sim/sim_drive.h"
#include <sys/stat.h>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string dir = [] {
        std::string d = fuzz::ScratchDir() + "profiles/";
        mkdir(d.c_str(), 0700);
        static const uint8_t kSector[2048] = {};
        fuzz::WriteFileBytes(d + "disc.bin", kSector, sizeof kSector);
        return d;
    }();
    std::string text(reinterpret_cast<const char*>(data), size);
    // A profile may name any file as its image; keep the parser away from
    // device files that would block it (it only ever reads named files).
    if (text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos) return 0;

    SimProfile profile;
    std::string error;
    const std::string where = "fuzz.sim";
    if (!ParseSimProfile(text, where, dir, &profile, &error)) {
        fuzz::Check(error.compare(0, where.size() + 1, where + ":") == 0, "a refusal does not name the file");
        return 0;
    }
    for (const SimRange& r : profile.ranges) {
        fuzz::Check(r.first <= r.last, "an inverted range was accepted");
        fuzz::Check(r.probability >= 0 && r.probability <= 1, "a probability outside 0..1 was accepted");
    }
    if (profile.image.empty() && profile.sectors > 16) {
        uint8_t sector[kSimSectorSize];
        GenerateSector(profile, 16, sector);  // the label sector
    }
    return 0;
}
