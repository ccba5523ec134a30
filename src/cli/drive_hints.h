// Why a machine shows no drives: the likely reasons, looked up on the system.
#pragma once
#include <string>
#include <vector>

// Lines for the user after "No drives detected." on real hardware; empty when
// nothing points to a cause.
std::vector<std::string> NoDriveHints();
