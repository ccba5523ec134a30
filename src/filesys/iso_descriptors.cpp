// The volume descriptor set from sector 16, and the sessions of a disc
// written in several: the last one is what a mounting system shows.
#include "filesys/iso_descriptors.h"

#include <algorithm>
#include <cstring>

namespace fs {
namespace {

constexpr uint32_t kMaxDescriptors = 64;     // a set longer than this is not a volume descriptor set
constexpr unsigned kMaxSessions = 99;
constexpr uint32_t kMaxSessionGap = 32768;   // what closes one session and opens the next (11,400 sectors on a CD)

bool IsDescriptor(const uint8_t* s) { return std::memcmp(s + 1, "CD001", 5) == 0; }

bool JolietEscape(const uint8_t* svd)
{
    static const char* const kEscapes[] = {"%/@", "%/C", "%/E"};
    for (size_t i = 88; i + 3 <= 120; ++i)
        for (const char* e : kEscapes)
            if (std::memcmp(svd + i, e, 3) == 0) return true;
    return false;
}

// The descriptor set of the session that starts at `session`.
void ScanDescriptors(ISectorReader& reader, uint32_t session, Descriptors* d)
{
    uint8_t s[kFsSectorSize];
    for (uint64_t at = uint64_t(session) + kFirstDescriptor; at < uint64_t(session) + kFirstDescriptor + kMaxDescriptors; ++at) {
        if (at >= reader.SectorCount()) return;
        uint32_t lba = uint32_t(at);
        if (!reader.Read(lba, s)) {
            d->unreadable.push_back(lba);
            continue;
        }
        if (!IsDescriptor(s)) return;
        if (s[0] == 255) return;
        if (s[0] == 1 && !d->primary) {
            std::memcpy(d->pvd, s, kFsSectorSize);
            d->primary = true;
        } else if (s[0] == 2 && !d->joliet && JolietEscape(s)) {
            std::memcpy(d->svd, s, kFsSectorSize);
            d->joliet = true;
        }
    }
}


// Whether `s`, read at `lba`, is the primary descriptor of a session that
// starts 16 sectors before; *end is where the session ends. Some writers give
// the volume size from the disc's start, others from the session's.
bool SessionDescriptor(const uint8_t* s, uint32_t lba, uint32_t* end)
{
    if (s[0] != 1 || !IsDescriptor(s) || Le16(s + 128) != kFsSectorSize) return false;
    uint64_t size = Le32(s + 80), root = Le32(s + kRootRecord + 2);
    uint64_t last = size > root ? size : size + lba - kFirstDescriptor;
    if (root <= lba || root >= last || last > UINT32_MAX) return false;
    *end = uint32_t(last);
    return true;
}

// The last session of a disc written in several: each session's volume size
// is the end of all written up to it, and the next session's descriptors lie
// 16 sectors after its start, behind the gap that closed the one before.
// Without `scan` only the gaps of a CD are tried (a few reads: the reader
// may be a drive); with it every sector up to the longest gap.
Session LastSession(ISectorReader& reader, const Descriptors& first, bool scan)
{
    static const uint32_t kCdGaps[] = {0, 6900, 11400};  // back to back; later sessions; after the first
    Session last;
    last.end = VolumeEnd(first);
    uint8_t s[kFsSectorSize];
    for (bool found = true; found && last.number < kMaxSessions;) {
        found = false;
        last.unsure = false;
        uint64_t stop = std::min<uint64_t>(reader.SectorCount(), uint64_t(last.end) + kMaxSessionGap + kFirstDescriptor);
        for (uint64_t at = uint64_t(last.end) + kFirstDescriptor, probe = 0; at < stop && !found; ++at) {
            if (!scan) {
                if (probe == 3) break;
                at = uint64_t(last.end) + kFirstDescriptor + kCdGaps[probe++];
                if (at >= stop) break;
            }
            uint32_t lba = uint32_t(at);
            uint32_t end = 0;
            if (lba - kFirstDescriptor <= last.start) continue;
            if (!reader.Present(lba) || !reader.Read(lba, s)) {
                last.unsure = true;
                continue;
            }
            if (!SessionDescriptor(s, lba, &end)) continue;
            last.start = lba - kFirstDescriptor;
            last.end = end;
            ++last.number;
            found = true;
        }
    }
    return last;
}

}  // namespace

Session ReadSession(ISectorReader& reader, Descriptors* d, bool scan)
{
    ScanDescriptors(reader, 0, d);
    Session last = LastSession(reader, *d, scan);
    if (last.number > 1) {
        *d = Descriptors();
        ScanDescriptors(reader, last.start, d);
    }
    return last;
}

bool HasIsoDescriptors(ISectorReader& reader)
{
    uint8_t s[kFsSectorSize];
    for (uint32_t lba = kFirstDescriptor; lba < kFirstDescriptor + kMaxDescriptors; ++lba) {
        if (!reader.Read(lba, s)) continue;
        return IsDescriptor(s);
    }
    return false;
}

uint32_t IsoVolumeSectors(ISectorReader& reader)
{
    Descriptors d;
    return ReadSession(reader, &d, false).end;
}

}  // namespace fs
