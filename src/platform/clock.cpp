#include "platform/clock.h"

namespace {
std::atomic<IClock*> current{nullptr};
}

IClock& Clock()
{
    IClock* c = current.load(std::memory_order_acquire);
    return c ? *c : SystemClock();
}

void SetClock(IClock* clock) { current.store(clock, std::memory_order_release); }
