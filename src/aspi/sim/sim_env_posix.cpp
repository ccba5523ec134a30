#include <cstdlib>

#include "aspi/sim/sim_drive.h"

std::string SimEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
