#include <time.h>

#include "platform/clock.h"

namespace {

class CPosixClock : public IClock {
public:
    uint32_t TickCount() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return uint32_t(uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000);
    }
    void SleepMs(uint32_t ms) override { SleepUs(uint64_t(ms) * 1000); }
    void SleepUs(uint64_t us) override
    {
        timespec ts{time_t(us / 1000000), long(us % 1000000) * 1000};
        while (nanosleep(&ts, &ts) != 0) {
        }
    }
};

}  // namespace

IClock& SystemClock()
{
    static CPosixClock clock;
    return clock;
}
