// `gleanor files`, and the summary of the rescued files after a copy.
#pragma once
#include <string>
#include <vector>

#include "cli/front_end.h"

// Exit 0: no file damaged; 1: some damaged or unknown; 2: the image set or its
// file system cannot be read.
int RunFiles(const Options& options, const CliIo& io);
// The image of the set that a flag file belongs to: the same name with ".iso".
std::string ImageBesideFlagFile(const std::string& flagPath);
// "files: N complete, M damaged, K unknown", with a pointer to `gleanor files`
// when M or K is not 0; with `listDamaged` instead one line per damaged file
// and per unknown part. A file system that cannot be read gives one line.
std::vector<std::string> FilesAfterCopy(const std::string& flagPath, const std::string& imagePath, bool listDamaged);
