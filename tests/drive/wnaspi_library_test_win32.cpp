// The Windows ASPI library: WNASPI32.DLL, loaded once, released once.
#include <gtest/gtest.h>
#include <windows.h>

#include "drive/aspi_library.h"

namespace {

TEST(WnaspiLibrary, LoadsOnceResolvesBothEntryPointsAndFreesCompletely)
{
    IAspiLibrary& library = PlatformAspiLibrary();
    if (!library.Load()) GTEST_SKIP() << "no WNASPI32.DLL on this machine";
    EXPECT_TRUE(library.Load());  // a second call keeps the one module
    EXPECT_NE(nullptr, library.Resolve("GetASPI32SupportInfo"));
    EXPECT_NE(nullptr, library.Resolve("SendASPI32Command"));
    EXPECT_EQ(nullptr, library.Resolve("NoSuchEntryPoint"));
    library.Free();
    // One FreeLibrary undoes the one LoadLibrary: the module is gone.
    EXPECT_EQ(nullptr, GetModuleHandleA("WNASPI32.DLL"));
    EXPECT_EQ(nullptr, library.Resolve("SendASPI32Command"));
}

}  // namespace
