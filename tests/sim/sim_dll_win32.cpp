// The simulated drive as WNASPI32.DLL: loaded the way the program loads the
// real one, and scanned through its two entry points with Win32 events.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "sim_harness.h"

namespace {

using SupportFn = uint32_t(__cdecl*)();
using SendFn = uint32_t(__cdecl*)(void*);

// The DLL sits in the build folder's root; this program in its tests folder.
std::string DllPath()
{
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe);
    path = path.substr(0, path.find_last_of("\\/"));
    return path.substr(0, path.find_last_of("\\/") + 1) + "WNASPI32.dll";
}

std::string ManagerId(SendFn send)
{
    aspi::SRB_HAInquiry ha{};
    ha.SRB_Cmd = aspi::SC_HA_INQUIRY;
    if (send(&ha) != aspi::SS_COMP) return "";
    return std::string(reinterpret_cast<char*>(ha.HA_ManagerId), strnlen(reinterpret_cast<char*>(ha.HA_ManagerId), 16));
}

SendFn SendOf(HMODULE dll)
{
    return reinterpret_cast<SendFn>(reinterpret_cast<void*>(GetProcAddress(dll, "SendASPI32Command")));
}

// Loads the simulator's DLL. Wine prefers its own built-in WNASPI32 even for a
// full path unless WINEDLLOVERRIDES=wnaspi32=n; then a copy under another name
// is loaded instead, so the test still reaches the simulator.
HMODULE LoadSimulatorDll(const CTempDir& dir)
{
    HMODULE dll = LoadLibraryA(DllPath().c_str());
    if (!dll) return nullptr;
    if (SendOf(dll) && ManagerId(SendOf(dll)) == "GLEANOR SIM") return dll;
    FreeLibrary(dll);
    std::string copy = dir.File("simaspi.dll");
    if (!CopyFileA(DllPath().c_str(), copy.c_str(), FALSE)) return nullptr;
    std::printf("note: the built-in WNASPI32 answered; testing a renamed copy (set WINEDLLOVERRIDES=wnaspi32=n)\n");
    return LoadLibraryA(copy.c_str());
}

}  // namespace

TEST(SimDll, ScansAndReadsThroughTheTwoEntryPoints)
{
    CTempDir dir;
    WriteFile(dir.File("one.sim"), "label FROM_DLL\nvendor DLLSIM\nbad 20-20\n");
    WriteFile(dir.File("two.sim"), "tray open\n");
    // Read by the DLL at its first call, from the Win32 environment block.
    std::string list = dir.File("one.sim") + ";" + dir.File("two.sim");
    ASSERT_TRUE(SetEnvironmentVariableA("GLEANOR_SIM", list.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableA("GLEANOR_SIM_TRACE", dir.File("trace.txt").c_str()));

    HMODULE dll = LoadSimulatorDll(dir);
    ASSERT_NE(nullptr, dll) << DllPath();
    auto support = reinterpret_cast<SupportFn>(reinterpret_cast<void*>(GetProcAddress(dll, "GetASPI32SupportInfo")));
    auto send = SendOf(dll);
    ASSERT_NE(nullptr, support);
    ASSERT_NE(nullptr, send);

    EXPECT_EQ(0x0101u, support());
    aspi::SRB_HAInquiry ha{};
    ha.SRB_Cmd = aspi::SC_HA_INQUIRY;
    EXPECT_EQ(aspi::SS_COMP, send(&ha));
    EXPECT_EQ("GLEANOR SIM", std::string(reinterpret_cast<char*>(ha.HA_ManagerId)));

    int found = 0;
    for (uint8_t target = 0; target < 8; ++target) {
        aspi::SRB_GDEVBlock dev{};
        dev.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
        dev.SRB_Target = target;
        if (send(&dev) == aspi::SS_COMP && dev.SRB_DeviceType == aspi::DTYPE_CDROM) ++found;
    }
    EXPECT_EQ(2, found);

    // A read of sector 16 the way the drive object issues it: pending, then the event.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    std::vector<uint8_t> buffer(65536);
    aspi::SRB_ExecSCSICmd s{};
    s.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    s.SRB_Flags = aspi::SRB_DIR_IN | aspi::SRB_EVENT_NOTIFY;
    s.SRB_BufLen = uint32_t(buffer.size());
    s.SRB_BufPointer = buffer.data();
    s.SRB_SenseLen = aspi::SENSE_LEN;
    s.SRB_CDBLen = 10;
    s.SRB_PostProc = event;
    const uint8_t read16[10] = {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0};
    std::memcpy(s.CDBByte, read16, sizeof read16);
    EXPECT_EQ(aspi::SS_PENDING, send(&s));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 10000));
    EXPECT_EQ(aspi::SS_COMP, s.SRB_Status);
    EXPECT_EQ("FROM_DLL", std::string(buffer.begin() + 40, buffer.begin() + 48));

    // The second device has its tray open: not ready, with the sense a drive gives.
    ResetEvent(event);
    aspi::SRB_ExecSCSICmd tur{};
    tur.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    tur.SRB_Flags = aspi::SRB_EVENT_NOTIFY;
    tur.SRB_Target = 1;
    tur.SRB_SenseLen = aspi::SENSE_LEN;
    tur.SRB_CDBLen = 6;
    tur.SRB_PostProc = event;
    EXPECT_EQ(aspi::SS_PENDING, send(&tur));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 10000));
    EXPECT_EQ(aspi::SS_ERR, tur.SRB_Status);
    EXPECT_EQ(0x02, tur.SenseArea[2]);
    EXPECT_EQ(0x3A, tur.SenseArea[12]);

    CloseHandle(event);
    FreeLibrary(dll);  // closes the trace file
    EXPECT_EQ("[0:0:0] 28 00 00 00 00 10 00 00 01 00 -> GOOD\n"
              "[0:1:0] 00 00 00 00 00 00 -> CHECK 2/3A/00\n",
              ReadText(dir.File("trace.txt")));
    SetEnvironmentVariableA("GLEANOR_SIM", nullptr);
    SetEnvironmentVariableA("GLEANOR_SIM_TRACE", nullptr);
}
