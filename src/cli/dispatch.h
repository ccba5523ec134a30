// The whole program behind main(): the parsed command line to its command.
#pragma once
#include "cli/front_end.h"

// `manager`, when given, stands in for the ASPI layer (tests hand in a
// simulator whose state outlives one command).
int RunGleanor(const Options& options, const CliIo& io, IAspiManager* manager = nullptr);
