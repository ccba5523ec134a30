#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "cli/interrupt.h"
#include "cli/options.h"

namespace {

std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");

void OnInterrupt(int)
{
    if (interrupts.fetch_add(1) >= 1) {
        // Only async-signal-safe calls here. The flag file is written window by
        // window as sectors are stored, so nothing on disk is left half-done.
        static const char kNewline = '\n';
        ssize_t ignored = write(STDERR_FILENO, &kNewline, 1);
        (void)ignored;
        _exit(kExitInterrupted);
    }
}

}  // namespace

void InstallInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // stdio and the queue's waits go on undisturbed
    sigaction(SIGINT, &action, nullptr);
    // A reader of our output that goes away (`| head`) must not end a rescue
    // halfway; the output is lost, the copy goes on.
    signal(SIGPIPE, SIG_IGN);
}

int InterruptCount() { return interrupts.load(); }
void NoteInterrupt() { interrupts.fetch_add(1); }
void ResetInterrupts() { interrupts.store(0); }
