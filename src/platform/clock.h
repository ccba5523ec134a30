// Tick count and sleep: the one place the program reads time.
//
// Engine and drive code call TickCount()/SleepMs() and never the system clock,
// so tests (and `--sim-clock virtual`) can swap in a clock whose sleeps advance
// time at once.
#pragma once
#include <atomic>
#include <cstdint>

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since some origin, wrapping at 2^32 like GetTickCount.
    virtual uint32_t TickCount() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
    // Sub-millisecond waits (the simulated drive's per-sector time).
    virtual void SleepUs(uint64_t us) = 0;
};

// The system clock: steady clock and nanosleep (GetTickCount/Sleep on Windows).
IClock& SystemClock();

// A clock that only moves when someone sleeps on it. Keeps microseconds so that
// many short waits (90 us per sector) add up. Safe to use from several threads.
class CVirtualClock : public IClock {
public:
    explicit CVirtualClock(uint32_t startTick = 0x10000) : micros_(uint64_t(startTick) * 1000) {}
    uint32_t TickCount() override { return uint32_t(micros_.load(std::memory_order_relaxed) / 1000); }
    void SleepMs(uint32_t ms) override { Advance(uint64_t(ms) * 1000); }
    void SleepUs(uint64_t us) override { Advance(us); }
    void Advance(uint64_t us) { micros_.fetch_add(us, std::memory_order_relaxed); }
    uint64_t Micros() const { return micros_.load(std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> micros_;
};

// The clock in force for the whole process; the system clock unless replaced.
IClock& Clock();
void SetClock(IClock* clock);  // nullptr restores the system clock

inline uint32_t TickCount() { return Clock().TickCount(); }
inline void SleepMs(uint32_t ms) { Clock().SleepMs(ms); }
