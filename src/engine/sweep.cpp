// The sweep phases; sweep.h tells what each does and why.
#include "engine/sweep.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/core/settings.h"
#include "engine/recovery_engine.h"
#include "platform/clock.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kMaxSkipDoublings = 24;  // beyond any disc: 2^24 blocks
// Failed blocks whose first sector read from a read neighbour failed too,
// with none that held a readable sector: the disc fails in whole blocks, and
// the sector edges stop.
constexpr uint32_t kWholeBlockEvidence = 8;
// A failed area of at most this many sectors, between read sectors, is short:
// the retry weighs its blocks never tried too. In a longer one it weighs only
// the blocks that failed, unless the neighbourhood has shown weak blocks.
constexpr uint32_t kShortAreaSectors = 8 * kSweepBlock;
// The retry's model of a failed block: weak (reads with some chance per try)
// or dead. The chance is learned from the blocks that failed and then read;
// the share of weak blocks per neighbourhood of kZoneBlocks blocks.
constexpr uint32_t kZoneBlocks = 64;
constexpr double kPriorReads = 1;   // the chance starts as 1 read in kPriorTries
constexpr double kPriorTries = 4;
constexpr double kMinChance = 0.02;
constexpr double kMaxChance = 0.9;
constexpr int kShareIterations = 8;
// A try pays while it is expected to bring a block for a quarter of the
// give-up time in failed reads (without a give-up time, of an hour): the
// careful passes that follow keep the rest of that time.
constexpr uint32_t kNoGiveUpHorizonMs = 3600000;
constexpr uint32_t kPayingShare = 4;
constexpr uint32_t kAssumedFailureMs = 3000;  // before any failed read was timed
constexpr uint32_t kMaxRetryRounds = 1024;    // beyond any useful count: the model ends them

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
    CSweep(CRecoveryEngine& engine, ICopyRequests& copy) : engine(engine), copy(copy) {}

    // Rounds: a sweep, then the edges of what it jumped over; the inside of a
    // stretch whose edges read something is swept again in the next round.
    void Run();

private:
    enum class Read { Nothing, Good, Failed };

    void Sweep(const LbaRange& range);
    bool Edges();  // true when some stretch is to be swept again
    Read ReadAt(uint32_t lba, uint32_t count);
    uint32_t MissingMask(uint32_t lba, uint32_t count) { return engine.AccessFlags(lba, int32_t(count), false); }
    bool IsRead(uint32_t lba) { return lba >= engine.sectorsToCopy || (MissingMask(lba, 1) & 1) == 0; }
    uint32_t BlockLength(uint32_t lba) const { return std::min(kSweepBlock, engine.sectorsToCopy - lba); }
    void JumpedEdges(const Jumped& jumped);
    void SectorEdges(const LbaRange& block);
    std::vector<LbaRange> ShortAreas();
    bool KnownFailed(uint32_t lba) { return engine.failedReads.Failures(lba / kSweepBlock) != 0; }
    struct Try {
        uint32_t first = 0;
        uint32_t end = 0;   // the missing sectors of one block: first < end
        double gain = 0;    // sectors a try is expected to read
    };
    std::vector<Try> Candidates();
    void Weigh(std::vector<Try>& tries);
    double PaysAbove();
    void Retry();
    void LogPhase(const char* name, uint32_t number);

    CRecoveryEngine& engine;
    ICopyRequests& copy;
    uint32_t round = 0;
    uint32_t readInPhase = 0;
    uint32_t errorsInPhase = 0;
    std::vector<Jumped> jumpedOver;    // never tried: skipped after a failure
    std::vector<LbaRange> sweepAgain;  // never tried, inside stretches whose edges read
    std::vector<LbaRange> failed;      // blocks whose read failed, in the order found
    uint32_t wholeBlockFailures = 0;
    bool sectorsMatter = false;        // a failed block held readable sectors
    uint64_t failedMs = 0;             // drive time of this copy's failed reads ...
    uint32_t failedTimed = 0;          // ... and their number
};

// One request of `count` sectors at lba, when any of them is missing; only
// the missing ones are written and marked, each after its data is stored.
CSweep::Read CSweep::ReadAt(uint32_t lba, uint32_t count)
{
    copy.Enter(lba);
    uint32_t mask = MissingMask(lba, count);
    if (mask == 0) {
        copy.EndRequest();
        return Read::Nothing;
    }
    uint32_t before = TickCount();
    if (!engine.drive.DrvBlkRead(lba, count)) {
        failedMs += TickCount() - before;
        ++failedTimed;
        ++engine.header.readErrors;
        ++errorsInPhase;
        engine.failedReads.Failed(lba, count);
        copy.ReadFailed(lba);
        copy.EndRequest();
        return Read::Failed;
    }
    for (uint32_t i = 0; i < count;) {
        if (!(mask >> i & 1)) {
            ++i;
            continue;
        }
        uint32_t run = 1;
        while (i + run < count && (mask >> (i + run) & 1)) ++run;
        if (!engine.WriteSectors(lba + i, run, engine.drive.readBuffer + size_t(i) * engine.copySectorSize)) {
            copy.WriteFailed();
            break;
        }
        engine.AccessFlags(lba + i, int32_t(run), true);
        engine.header.sectorsRead += run;
        readInPhase += run;
        i += run;
    }
    engine.tickLastGood = engine.tickNow;
    copy.EndRequest();
    return Read::Good;
}

void CSweep::LogPhase(const char* name, uint32_t number)
{
    LogPrintf(1, "%s %lu Read %lu Errors %lu", name, (unsigned long)number, (unsigned long)readInPhase,
              (unsigned long)errorsInPhase);
    engine.ReportProgress();
    readInPhase = 0;
    errorsInPhase = 0;
}

void CSweep::Run()
{
    std::vector<LbaRange> ranges{{0, engine.sectorsToCopy}};
    while (copy.Going()) {
        ++round;
        jumpedOver.clear();
        for (const LbaRange& range : ranges) {
            if (!copy.Going()) break;
            Sweep(range);
        }
        LogPhase("Sweep", round);
        if (!copy.Going()) return;
        if (!Edges()) break;
        ranges.swap(sweepAgain);
    }
    if (copy.Going()) Retry();
}

void CSweep::Sweep(const LbaRange& range)
{
    uint32_t failures = 0;  // in a row
    size_t run = jumpedOver.size();  // the stretches jumped over since the last good read
    bool readSome = false;
    for (uint32_t lba = range.first; lba < range.end && copy.Going();) {
        uint32_t length = std::min(BlockLength(lba), range.end - lba);
        if (KnownFailed(lba)) {  // by an earlier copy in this drive: the retry weighs it
            lba += length;
            continue;
        }
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
    if (readSome && range.end < engine.sectorsToCopy)
        for (; run < jumpedOver.size(); ++run) jumpedOver[run].readBeyond = true;
}

bool CSweep::Edges()
{
    sweepAgain.clear();
    for (const Jumped& jumped : jumpedOver) {
        if (!copy.Going()) break;
        JumpedEdges(jumped);
    }
    if (!sweepAgain.empty() || !copy.Going()) {
        LogPhase("Edges", round);
        return !sweepAgain.empty();
    }
    // The last round: failed blocks, sector by sector from their read sides,
    // from low to high addresses.
    std::sort(failed.begin(), failed.end(), [](const LbaRange& a, const LbaRange& b) { return a.first < b.first; });
    for (const LbaRange& block : failed) {
        if (!copy.Going() || (!sectorsMatter && wholeBlockFailures >= kWholeBlockEvidence)) break;
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
    while (low < high && copy.Going() && !KnownFailed(low)) {
        uint32_t length = std::min(BlockLength(low), high - low);
        Read r = ReadAt(low, length);
        if (r == Read::Failed) failed.push_back({low, low + length});
        low += length;
        if (r == Read::Failed) break;
    }
    while (high > low && copy.Going()) {
        uint32_t start = std::max(low, (high - 1) / kSweepBlock * kSweepBlock);
        if (KnownFailed(start)) break;
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
        while (low < high && copy.Going() && ReadAt(low, 1) != Read::Failed) ++low;
        if (!copy.Going()) return;
        if (low == block.first) ++wholeBlockFailures;
        else if (low < high) sectorsMatter = true;
        stop = std::min(high, low + 1);  // not the sector that just failed
    }
    if (high > stop && IsRead(high)) {
        while (high > stop && copy.Going() && ReadAt(high - 1, 1) != Read::Failed) --high;
        if (!copy.Going()) return;
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

// Every block still missing that failed before (in this copy or an earlier
// one in this drive); the blocks never tried inside short failed areas, and
// in a neighbourhood where a block that failed has read since: the missing
// sectors of each, from low to high addresses.
std::vector<CSweep::Try> CSweep::Candidates()
{
    std::vector<uint32_t> blocks;
    std::vector<bool> weakZone(engine.sectorsToCopy / (kZoneBlocks * kSweepBlock) + 1);
    for (const auto& entry : engine.failedReads.Blocks()) {
        uint32_t lba = entry.first * kSweepBlock;
        if (lba >= engine.sectorsToCopy) break;
        blocks.push_back(entry.first);
        if (MissingMask(lba, BlockLength(lba)) == 0) weakZone[entry.first / kZoneBlocks] = true;
    }
    for (const LbaRange& area : ShortAreas())
        for (uint32_t block = area.first / kSweepBlock; block * kSweepBlock < area.end; ++block) blocks.push_back(block);
    for (uint32_t zone = 0; zone < weakZone.size(); ++zone) {
        if (!weakZone[zone]) continue;
        for (uint32_t block = zone * kZoneBlocks; block < (zone + 1) * kZoneBlocks; ++block) {
            uint32_t lba = block * kSweepBlock;
            if (lba >= engine.sectorsToCopy) break;
            if (MissingMask(lba, BlockLength(lba)) != 0) blocks.push_back(block);
        }
    }
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    std::vector<Try> tries;
    for (uint32_t block : blocks) {
        uint32_t lba = block * kSweepBlock;
        if (lba >= engine.sectorsToCopy) break;
        uint32_t length = BlockLength(lba);
        uint32_t mask = MissingMask(lba, length);
        if (mask == 0) continue;
        uint32_t first = 0;
        while (!(mask >> first & 1)) ++first;
        uint32_t end = length;
        while (!(mask >> (end - 1) & 1)) --end;
        tries.push_back({lba + first, lba + end, 0});
    }
    return tries;
}

// A failed block is weak (it reads with some chance a try) or dead; one
// failure cannot tell which, many can. The chance is learned from the blocks
// that failed and then read; the share of weak blocks among the failed ones of
// a neighbourhood from what was read there, counting each block still missing
// by how likely it is weak after its failures. A try's gain is the sectors it
// is expected to read.
void CSweep::Weigh(std::vector<Try>& tries)
{
    struct Zone {
        double failed = 0;
        double read = 0;
        std::vector<uint32_t> missing;  // failures of each block still missing
        double weakShare = 0.5;
    };
    std::vector<Zone> zones(engine.sectorsToCopy / (kZoneBlocks * kSweepBlock) + 1);
    double reads = kPriorReads;
    double triesSeen = kPriorTries;
    for (const auto& [block, failures] : engine.failedReads.Blocks()) {
        uint32_t lba = block * kSweepBlock;
        if (lba >= engine.sectorsToCopy) break;
        Zone& zone = zones[block / kZoneBlocks];
        zone.failed += 1;
        if (MissingMask(lba, BlockLength(lba)) == 0) {
            zone.read += 1;
            reads += 1;
            triesSeen += double(failures) + 1;
        } else {
            zone.missing.push_back(failures);
        }
    }
    const double chance = std::clamp(reads / triesSeen, kMinChance, kMaxChance);
    auto weakAfter = [chance](double share, uint32_t failures) {
        double stays = share * std::pow(1 - chance, double(failures));
        return stays / (stays + 1 - share);
    };
    for (Zone& zone : zones) {
        for (int i = 0; i < kShareIterations && zone.failed > 0; ++i) {
            double weak = zone.read;
            for (uint32_t failures : zone.missing) weak += weakAfter(zone.weakShare, failures);
            zone.weakShare = (1 + weak) / (2 + zone.failed);
        }
    }
    for (Try& t : tries) {
        uint32_t block = t.first / kSweepBlock;
        double weak = weakAfter(zones[block / kZoneBlocks].weakShare, engine.failedReads.Failures(block));
        t.gain = double(t.end - t.first) * chance * weak;
    }
}

// The gain below which a try no longer pays: one block read for as much
// failed reading as the give-up time allows.
double CSweep::PaysAbove()
{
    uint32_t horizon = GiveUpMilliseconds(settings.giveUpLevel.load(std::memory_order_relaxed));
    if (horizon == 0) horizon = kNoGiveUpHorizonMs;
    double failureMs = failedTimed != 0 ? double(failedMs) / failedTimed : kAssumedFailureMs;
    return kSweepBlock * failureMs * kPayingShare / horizon;
}

// Rounds over the blocks still missing that are worth a try, the likeliest
// first, each once a round, until no try pays.
void CSweep::Retry()
{
    for (uint32_t retry = 1; retry <= kMaxRetryRounds && copy.Going(); ++retry) {
        std::vector<Try> tries = Candidates();
        Weigh(tries);
        const double floor = PaysAbove();
        tries.erase(std::remove_if(tries.begin(), tries.end(), [floor](const Try& t) { return t.gain < floor; }),
                    tries.end());
        if (tries.empty()) break;
        std::stable_sort(tries.begin(), tries.end(), [](const Try& a, const Try& b) { return a.gain > b.gain; });
        for (const Try& t : tries) {
            if (!copy.Going()) break;
            ReadAt(t.first, t.end - t.first);
        }
        LogPhase("Retry", retry);
    }
}

}  // namespace

void RunSweepPhases(CRecoveryEngine& engine, ICopyRequests& copy)
{
    CSweep sweep(engine, copy);
    sweep.Run();
}
