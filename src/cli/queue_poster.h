// The command line's window: a queue of posted messages that the main thread
// drains. Each post keeps its own copy of the text, so a line is never lost or
// replaced by a newer one however far the main thread lags behind.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "platform/poster.h"

struct QueuedMessage {
    unsigned msg = 0;
    unsigned wParam = 0;
    std::string text;  // empty for notifications
};

class CQueuePoster : public IPoster {
public:
    void Post(unsigned msg, unsigned wParam, const char* text) override;
    // Takes the oldest message; waits up to `timeout` of real time for one.
    bool Next(QueuedMessage* out, std::chrono::milliseconds timeout);
    // Wakes a waiting Next early (a signal arrived, a question was answered).
    void Wake();
    size_t Pending() const;

private:
    mutable std::mutex lock_;
    std::condition_variable ready_;
    std::deque<QueuedMessage> queue_;
    bool woken_ = false;
};
