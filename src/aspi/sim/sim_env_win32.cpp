#include <windows.h>

#include "aspi/sim/sim_drive.h"

// The Win32 environment block, not the C runtime's copy: a test or a front end
// that calls SetEnvironmentVariableA must be seen by the simulator in a DLL.
std::string SimEnvironment(const char* name)
{
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) return "";
    std::string value(size, '\0');
    DWORD got = GetEnvironmentVariableA(name, value.data(), size);
    if (got == 0 || got >= size) return "";
    value.resize(got);
    return value;
}
