// `gleanor extract IMAGE.flg --to DIR [PATH...]`: the files of the rescued
// volume written out of its image set.
#pragma once
#include <string>

#include "cli/front_end.h"

// Exit 0: every file written whole (or found written before); 1: some left
// out or written damaged, or parts of the volume unknown; 2: the image set or
// its file system cannot be read, a named path is not in it, or a file or
// folder cannot be written.
int RunExtract(const Options& options, const CliIo& io);
