// The Windows ASPI layer: WNASPI32.DLL, loaded at run time once, so the
// program starts (and says why there are no drives) when it is missing.
#include <windows.h>

#include "drive/aspi_library.h"

namespace {

constexpr const char kAspiDll[] = "WNASPI32.DLL";

// A module handle that frees itself.
class CModule {
public:
    CModule() = default;
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;
    ~CModule() { Reset(); }

    bool Load(const char* name)
    {
        if (!handle_) handle_ = LoadLibraryA(name);
        return handle_ != nullptr;
    }
    void* Symbol(const char* name) const
    {
        return handle_ ? reinterpret_cast<void*>(GetProcAddress(handle_, name)) : nullptr;
    }
    void Reset()
    {
        if (handle_) FreeLibrary(handle_);
        handle_ = nullptr;
    }

private:
    HMODULE handle_ = nullptr;
};

class CWnaspiLibrary : public IAspiLibrary {
public:
    bool Load() override { return module_.Load(kAspiDll); }
    void* Resolve(const char* name) override { return module_.Symbol(name); }
    void Free() override { module_.Reset(); }

private:
    CModule module_;
};

}  // namespace

IAspiLibrary& PlatformAspiLibrary()
{
    static CWnaspiLibrary library;
    return library;
}
