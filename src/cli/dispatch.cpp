// The dispatch behind main(): one command, one function.
#include "cli/dispatch.h"

#include "cli/commands.h"
#include "cli/copy_command.h"
#include "cli/demo.h"
#include "cli/files_command.h"

int RunGleanor(const Options& options, const CliIo& io, IAspiManager* manager)
{
    if (options.command == Command::Help) {
        std::fputs(UsageText(options.helpFor).c_str(), io.out);
        return kExitDone;
    }
    if (options.command == Command::Version) {
        std::fprintf(io.out, "gleanor %s\n", GLEANOR_VERSION);
        return kExitDone;
    }
    if (options.command == Command::Demo) return RunDemo(options, io);
    if (options.command == Command::Files) return RunFiles(options, io);
    CFrontEnd fe(options, io, manager);
    switch (options.command) {
    case Command::Drives: return RunDrives(fe);
    case Command::Estimate: return RunEstimate(fe);
    case Command::Eject: return RunEject(fe);
    case Command::Load: return RunLoad(fe);
    case Command::Copy: return RunCopyCommand(fe);
    case Command::Import: return fe.Opts().mapfile.empty() ? RunImport(fe) : RunMapImport(fe);
    case Command::Mapfile: return RunMapfile(fe);
    default: break;
    }
    fe.Error("no command given (see gleanor --help)");
    return kExitUsage;
}
