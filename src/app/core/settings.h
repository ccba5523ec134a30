// The process-wide settings record: the log level and three options.
//
// The dialog thread writes these at any time and the worker reads them afresh
// at each use; they are atomics so that this is not a data race (relaxed order
// is enough: each is an independent value).
#pragma once
#include <atomic>
#include <cstdint>

constexpr unsigned kSettingRecordSize = 8;

// How a copy works: the careful passes alone, or first a sweep over what reads
// and the edges of the damage, then the careful passes.
constexpr uint8_t kStrategyCareful = 0;
constexpr uint8_t kStrategySweep = 1;

struct SettingRecord {
    std::atomic<int32_t> debugLevel{0};        // 0..4, "Normal" .. "Debug"
    std::atomic<uint8_t> cycleTray{0};         // "Cycle Tray"
    std::atomic<uint8_t> allowCooldown{1};     // "Allow Cooldown"
    std::atomic<uint8_t> ejectOnCompletion{0}; // "Eject" on completion
    std::atomic<uint8_t> spare{0};             // never set; saved back as read
    std::atomic<int32_t> giveUpLevel{0};       // 0..4, not persisted
    std::atomic<uint8_t> strategy{kStrategyCareful};  // not in the 8 bytes: a key of its own

    // The 8 bytes as stored in the settings file, little-endian.
    void ToBytes(uint8_t out[kSettingRecordSize]) const;
    void FromBytes(const uint8_t in[kSettingRecordSize]);
    // debugLevel 0, cycleTray 0, allowCooldown 1, ejectOnCompletion 0; spare kept.
    void SetDefaults();
};

extern SettingRecord settings;
