// When a file was last changed, as a volume records it.
#pragma once
#include <cstdint>

struct FileTime {
    bool known = false;
    int64_t seconds = 0;       // since 1970-01-01 00:00 UTC
    uint32_t nanoseconds = 0;
};

// The 7-byte date of an ISO 9660 directory record: years since 1900, month,
// day, hour, minute, second, offset from UTC in 15-minute steps.
FileTime IsoRecordTime(const uint8_t* p);
// A 12-byte UDF timestamp: type and time zone, year, month, day, hour,
// minute, second, centiseconds, hundreds of microseconds, microseconds.
FileTime UdfTimestamp(const uint8_t* p);
