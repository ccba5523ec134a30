// `gleanor copy`: source ready, forced size, runRequested, the copy watched to
// its end; exits with the copy's outcome code.
#pragma once
#include "cli/front_end.h"

int RunCopyCommand(CFrontEnd& fe);
