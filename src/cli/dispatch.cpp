// The dispatch behind main(): one command, one function.
#include "cli/dispatch.h"

#include "cli/commands.h"
#include "cli/copy_command.h"
#include "cli/demo.h"
#include "cli/extract_command.h"
#include "cli/files_command.h"
#include "cli/result_json.h"

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
    if (options.command == Command::Extract) return RunExtract(options, io);
    CFrontEnd fe(options, io, manager);
    if (options.json && (options.command == Command::Copy || options.command == Command::Import)) {
        auto start = std::chrono::steady_clock::now();
        CommandResult r;
        r.command = CommandName(options.command);
        r.status = options.command == Command::Copy ? RunCopyCommand(fe)
                   : fe.Opts().mapfile.empty()      ? RunImport(fe)
                                                    : RunMapImport(fe);
        if (options.command == Command::Copy) {
            r.outcome = fe.LastOutcome();
            r.outcomeText = fe.LastOutcomeText();
        }
        r.flagPath = fe.Engine().flagFile.GetPath();
        r.runSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        fe.Print(ResultJson(r));
        return r.status;
    }
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
