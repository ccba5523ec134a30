// Where the two ASPI entry points come from.
//
// The transport is written once against this: on Windows the library is
// WNASPI32.DLL (LoadLibraryA/GetProcAddress); on Linux it is a built-in
// manager (SG_IO) or the simulated drive, which answer the same four records.
#pragma once
#include <cstdint>

#if defined(_WIN32)
#define ASPI_CALL __cdecl
#else
#define ASPI_CALL
#endif

using AspiSupportFn = uint32_t(ASPI_CALL*)();
using AspiSendFn = uint32_t(ASPI_CALL*)(void* srb);

class IAspiLibrary {
public:
    virtual ~IAspiLibrary() = default;
    // Loads the library once; false when it is not there.
    virtual bool Load() = 0;
    // "GetASPI32SupportInfo" or "SendASPI32Command"; nullptr when missing.
    virtual void* Resolve(const char* name) = 0;
    virtual void Free() = 0;
};

// An ASPI manager living in this process (the SG_IO manager, the simulator,
// a test's recorder). SendASPI32Command with SRB_EVENT_NOTIFY may either
// complete at once and return the final status, or return SS_PENDING and
// signal the completion event in SRB_PostProc (SignalCompletionEvent).
class IAspiManager {
public:
    virtual ~IAspiManager() = default;
    virtual uint32_t GetASPI32SupportInfo() = 0;
    virtual uint32_t SendASPI32Command(void* srb) = 0;
};

// A library whose entry points reach `manager`. One in-process manager is
// reachable through entry points at a time (the process has one drive object).
class CInProcessAspiLibrary : public IAspiLibrary {
public:
    explicit CInProcessAspiLibrary(IAspiManager* manager) : manager_(manager) {}
    bool Load() override;
    void* Resolve(const char* name) override;
    void Free() override;

private:
    IAspiManager* manager_;
};

// The platform's own ASPI layer: WNASPI32.DLL on Windows, the SG_IO manager on Linux.
IAspiLibrary& PlatformAspiLibrary();
