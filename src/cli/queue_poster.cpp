#include "cli/queue_poster.h"

void CQueuePoster::Post(unsigned msg, unsigned wParam, const char* text)
{
    QueuedMessage m;
    m.msg = msg;
    m.wParam = wParam;
    if (text) m.text = text;
    {
        std::lock_guard<std::mutex> guard(lock_);
        queue_.push_back(std::move(m));
    }
    ready_.notify_one();
}

bool CQueuePoster::Next(QueuedMessage* out, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(lock_);
    // A real-time wait: under the virtual clock the front end must not move
    // simulated time, and the engine's sleeps do not wake it.
    ready_.wait_for(guard, timeout, [this] { return !queue_.empty() || woken_; });
    woken_ = false;
    if (queue_.empty()) return false;
    *out = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

void CQueuePoster::Wake()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        woken_ = true;
    }
    ready_.notify_one();
}

size_t CQueuePoster::Pending() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return queue_.size();
}
