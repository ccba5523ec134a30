// The sweep strategy: before the careful passes, read what reads, then read
// inward from the edges of the damage.
//
// Sweep: the missing sectors in requests of one aligned 16-sector block (the
// unit in which a DVD fails), no drive care; after a failed read the sweep
// jumps ahead by 0, 1, 3, 7, ... blocks as failures follow one another, and
// back to 0 after a good read. The failed blocks and the blocks jumped over
// are kept in memory.
// Edges: every stretch jumped over is read block by block from both of its
// ends inward until a read fails. Where that read something, the inside of
// the stretch is swept again in a next round (sweep, then edges); a stretch
// that gave nothing from either side is left as it is. After the last round
// every failed block that borders read sectors is read sector by sector from
// that side until a read fails, unless the disc has shown that it fails in
// whole blocks.
// Retry: one failure cannot tell a weak block from a dead one, many can. Every
// failed read is kept by block (CFailedReads, also across a pause in the same
// drive: a resumed sweep passes over the blocks that failed before and leaves
// them to the retry). The retry weighs each block still missing that failed,
// and each never tried inside a short failed area (a few blocks between read
// sectors): the chance that a try reads, learned from the blocks that failed
// and then read, times how likely the block is weak after its failures, given
// the share of weak blocks in its neighbourhood. Rounds then try every block
// whose expected sectors per try still pay, the likeliest first, with no drive
// care, until none does: a try pays while it is expected to bring a block for
// as much failed reading as the give-up time allows. A long dead stretch, such
// as a dead outer edge, is tried only where the sweep met it, and only while
// those tries pay.
// What is still missing is left to the careful passes, the only ones that give
// the drive care and try a long dead stretch again.
#pragma once
#include <cstdint>

class CRecoveryEngine;

// The running copy as a phase sees it. The copy keeps its promises behind
// these calls: its outcome, the progress map, the run request, the ticks
// (give-up time, free space, the periodic flush).
class ICopyRequests {
public:
    virtual ~ICopyRequests() = default;
    // No outcome yet: the phase may go on.
    virtual bool Going() const = 0;
    // The next request starts at lba: "Current" and the map cell it enters.
    virtual void Enter(uint32_t lba) = 0;
    // The request at lba failed: its map cell shows it.
    virtual void ReadFailed(uint32_t lba) = 0;
    // Good sectors could not be written: the copy ends with "Disk Full ???".
    virtual void WriteFailed() = 0;
    // After every request: the run request test, then a progress tick when due.
    virtual void EndRequest() = 0;
};

constexpr uint32_t kSweepBlock = 16;  // sectors of a DVD's error-correction block

// Runs the rounds of sweep and edges, then the retry rounds, while the copy is
// going; each phase logs "Sweep %lu Read %lu Errors %lu", "Edges %lu Read %lu
// Errors %lu" or "Retry %lu Read %lu Errors %lu" (round, sectors read, failed
// reads) at level 1 when it ends.
void RunSweepPhases(CRecoveryEngine& engine, ICopyRequests& copy);
