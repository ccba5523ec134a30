// Ctrl-C on the command line. The first one asks for a pause: the handler only
// counts, and the main loop, which polls the count at least every 100 ms,
// clears runRequested, so the copy ends after its current request with every
// flag on disk consistent. The second one ends the program at once.
#pragma once

// Installs the SIGINT handler (the second interrupt exits with status 130).
void InstallInterruptHandler();
// Interrupts seen so far.
int InterruptCount();
// What the handler does for the first interrupt; also for tests.
void NoteInterrupt();
void ResetInterrupts();
