// WNASPI32.DLL over the system's SCSI pass-through: the two ASPI entry points
// of the pass-through manager. Its drive handles are opened at the first call
// and closed when the DLL is unloaded.
#include <cstdint>

#include "aspi/spti/spti_aspi.h"
#include "aspi/spti/spti_system_win32.h"

namespace {

spti::CSptiAspi& Manager()
{
    // Built on first use, by whichever thread comes first (thread-safe static).
    static spti::CWin32SptiSystem system;
    static spti::CSptiAspi manager(system);
    return manager;
}

}  // namespace

extern "C" uint32_t __cdecl GetASPI32SupportInfo() { return Manager().GetASPI32SupportInfo(); }

extern "C" uint32_t __cdecl SendASPI32Command(void* srb) { return Manager().SendASPI32Command(srb); }
