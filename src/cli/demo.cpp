// `gleanor demo`: a rescue of the bundled scratched disc on the simulated
// drive, under the virtual clock, checked sector by sector at the end.
#include <filesystem>

#include "cli/copy_command.h"
#include "cli/demo.h"
#include "cli/files_command.h"
#include "cli/paths.h"
#include "cli/rescue_check.h"
#include "cli/text.h"

namespace {

constexpr const char kDemoProfile[] = "examples/scratched.sim";
// One simulated minute without a good read ends it: long enough for several
// passes that bring back flaky sectors, short enough to finish quickly.
constexpr int kDemoGiveUpLevel = 4;
// Passes (1) and drive care (2), without the per-failure skips (3).
constexpr int kDemoLogLevel = 2;
// The demo promises to end within 90 s of wall time; past this it pauses.
constexpr std::chrono::seconds kDemoWallLimit{75};

bool Finished(int outcome)
{
    return outcome == OUTCOME_OK || outcome == OUTCOME_GIVE_UP;
}

}  // namespace

int RunDemo(const Options& given, const CliIo& io)
{
    std::string profile = FindBundledFile(kDemoProfile);
    if (profile.empty()) {
        std::fprintf(io.err, "gleanor: cannot find %s (next to the source tree or the program)\n", kDemoProfile);
        return kExitCouldNot;
    }
    std::string dir = given.demoDir.empty() ? MakeTempFolder("gleanor-demo-") : FolderWithSeparator(given.demoDir);
    std::error_code ec;
    if (dir.empty() || (std::filesystem::create_directories(dir, ec), !std::filesystem::is_directory(dir, ec))) {
        std::fprintf(io.err, "gleanor: cannot make the demo folder %s\n", dir.c_str());
        return kExitCouldNot;
    }

    Options o;
    o.command = Command::Copy;
    o.sims = {profile};
    o.virtualClock = true;
    o.dest = dir;
    o.destSet = true;
    o.giveUpLevel = kDemoGiveUpLevel;
    o.logLevel = given.logLevelSet ? given.logLevel : kDemoLogLevel;
    CFrontEnd fe(o, io, nullptr);
    fe.SetWallLimit(kDemoWallLimit);
    fe.Display().Note("Demo: rescuing the simulated scratched disc " + profile);
    fe.Display().Note("      into " + dir + " (simulated time: hours of drive work take seconds).");
    fe.Display().Note("      Watch the sweep and the edges (Sweep, Edges lines), then the careful passes");
    fe.Display().Note("      (Loop lines), drive care, and sectors that come back later.");

    int outcome = RunCopyCommand(fe);
    CRecoveryEngine& e = fe.Engine();
    CSimulatedAspi* sim = fe.Simulator();
    if (sim == nullptr || e.flagFile.GetPath()[0] == '\0') {
        fe.Error("the demo copy did not start (outcome " + std::to_string(outcome) + ")");
        return kExitCouldNot;
    }
    RescueCheck check = CheckRescue(e.flagFile.GetPath(), e.imageFile.GetPath(),
                                    [&](uint32_t lba, uint8_t* out) { return sim->DiscContent(0, lba, out); });
    if (!check.filesRead) {
        fe.Error("cannot check the rescue: " + check.problem);
        return kExitCouldNot;
    }
    fe.Print("Demo: rescued " + Grouped(check.marked) + " of " + Grouped(check.sectorCount) + " sectors into " +
             e.imageFile.GetPath());
    if (check.wrong == 0) {
        fe.Print("Demo: all " + Grouped(check.correct) + " rescued sectors are correct (compared with the disc).");
    } else {
        fe.Print("Demo: " + Grouped(check.wrong) + " sectors marked read differ from the disc (first at LBA " +
                 std::to_string(check.firstWrong) + ")!");
    }
    if (!check.headerValid) fe.Print("Demo: the flag file header's checksum does not hold!");
    std::vector<std::string> damaged = FilesAfterCopy(e.flagFile.GetPath(), e.imageFile.GetPath(), true);
    fe.Print(damaged.empty() ? "Demo: every file of the disc is complete."
                             : "Demo: the files that the rescue lacks sectors of (gleanor files " +
                                   std::string(e.flagFile.GetPath()) + "):");
    for (const std::string& line : damaged) fe.Print(line);
    return check.wrong == 0 && check.headerValid && Finished(outcome) ? kExitDone : kExitCouldNot;
}
