// Commands run without touching the heap: the command record and the buffers
// live in the drive object, so a long copy cannot fragment or exhaust memory.
#include <atomic>
#include <cstdlib>
#include <new>

#include "drive/drive_fixture.h"
#include "platform/poster.h"

namespace {
std::atomic<long> allocations{0};
}

// Not inlined, so the compiler does not pair malloc with a delete expression;
// where it still sees through the replacement (sanitizer builds) it may warn.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
[[gnu::noinline]] void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST_F(DriveTest, CommandsAllocateNothing)
{
    FakeDevice& disc = manager.Device(0, 0, 0);
    disc.unreadable.insert(7);
    InitAndForget();
    manager.record = false;
    SetPoster(nullptr);  // the recorder copies texts; a window post does not
    long before = allocations.load();
    drive.DrvBlkRead(0, 16);
    drive.DrvBlkRead(7, 1);  // the failure path logs twice
    drive.DrvReady();
    drive.DrvCap();
    long after = allocations.load();
    SetPoster(&fe.poster);
    EXPECT_EQ(0, after - before);
    EXPECT_EQ(4, manager.execCount);
}

}  // namespace
