// The command line's window: a queue of posted messages that the main thread
// drains. Each post keeps its own copy of the text, so a line is never lost or
// replaced by a newer one however far the main thread lags behind.
//
// Memory stays bounded all the same: a worker that posts faster than the main
// thread can show (the debug level under the virtual clock) waits for room.
// The draining thread itself never waits on its own queue, and no sender
// waits longer than a second, so a main thread busy elsewhere cannot stall it.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/poster.h"

struct QueuedMessage {
    unsigned msg = 0;
    unsigned wParam = 0;
    std::string text;  // empty for notifications
};

class CQueuePoster : public IPoster {
public:
    static constexpr size_t kDefaultRoom = 4096;
    static constexpr std::chrono::milliseconds kMaxSenderWait{1000};

    // The constructing thread is the one that drains the queue.
    explicit CQueuePoster(size_t room = kDefaultRoom);
    void Post(unsigned msg, unsigned wParam, const char* text) override;
    // Takes the oldest message; waits up to `timeout` of real time for one.
    bool Next(QueuedMessage* out, std::chrono::milliseconds timeout);
    // Wakes a waiting Next early (a signal arrived, a question was answered).
    void Wake();
    size_t Pending() const;

private:
    mutable std::mutex lock_;
    std::condition_variable ready_;
    std::condition_variable room_;
    size_t roomLimit_;
    std::thread::id drainer_;
    std::deque<QueuedMessage> queue_;
    bool woken_ = false;
};
