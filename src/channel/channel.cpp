#include "channel/channel.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/core/settings.h"
#include "platform/poster.h"

char logRing[kLogRingSlots][kTextSlotSize];
int32_t logHead = 0;
char statusText[kStatusSlots][kTextSlotSize];

namespace {

// One lock for the ring and the slots: two threads logging at the same instant
// must not pick the same slot, and a reader must not see a half-written text.
std::mutex& ChannelLock()
{
    static std::mutex lock;
    return lock;
}

std::atomic<IPoster*> poster{nullptr};

const char* const kLevelNames[kLogLevels] = {"Normal", "Verbose", "Detail", "Detail+", "Debug"};

void FormatInto(char* slot, const char* format, va_list args)
{
    // vsnprintf cuts at 99 characters and always terminates.
    int n = std::vsnprintf(slot, kTextSlotSize, format, args);
    if (n < 0) slot[0] = '\0';
}

}  // namespace

void SetPoster(IPoster* p) { poster.store(p, std::memory_order_release); }
IPoster* Poster() { return poster.load(std::memory_order_acquire); }

const char* LevelName(int level)
{
    return (level >= 0 && level < kLogLevels) ? kLevelNames[level] : "?";
}

void LogPrintf(int level, const char* format, ...)
{
    if (level > settings.debugLevel.load(std::memory_order_relaxed)) return;
    char copy[kTextSlotSize];
    int slot;
    {
        std::lock_guard<std::mutex> guard(ChannelLock());
        logHead = (logHead + 1) & (kLogRingSlots - 1);
        slot = logHead;
        va_list args;
        va_start(args, format);
        FormatInto(logRing[slot], format, args);
        va_end(args);
        std::memcpy(copy, logRing[slot], kTextSlotSize);
    }
    if (IPoster* p = Poster()) p->Post(UM_LOG_LINE, unsigned(slot), copy);
}

void StatusPrintf(int slot, const char* format, ...)
{
    char copy[kTextSlotSize] = "";
    bool hasText = slot >= 0 && slot < kStatusSlots;
    if (hasText) {
        std::lock_guard<std::mutex> guard(ChannelLock());
        va_list args;
        va_start(args, format);
        FormatInto(statusText[slot], format, args);
        va_end(args);
        std::memcpy(copy, statusText[slot], kTextSlotSize);
    }
    if (IPoster* p = Poster()) p->Post(UM_STATUS_TEXT, unsigned(slot), hasText ? copy : nullptr);
}

void PostEngineState(EngineState state)
{
    if (IPoster* p = Poster()) p->Post(UM_ENGINE_STATE, unsigned(state), nullptr);
}

void CopyLogSlot(int slot, char out[kTextSlotSize])
{
    std::lock_guard<std::mutex> guard(ChannelLock());
    std::memcpy(out, logRing[slot & (kLogRingSlots - 1)], kTextSlotSize);
}

void CopyStatusSlot(int slot, char out[kTextSlotSize])
{
    std::lock_guard<std::mutex> guard(ChannelLock());
    if (slot >= 0 && slot < kStatusSlots)
        std::memcpy(out, statusText[slot], kTextSlotSize);
    else
        out[0] = '\0';
}

void ResetChannel()
{
    std::lock_guard<std::mutex> guard(ChannelLock());
    logHead = 0;
    std::memset(logRing, 0, sizeof logRing);
    std::memset(statusText, 0, sizeof statusText);
}
