#include <condition_variable>
#include <mutex>

#include "platform/event.h"

namespace {

struct PosixEvent {
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
};

}  // namespace

bool CCompletionEvent::Create()
{
    if (!handle_) handle_ = new PosixEvent;
    return true;
}

void CCompletionEvent::Reset()
{
    if (!handle_) return;
    auto* e = static_cast<PosixEvent*>(handle_);
    std::lock_guard<std::mutex> guard(e->lock);
    e->signalled = false;
}

void CCompletionEvent::Wait()
{
    if (!handle_) return;
    auto* e = static_cast<PosixEvent*>(handle_);
    std::unique_lock<std::mutex> guard(e->lock);
    e->changed.wait(guard, [e] { return e->signalled; });
}

void CCompletionEvent::Close()
{
    delete static_cast<PosixEvent*>(handle_);
    handle_ = nullptr;
}

void SignalCompletionEvent(void* handle)
{
    if (!handle) return;
    auto* e = static_cast<PosixEvent*>(handle);
    std::lock_guard<std::mutex> guard(e->lock);
    e->signalled = true;
    e->changed.notify_all();
}
