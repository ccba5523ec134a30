// The engine object itself and the small helpers every part of the copy uses:
// the random generator, the progress map, the give-up table and duration text.
#include <cstdio>

#include "engine/recovery_engine.h"

ProgressMap progressMap;

void ProgressMap::Clear()
{
    for (auto& cell : cells) cell.store(kCellUnvisited, std::memory_order_relaxed);
}

namespace {

struct GiveUpEntry {
    uint32_t milliseconds;  // 0: never give up
    const char* text;
};

constexpr int kGiveUpLevels = 5;
constexpr GiveUpEntry kGiveUp[kGiveUpLevels] = {
    {0, "Never Give Up"},
    {36000000, "Try 10 Hours"},
    {3600000, "Try 1 Hour"},
    {600000, "Try 10 Minutes"},
    {60000, "Try 1 Minute"},
};

// A linear congruential generator giving 15-bit values, as the C runtime's
// rand() does; any 15-bit source will do, this one is the same on every build.
constexpr uint32_t kRandMultiplier = 214013;
constexpr uint32_t kRandIncrement = 2531011;
constexpr uint32_t kRandShift = 16;
constexpr uint32_t kRand15Mask = 0x7FFF;
constexpr uint32_t kRandBits = 15;

// ScaledRandom halves its range while it is this large, so that a 15-bit
// number times the range stays below 2^32.
constexpr uint32_t kScaleLimit = 0x20000;

constexpr uint32_t kBytesPerMBShift = 20;

}  // namespace

CRecoveryEngine::CRecoveryEngine() = default;

CRecoveryEngine::~CRecoveryEngine() = default;

uint32_t GiveUpMilliseconds(int giveUpLevel)
{
    if (giveUpLevel < 0 || giveUpLevel >= kGiveUpLevels) return 0;
    return kGiveUp[giveUpLevel].milliseconds;
}

const char* GiveUpText(int giveUpLevel)
{
    if (giveUpLevel < 0 || giveUpLevel >= kGiveUpLevels) return "";
    return kGiveUp[giveUpLevel].text;
}

const char* FormatHms(uint32_t seconds)
{
    static char text[32];
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", (unsigned long)(seconds / 3600),
                  (unsigned long)(seconds / 60 % 60), (unsigned long)(seconds % 60));
    return text;
}

void CRecoveryEngine::SeedRandom(uint32_t seed)
{
    randomState = seed;
}

uint32_t CRecoveryEngine::Random15()
{
    randomState = randomState * kRandMultiplier + kRandIncrement;
    return (randomState >> kRandShift) & kRand15Mask;
}

uint32_t CRecoveryEngine::ScaledRandom(uint32_t n)
{
    uint32_t r = Random15();
    uint32_t halvings = 0;
    while (n >= kScaleLimit && halvings < kRandBits) {
        n >>= 1;
        ++halvings;
    }
    return (r * n) >> (kRandBits - halvings);
}

uint32_t CRecoveryEngine::GetDiscSizeMB()
{
    uint64_t bytes = uint64_t(drive.CopySize()) * drive.BlockLength();
    return uint32_t(bytes >> kBytesPerMBShift);
}
