#include <windows.h>

#include "platform/clock.h"

namespace {

class CWin32Clock : public IClock {
public:
    uint32_t TickCount() override { return GetTickCount(); }
    void SleepMs(uint32_t ms) override { Sleep(ms); }
    void SleepUs(uint64_t us) override
    {
        // Sleep has millisecond granularity; round up so no wait is lost entirely.
        if (us) Sleep(DWORD((us + 999) / 1000));
    }
};

}  // namespace

IClock& SystemClock()
{
    static CWin32Clock clock;
    return clock;
}
