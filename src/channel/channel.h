// The status and log message channel: how either thread reports to the window.
//
// A sender formats into a fixed process-wide buffer and posts a message whose
// wParam names the buffer; nothing is allocated on either side. Texts are cut
// at 99 characters so that a slot never overflows into its neighbour.
#pragma once
#include <cstdint>

constexpr unsigned WM_USER_BASE = 0x0400;  // WM_USER
constexpr unsigned UM_LOG_LINE = WM_USER_BASE + 1;      // 1025, wParam: ring slot 0..63
constexpr unsigned UM_STATUS_TEXT = WM_USER_BASE + 2;   // 1026, wParam: status slot 0..13
constexpr unsigned UM_ENGINE_STATE = WM_USER_BASE + 3;  // 1027, wParam: engine state 0..4

enum EngineState : unsigned {
    ENGINE_COPYING = 0,
    ENGINE_IDLE = 1,
    ENGINE_SHUTDOWN = 2,
    ENGINE_SOURCE_READY = 3,
    ENGINE_SOURCE_NOT_READY = 4,
};

constexpr int kLogRingSlots = 64;
constexpr int kStatusSlots = 11;     // slots 0..10 carry text
constexpr int kTextSlotSize = 100;   // 99 characters and the NUL
constexpr int kLogLevels = 5;

// Status slots (see the dialog's handler for what each one drives).
constexpr int kSlotSectors = 0;
constexpr int kSlotSource = 8;
constexpr int kSlotDestination = 9;
constexpr int kSlotTitle = 10;
constexpr int kSlotDestFolder = 11;
constexpr int kSlotRepaintMap = 12;
constexpr int kSlotRestoreTitle = 13;

extern char logRing[kLogRingSlots][kTextSlotSize];
extern int32_t logHead;  // slot written last; guarded by the ring lock
extern char statusText[kStatusSlots][kTextSlotSize];

// "Normal", "Verbose", "Detail", "Detail+", "Debug"; "?" outside 0..4.
const char* LevelName(int level);

#if defined(__GNUC__)
#define GLEANOR_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define GLEANOR_PRINTF(f, a)
#endif

// Shown when level <= settings.debugLevel: advances logHead (pre-increment
// modulo 64), formats into that slot and posts UM_LOG_LINE with it.
void LogPrintf(int level, const char* format, ...) GLEANOR_PRINTF(2, 3);
// Slots 0..10 get the text; every slot is posted as UM_STATUS_TEXT.
void StatusPrintf(int slot, const char* format, ...) GLEANOR_PRINTF(2, 3);
// UM_ENGINE_STATE with the state.
void PostEngineState(EngineState state);

// Reads a slot as the dialog does when its message arrives (under the ring
// lock, so a sender reusing the slot never tears the text being read).
void CopyLogSlot(int slot, char out[kTextSlotSize]);
void CopyStatusSlot(int slot, char out[kTextSlotSize]);

// Back to the state at program start (logHead 0, empty slots). For tests.
void ResetChannel();
