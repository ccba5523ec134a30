// `gleanor demo`: builds its own copy of the bundled scratched disc.
#pragma once
#include "cli/front_end.h"

int RunDemo(const Options& options, const CliIo& io);
