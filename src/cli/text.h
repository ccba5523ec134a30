// Small text helpers shared by the commands' outputs.
#pragma once
#include <cstdint>
#include <string>

#include "filesys/file_lines.h"  // Grouped, shared with the listing's lines

// A JSON string literal of `s`: quotes, backslashes and control characters
// escaped; bytes that are not valid UTF-8 (a Latin-1 name on a disc) become
// \u00XX of the byte's value, so the output is always valid JSON in UTF-8.
std::string JsonString(const std::string& s);
