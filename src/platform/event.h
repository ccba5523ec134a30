// The completion event of ASPI commands: manual reset, unnamed, created
// non-signalled. On Windows a real event handle that the ASPI manager signals.
#pragma once

class CCompletionEvent {
public:
    CCompletionEvent() = default;
    CCompletionEvent(const CCompletionEvent&) = delete;
    CCompletionEvent& operator=(const CCompletionEvent&) = delete;
    ~CCompletionEvent() { Close(); }

    bool Create();
    void Reset();
    void Wait();  // no time limit
    void Close();
    bool Valid() const { return handle_ != nullptr; }
    // What goes into SRB_PostProc.
    void* Handle() const { return handle_; }

private:
    void* handle_ = nullptr;
};

// Signals the event behind an SRB_PostProc value (an in-process manager's side).
void SignalCompletionEvent(void* handle);
