// The man page's generated sections and the bash completion, made at build
// time from the option and command tables, so that neither can drift from
// what the parser accepts.
#pragma once
#include <string>

// `tmpl` with the lines "@COMMANDS@" and "@OPTIONS@" replaced by the man
// page's entries and "@VERSION@" by `version`.
std::string ManPage(const std::string& tmpl, const std::string& version);
// The whole bash completion script for gleanor.
std::string BashCompletion();
