// Ctrl-C, SIGTERM and SIGHUP on the command line. The first one asks for a
// pause: the handler only counts, and the main loop, which polls the count at
// least every 100 ms, clears runRequested, so the copy ends after its current
// request with every flag on disk consistent and the header written. The
// second one ends the program at once, with one closing line.
#pragma once

// The line a copy shows when the first interrupt pauses it.
constexpr const char kPauseLine[] = "Pause: the copy ends after the current request (Ctrl-C again quits at once)";

// Installs the handlers (the second interrupt exits with status 130) and the
// one that notes a resized terminal.
void InstallInterruptHandler();
// Interrupts seen so far.
int InterruptCount();
// What the handler does for the first interrupt; also for tests.
void NoteInterrupt();
void ResetInterrupts();
// A copy command runs: SIGTERM and SIGHUP pause it. Outside one they end
// the program at once, as they would without a handler.
void SetCopyRunning(bool running);
// A copy is being watched: a second interrupt that comes before the main loop
// has shown kPauseLine shows it first. Cleared with false.
void SetCopyWatched(bool watched);
// The main loop has shown kPauseLine.
void NotePauseShown();
// True once after each SIGWINCH.
bool TakeTerminalResize();
