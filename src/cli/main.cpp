// gleanor: the command-line program on the portable engine.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/dispatch.h"
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
    // A terminal that cannot move the cursor (TERM=dumb, an editor's shell)
    // gets plain lines, as a file does.
    const char* term = std::getenv("TERM");
    io.terminal = IsTerminal(stderr) && !(term != nullptr && std::strcmp(term, "dumb") == 0);
    io.interactive = IsTerminal(stdin) && io.terminal;  // the question must be seen to be answered
    io.columns = io.terminal ? TerminalColumns(stderr) : 0;
    InstallInterruptHandler();
    return RunGleanor(options, io);
}
