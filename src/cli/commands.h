// One function per command; each returns the program's exit status.
#pragma once
#include "cli/front_end.h"

int RunDrives(CFrontEnd& fe);
int RunEstimate(CFrontEnd& fe);
int RunEject(CFrontEnd& fe);
int RunLoad(CFrontEnd& fe);
int RunImport(CFrontEnd& fe);
// The copy: source ready, forced size, runRequested, the copy watched to its
// end; exits with the copy's outcome code.
int RunCopyCommand(CFrontEnd& fe);
// The demo builds its own copy of the bundled scratched disc.
int RunDemo(const Options& options, const CliIo& io);
