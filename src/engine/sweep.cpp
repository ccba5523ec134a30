// The sweep and the edges: read what reads first, then close in on the damage
// from both sides; then the retry rounds over short failed areas. These phases
// give the drive no care; their failures count towards the give-up time like
// those of the careful passes.
#include "engine/sweep.h"

#include <algorithm>
#include <vector>

#include "engine/recovery_engine.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kMaxSkipDoublings = 24;  // beyond any disc: 2^24 blocks
// Failed blocks whose first sector read from a read neighbour failed too,
// with none that held a readable sector: the disc fails in whole blocks, and
// the sector edges stop.
constexpr uint32_t kWholeBlockEvidence = 8;
// A failed area of at most this many sectors, between read sectors, is short:
// retried in rounds. A longer one is a dead stretch, left to the careful passes.
constexpr uint32_t kShortAreaSectors = 8 * kSweepBlock;
constexpr uint32_t kMaxRetryRounds = 16;

struct LbaRange {
    uint32_t first = 0;
    uint32_t end = 0;  // first < end <= sectorsToCopy
};

struct Jumped {
    LbaRange range;
    bool readBeyond = false;  // the sweep read something after the failures that made it
};

class CSweep {
public:
    CSweep(CRecoveryEngine& engine, ICopyRequests& copy) : e(engine), c(copy) {}

    // Rounds: a sweep, then the edges of what it jumped over; the inside of a
    // stretch whose edges read something is swept again in the next round.
    void Run();

private:
    enum class Read { Nothing, Good, Failed };

    void Sweep(const LbaRange& range);
    bool Edges();  // true when some stretch is to be swept again
    Read ReadAt(uint32_t lba, uint32_t count);
    uint32_t MissingMask(uint32_t lba, uint32_t count) { return e.AccessFlags(lba, int32_t(count), false); }
    bool IsRead(uint32_t lba) { return lba >= e.sectorsToCopy || (MissingMask(lba, 1) & 1) == 0; }
    uint32_t BlockLength(uint32_t lba) const { return std::min(kSweepBlock, e.sectorsToCopy - lba); }
    void JumpedEdges(const Jumped& jumped);
    void SectorEdges(const LbaRange& block);
    std::vector<LbaRange> ShortAreas();
    void Retry();
    void LogPhase(const char* name, uint32_t number);

    CRecoveryEngine& e;
    ICopyRequests& c;
    uint32_t round = 0;
    uint32_t readInPhase = 0;
    uint32_t errorsInPhase = 0;
    std::vector<Jumped> jumpedOver;    // never tried: skipped after a failure
    std::vector<LbaRange> sweepAgain;  // never tried, inside stretches whose edges read
    std::vector<LbaRange> failed;      // blocks whose read failed, in the order found
    uint32_t wholeBlockFailures = 0;
    bool sectorsMatter = false;        // a failed block held readable sectors
};

// One request of `count` sectors at lba, when any of them is missing; only
// the missing ones are written and marked, each after its data is stored.
CSweep::Read CSweep::ReadAt(uint32_t lba, uint32_t count)
{
    c.Enter(lba);
    uint32_t mask = MissingMask(lba, count);
    if (mask == 0) {
        c.EndRequest();
        return Read::Nothing;
    }
    if (!e.drive.DrvBlkRead(lba, count)) {
        ++e.header.readErrors;
        ++errorsInPhase;
        c.ReadFailed(lba);
        c.EndRequest();
        return Read::Failed;
    }
    for (uint32_t i = 0; i < count;) {
        if (!(mask >> i & 1)) {
            ++i;
            continue;
        }
        uint32_t run = 1;
        while (i + run < count && (mask >> (i + run) & 1)) ++run;
        if (!e.WriteSectors(lba + i, run, e.drive.readBuffer + size_t(i) * e.copySectorSize)) {
            c.WriteFailed();
            break;
        }
        e.AccessFlags(lba + i, int32_t(run), true);
        e.header.sectorsRead += run;
        readInPhase += run;
        i += run;
    }
    e.tickLastGood = e.tickNow;
    c.EndRequest();
    return Read::Good;
}

void CSweep::LogPhase(const char* name, uint32_t number)
{
    LogPrintf(1, "%s %lu Read %lu Errors %lu", name, (unsigned long)number, (unsigned long)readInPhase,
              (unsigned long)errorsInPhase);
    e.ReportProgress();
    readInPhase = 0;
    errorsInPhase = 0;
}

void CSweep::Run()
{
    std::vector<LbaRange> ranges{{0, e.sectorsToCopy}};
    while (c.Going()) {
        ++round;
        jumpedOver.clear();
        for (const LbaRange& range : ranges) {
            if (!c.Going()) break;
            Sweep(range);
        }
        LogPhase("Sweep", round);
        if (!c.Going()) return;
        if (!Edges()) break;
        ranges.swap(sweepAgain);
    }
    if (c.Going()) Retry();
}

void CSweep::Sweep(const LbaRange& range)
{
    uint32_t failures = 0;  // in a row
    size_t run = jumpedOver.size();  // the stretches jumped over since the last good read
    bool readSome = false;
    for (uint32_t lba = range.first; lba < range.end && c.Going();) {
        uint32_t length = std::min(BlockLength(lba), range.end - lba);
        Read r = ReadAt(lba, length);
        if (r != Read::Failed) {
            if (r == Read::Good) {
                failures = 0;
                readSome = true;
                for (; run < jumpedOver.size(); ++run) jumpedOver[run].readBeyond = true;
            }
            lba += length;
            continue;
        }
        failed.push_back({lba, lba + length});
        ++failures;
        uint64_t skipBlocks = (uint64_t(1) << std::min(failures - 1, kMaxSkipDoublings)) - 1;
        uint32_t next = uint32_t(std::min<uint64_t>(range.end, uint64_t(lba) + length + skipBlocks * kSweepBlock));
        LogPrintf(3, "Skipping %lu", (unsigned long)(next - lba - length));
        if (next > lba + length) jumpedOver.push_back({{lba + length, next}, false});
        lba = next;
    }
    // A stretch swept again ends at a failed block with read sectors beyond
    // it: failures up to its end lie inside damage that this sweep has found
    // readable, not in a dead end such as a dead outer edge.
    if (readSome && range.end < e.sectorsToCopy)
        for (; run < jumpedOver.size(); ++run) jumpedOver[run].readBeyond = true;
}

bool CSweep::Edges()
{
    sweepAgain.clear();
    for (const Jumped& jumped : jumpedOver) {
        if (!c.Going()) break;
        JumpedEdges(jumped);
    }
    if (!sweepAgain.empty() || !c.Going()) {
        LogPhase("Edges", round);
        return !sweepAgain.empty();
    }
    // The last round: failed blocks, sector by sector from their read sides,
    // from low to high addresses.
    std::sort(failed.begin(), failed.end(), [](const LbaRange& a, const LbaRange& b) { return a.first < b.first; });
    for (const LbaRange& block : failed) {
        if (!c.Going() || (!sectorsMatter && wholeBlockFailures >= kWholeBlockEvidence)) break;
        SectorEdges(block);
    }
    LogPhase("Edges", round);
    return false;
}

// Blocks never tried, from the front forward and from the back backward,
// each side until a read fails or the two meet.
void CSweep::JumpedEdges(const Jumped& jumped)
{
    uint32_t low = jumped.range.first;
    uint32_t high = jumped.range.end;
    uint32_t readBefore = readInPhase;
    while (low < high && c.Going()) {
        uint32_t length = std::min(BlockLength(low), high - low);
        Read r = ReadAt(low, length);
        if (r == Read::Failed) failed.push_back({low, low + length});
        low += length;
        if (r == Read::Failed) break;
    }
    while (high > low && c.Going()) {
        uint32_t start = std::max(low, (high - 1) / kSweepBlock * kSweepBlock);
        Read r = ReadAt(start, high - start);
        if (r == Read::Failed) failed.push_back({start, high});
        high = start;
        if (r == Read::Failed) break;
    }
    // A stretch in a run of failures that never ended in a good read, and
    // that gave nothing from either side, is likely dead inside: the careful
    // passes have it.
    if (low < high && (jumped.readBeyond || readInPhase > readBefore)) sweepAgain.push_back({low, high});
}

// A failed block next to read sectors, one sector at a time inward from each
// read side, until a read fails.
void CSweep::SectorEdges(const LbaRange& block)
{
    uint32_t low = block.first;
    uint32_t high = block.end;
    uint32_t stop = low;  // the back side reads down to here
    if (low == 0 || IsRead(low - 1)) {
        while (low < high && c.Going() && ReadAt(low, 1) != Read::Failed) ++low;
        if (!c.Going()) return;
        if (low == block.first) ++wholeBlockFailures;
        else if (low < high) sectorsMatter = true;
        stop = std::min(high, low + 1);  // not the sector that just failed
    }
    if (high > stop && IsRead(high)) {
        while (high > stop && c.Going() && ReadAt(high - 1, 1) != Read::Failed) --high;
        if (!c.Going()) return;
        if (high == block.end) ++wholeBlockFailures;
        else if (high > stop) sectorsMatter = true;
    }
}

// The missing runs of at most kShortAreaSectors that hold a failed block, from
// low to high addresses (`failed` is sorted by the last round of the edges).
std::vector<LbaRange> CSweep::ShortAreas()
{
    std::vector<LbaRange> areas;
    uint32_t searched = 0;  // the runs below this are known
    for (const LbaRange& block : failed) {
        uint32_t lba = std::max(block.first, searched);
        while (lba < block.end && IsRead(lba)) ++lba;
        if (lba >= block.end) continue;
        uint32_t first = lba;
        uint32_t end = lba + 1;
        while (first > 0 && !IsRead(first - 1) && end - first <= kShortAreaSectors) --first;
        while (!IsRead(end) && end - first <= kShortAreaSectors) ++end;
        searched = end;
        if (end - first <= kShortAreaSectors) areas.push_back({first, end});
    }
    return areas;
}

// Rounds over the short failed areas, each aligned piece read once a round,
// while a round reads something. One failure cannot tell a flaky block from a
// dead one; a long dead stretch would cost a failed read per block a round.
void CSweep::Retry()
{
    std::vector<LbaRange> areas = ShortAreas();
    for (uint32_t retry = 1; retry <= kMaxRetryRounds && !areas.empty() && c.Going(); ++retry) {
        for (const LbaRange& area : areas) {
            for (uint32_t lba = area.first; lba < area.end && c.Going();) {
                uint32_t length = std::min(kSweepBlock - lba % kSweepBlock, area.end - lba);
                ReadAt(lba, length);
                lba += length;
            }
        }
        bool gained = readInPhase != 0;
        LogPhase("Retry", retry);
        if (!gained) break;
    }
}

}  // namespace

void RunSweepPhases(CRecoveryEngine& engine, ICopyRequests& copy)
{
    CSweep sweep(engine, copy);
    sweep.Run();
}
