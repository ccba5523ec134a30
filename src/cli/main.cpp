// gleanor: the command-line program on the portable engine.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/interrupt.h"

int main(int argc, char** argv)
{
    Options options;
    std::string error;
    if (!ParseCommandLine(argc, argv, &options, &error)) {
        std::fprintf(stderr, "gleanor: %s\n", error.c_str());
        return kExitUsage;
    }
    CliIo io;
    io.terminal = IsTerminal(stderr);
    io.interactive = IsTerminal(stdin) && io.terminal;  // the question must be seen to be answered
    io.columns = io.terminal ? TerminalColumns(stderr) : 0;
    InstallInterruptHandler();
    return RunGleanor(options, io);
}
