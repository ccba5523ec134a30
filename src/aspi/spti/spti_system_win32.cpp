// The real calls under the pass-through manager.
#include <windows.h>

#include "aspi/spti/spti_system_win32.h"

namespace spti {

uint32_t CWin32SptiSystem::LogicalDrives() { return GetLogicalDrives(); }

uint32_t CWin32SptiSystem::DriveType(const std::string& root) { return GetDriveTypeA(root.c_str()); }

Handle CWin32SptiSystem::Open(const std::string& path, uint32_t access, uint32_t share, uint32_t* error)
{
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    *error = GetLastError();
    return nullptr;
}

bool CWin32SptiSystem::Control(Handle handle, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                               uint32_t* returned, uint32_t* error)
{
    DWORD bytes = 0;
    const BOOL ok = DeviceIoControl(static_cast<HANDLE>(handle), code, in, inSize, out, outSize, &bytes, nullptr);
    *returned = bytes;
    if (!ok) *error = GetLastError();
    return ok != FALSE;
}

void CWin32SptiSystem::Close(Handle handle)
{
    if (handle) CloseHandle(static_cast<HANDLE>(handle));
}

void CWin32SptiSystem::DebugLine(const std::string& line) { OutputDebugStringA(line.c_str()); }

std::string CWin32SptiSystem::Environment(const char* name)
{
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0) return "";
    std::string value(size, '\0');
    const DWORD got = GetEnvironmentVariableA(name, value.data(), size);
    if (got == 0 || got >= size) return "";
    value.resize(got);
    return value;
}

}  // namespace spti
