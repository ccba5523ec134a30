// What the ASPI managers over an operating system's SCSI interface answer
// alike: adapter texts and the time-out request over their device tables.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "drive/aspi_records.h"

namespace aspi_manager {

constexpr uint8_t SS_INVALID_SRB = 0xE0;
constexpr uint8_t kWildcard = 0xFF;                 // SC_GETSET_TIMEOUTS: every adapter/target/LUN
constexpr uint32_t kMaxTimeoutHalfSeconds = 108000; // 30 hours, the largest ASPI accepts

// A text field of SRB_HAInquiry: at most 16 characters, zero-filled.
inline void CopyText(uint8_t (&field)[16], const std::string& text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

// SRB_DIR_OUT sets the time-out (wildcards allowed; 0 means `fallback`),
// SRB_DIR_IN reads it back. Stored in half-seconds as given; converted where
// a command is issued. `Devices` holds records with adapter, target, lun and
// timeoutHalfSeconds.
template <typename Devices>
uint8_t GetSetTimeouts(aspi::SRB_GetSetTimeouts& srb, Devices& devices, uint32_t fallback)
{
    const uint32_t asked = srb.SRB_Timeout;  // a copy: the packed field is unaligned
    if (srb.SRB_Flags & aspi::SRB_DIR_OUT) {
        if (asked > kMaxTimeoutHalfSeconds) return SS_INVALID_SRB;
        auto matches = [](uint8_t wanted, uint8_t actual) { return wanted == kWildcard || wanted == actual; };
        bool any = false;
        for (auto& d : devices) {
            if (!matches(srb.SRB_HaId, d.adapter) || !matches(srb.SRB_Target, d.target) ||
                !matches(srb.SRB_Lun, d.lun))
                continue;
            d.timeoutHalfSeconds = asked ? asked : fallback;
            any = true;
        }
        return any ? aspi::SS_COMP : aspi::SS_NO_DEVICE;
    }
    if (srb.SRB_Flags & aspi::SRB_DIR_IN) {
        for (auto& d : devices) {
            if (d.adapter != srb.SRB_HaId || d.target != srb.SRB_Target || d.lun != srb.SRB_Lun) continue;
            srb.SRB_Timeout = d.timeoutHalfSeconds;
            return aspi::SS_COMP;
        }
        return aspi::SS_NO_DEVICE;
    }
    return SS_INVALID_SRB;
}

}  // namespace aspi_manager
