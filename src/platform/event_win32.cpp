#include <windows.h>

#include "platform/event.h"

bool CCompletionEvent::Create()
{
    if (!handle_) handle_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return handle_ != nullptr;
}

void CCompletionEvent::Reset()
{
    if (handle_) ResetEvent(static_cast<HANDLE>(handle_));
}

void CCompletionEvent::Wait()
{
    if (handle_) WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
}

void CCompletionEvent::Close()
{
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

void SignalCompletionEvent(void* handle)
{
    if (handle) SetEvent(static_cast<HANDLE>(handle));
}
