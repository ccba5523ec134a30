#include "app/core/settings.h"

SettingRecord settings;

void SettingRecord::ToBytes(uint8_t out[kSettingRecordSize]) const
{
    uint32_t level = uint32_t(debugLevel.load(std::memory_order_relaxed));
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(level >> (8 * i));
    out[4] = cycleTray.load(std::memory_order_relaxed);
    out[5] = allowCooldown.load(std::memory_order_relaxed);
    out[6] = ejectOnCompletion.load(std::memory_order_relaxed);
    out[7] = spare.load(std::memory_order_relaxed);
}

void SettingRecord::FromBytes(const uint8_t in[kSettingRecordSize])
{
    uint32_t level = 0;
    for (int i = 3; i >= 0; --i) level = (level << 8) | in[i];
    debugLevel.store(int32_t(level), std::memory_order_relaxed);
    cycleTray.store(in[4], std::memory_order_relaxed);
    allowCooldown.store(in[5], std::memory_order_relaxed);
    ejectOnCompletion.store(in[6], std::memory_order_relaxed);
    spare.store(in[7], std::memory_order_relaxed);
}

void SettingRecord::SetDefaults()
{
    debugLevel.store(0, std::memory_order_relaxed);
    cycleTray.store(0, std::memory_order_relaxed);
    allowCooldown.store(1, std::memory_order_relaxed);
    ejectOnCompletion.store(0, std::memory_order_relaxed);
}
