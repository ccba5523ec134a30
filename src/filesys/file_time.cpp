#include "filesys/file_time.h"

namespace {

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

bool Plausible(unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second)
{
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 61;
}

FileTime At(int64_t year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second,
            int64_t offsetMinutes)
{
    FileTime t;
    t.known = true;
    t.seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offsetMinutes * 60;
    return t;
}

}  // namespace

FileTime IsoRecordTime(const uint8_t* p)
{
    if (!Plausible(p[1], p[2], p[3], p[4], p[5])) return FileTime();
    int offset = static_cast<int8_t>(p[6]);
    if (offset < -48 || offset > 52) offset = 0;
    return At(1900 + p[0], p[1], p[2], p[3], p[4], p[5], int64_t(offset) * 15);
}

FileTime UdfTimestamp(const uint8_t* p)
{
    unsigned typeAndZone = unsigned(p[0] | p[1] << 8);
    int zone = int(typeAndZone & 0xFFF);
    if (zone & 0x800) zone -= 0x1000;
    if (zone < -1440 || zone > 1440) zone = 0;  // -2047: no zone recorded
    int year = int16_t(uint16_t(p[2] | p[3] << 8));
    if (year < 1 || !Plausible(p[4], p[5], p[6], p[7], p[8]) || p[9] > 99 || p[10] > 99 || p[11] > 99)
        return FileTime();
    FileTime t = At(year, p[4], p[5], p[6], p[7], p[8], zone);
    t.nanoseconds = uint32_t(p[9]) * 10000000u + uint32_t(p[10]) * 100000u + uint32_t(p[11]) * 1000u;
    return t;
}
