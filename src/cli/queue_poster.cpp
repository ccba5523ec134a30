#include "cli/queue_poster.h"

CQueuePoster::CQueuePoster(size_t room) : roomLimit_(room ? room : 1), drainer_(std::this_thread::get_id()) {}

void CQueuePoster::Post(unsigned msg, unsigned wParam, const char* text)
{
    QueuedMessage m;
    m.msg = msg;
    m.wParam = wParam;
    if (text) m.text = text;
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (queue_.size() >= roomLimit_ && std::this_thread::get_id() != drainer_)
            room_.wait_for(guard, kMaxSenderWait, [this] { return queue_.size() < roomLimit_; });
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
    if (queue_.size() < roomLimit_) room_.notify_all();
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
