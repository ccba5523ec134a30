#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "cli/interrupt.h"
#include "cli/options.h"

namespace {

std::atomic<int> interrupts{0};
std::atomic<bool> copyRunning{false};
std::atomic<bool> copyWatched{false};
std::atomic<bool> pauseShown{false};
std::atomic<bool> resized{false};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs lock-free flags");

constexpr const char kClosingLine[] =
    "gleanor: ended at once by a second interrupt; the flags on disk are consistent, "
    "and the same command resumes the copy\n";

void WriteText(const char* text)
{
    // Only async-signal-safe calls in the handler.
    ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void OnInterrupt(int sig)
{
    if (sig != SIGINT && !copyRunning.load()) _exit(128 + sig);
    if (interrupts.fetch_add(1) >= 1) {
        // The flag file is written window by window as sectors are stored, so
        // nothing on disk is left half-done.
        WriteText("\n");
        if (copyWatched.load() && !pauseShown.load()) {
            WriteText(kPauseLine);
            WriteText("\n");
        }
        WriteText(kClosingLine);
        _exit(kExitInterrupted);
    }
}

void OnResize(int)
{
    resized.store(true);
}

}  // namespace

void InstallInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // stdio and the queue's waits go on undisturbed
    // A logout (SIGHUP) or a plain `kill` (SIGTERM) pauses like Ctrl-C, so the
    // header keeps the statistics of this run.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    struct sigaction winch {};
    winch.sa_handler = OnResize;
    sigemptyset(&winch.sa_mask);
    winch.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &winch, nullptr);
    // A reader of our output that goes away (`| head`) must not end a rescue
    // halfway; the output is lost, the copy goes on.
    signal(SIGPIPE, SIG_IGN);
}

int InterruptCount() { return interrupts.load(); }
void NoteInterrupt() { interrupts.fetch_add(1); }
void ResetInterrupts()
{
    interrupts.store(0);
    pauseShown.store(false);
}
void SetCopyWatched(bool watched)
{
    copyWatched.store(watched);
    if (!watched) pauseShown.store(false);
}
void SetCopyRunning(bool running) { copyRunning.store(running); }
void NotePauseShown() { pauseShown.store(true); }
bool TakeTerminalResize() { return resized.exchange(false); }
