// Starting the worker thread.
#pragma once
#include <thread>

// A thread that runs fn(arg) once. The owner decides whether to wait for it
// (Join) or leave it (Detach); destroying a joinable thread detaches it.
class CWorkerThread {
public:
    CWorkerThread() = default;
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;
    ~CWorkerThread()
    {
        if (thread_.joinable()) thread_.detach();
    }
    template <class Fn, class Arg>
    bool Start(Fn fn, Arg arg)
    {
        if (thread_.joinable()) return false;
        thread_ = std::thread([fn, arg] { fn(arg); });
        return true;
    }
    void Join()
    {
        if (thread_.joinable()) thread_.join();
    }
    void Detach()
    {
        if (thread_.joinable()) thread_.detach();
    }
    bool Joinable() const { return thread_.joinable(); }

private:
    std::thread thread_;
};
