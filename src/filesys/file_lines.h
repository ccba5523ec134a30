// How the files of a listing are named in a line of text: `gleanor files`,
// `gleanor extract`, and the list Gleanor.exe writes after a copy all say
// the same thing the same way.
#pragma once
#include <cstdint>
#include <string>

#include "filesys/listing.h"

// 1234567 as "1,234,567".
std::string Grouped(uint64_t n);
// Names come from the disc: control characters are not passed on.
std::string Printable(const std::string& s);
// "missing 3 sectors, 6,144 bytes (12.5 %)".
std::string MissingText(const FileRecord& f);
// "/DCIM/IMG_1.JPG  1,024 bytes  complete", "... missing ...", "... unknown: ...",
// or a symbolic link with its target.
std::string FileLine(const FileRecord& f);
// "files: N complete, M damaged, K unknown".
std::string SummaryLine(const DamageSummary& s);
