// Entry points for an ASPI manager that lives in this process. The transport
// calls plain function pointers, as it would call into WNASPI32.DLL, so the
// pointers lead to two trampolines that forward to the registered manager.
#include <atomic>
#include <cstring>

#include "drive/aspi_library.h"
#include "drive/aspi_records.h"

namespace {

std::atomic<IAspiManager*> registered{nullptr};

// What a manager answers when none is registered: no adapters, no manager.
constexpr uint32_t kNoManager = uint32_t(aspi::SS_NO_ASPI) << 8;

uint32_t ASPI_CALL SupportTrampoline()
{
    IAspiManager* m = registered.load(std::memory_order_acquire);
    return m ? m->GetASPI32SupportInfo() : kNoManager;
}

uint32_t ASPI_CALL SendTrampoline(void* srb)
{
    IAspiManager* m = registered.load(std::memory_order_acquire);
    if (m) return m->SendASPI32Command(srb);
    static_cast<aspi::SRB_Header*>(srb)->SRB_Status = aspi::SS_INVALID_HA;
    return aspi::SS_INVALID_HA;
}

}  // namespace

bool CInProcessAspiLibrary::Load()
{
    if (!manager_) return false;
    registered.store(manager_, std::memory_order_release);
    return true;
}

void* CInProcessAspiLibrary::Resolve(const char* name)
{
    if (registered.load(std::memory_order_acquire) != manager_ || !manager_) return nullptr;
    if (std::strcmp(name, "GetASPI32SupportInfo") == 0) return reinterpret_cast<void*>(&SupportTrampoline);
    if (std::strcmp(name, "SendASPI32Command") == 0) return reinterpret_cast<void*>(&SendTrampoline);
    return nullptr;
}

void CInProcessAspiLibrary::Free()
{
    // Only the manager this library registered is taken away.
    IAspiManager* expected = manager_;
    registered.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}
