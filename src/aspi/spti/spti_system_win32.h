// The Windows calls themselves, for the WNASPI32.DLL made of the
// pass-through manager.
#pragma once
#include "aspi/spti/spti_system.h"

namespace spti {

class CWin32SptiSystem : public ISptiSystem {
public:
    uint32_t LogicalDrives() override;
    uint32_t DriveType(const std::string& root) override;
    Handle Open(const std::string& path, uint32_t access, uint32_t share, uint32_t* error) override;
    bool Control(Handle handle, uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* returned, uint32_t* error) override;
    void Close(Handle handle) override;
    void DebugLine(const std::string& line) override;
    std::string Environment(const char* name) override;
};

}  // namespace spti
