// Builds ASPI request records for the simulator by hand, as a transport
// would, so the simulator is tested on its own, without the drive object.
#pragma once
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "aspi/sim/sim_drive.h"
#include "drive/aspi_records.h"
#include "support/fakes.h"

constexpr uint8_t kNoData = 0;

struct SimReply {
    uint32_t returned = 0;  // what SendASPI32Command returned
    aspi::SRB_ExecSCSICmd srb{};
    std::vector<uint8_t> data;
    uint8_t SenseKey() const { return srb.SenseArea[2]; }
    uint8_t Asc() const { return srb.SenseArea[12]; }
    uint8_t Ascq() const { return srb.SenseArea[13]; }
    bool Good() const { return srb.SRB_Status == aspi::SS_COMP; }
};

// One SC_EXEC_SCSI_CMD without an event: the status comes back directly.
inline SimReply Exec(CSimulatedAspi& sim, int target, std::initializer_list<uint8_t> cdb, uint32_t bufLen = 0,
                     uint8_t fill = 0)
{
    SimReply r;
    r.data.assign(bufLen, fill);
    r.srb.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    r.srb.SRB_Target = uint8_t(target);
    r.srb.SRB_Flags = bufLen ? aspi::SRB_DIR_IN : kNoData;
    r.srb.SRB_BufLen = bufLen;
    r.srb.SRB_BufPointer = bufLen ? r.data.data() : nullptr;
    r.srb.SRB_SenseLen = aspi::SENSE_LEN;
    r.srb.SRB_CDBLen = uint8_t(cdb.size());
    std::memcpy(r.srb.CDBByte, cdb.begin(), cdb.size());
    r.returned = sim.SendASPI32Command(&r.srb);
    return r;
}

inline SimReply TestUnitReady(CSimulatedAspi& sim, int target = 0) { return Exec(sim, target, {0, 0, 0, 0, 0, 0}); }
inline SimReply StartStop(CSimulatedAspi& sim, uint8_t bits, int target = 0)
{
    return Exec(sim, target, {0x1B, 0, 0, 0, bits, 0});
}
inline SimReply ReadCapacity(CSimulatedAspi& sim, int target = 0)
{
    return Exec(sim, target, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
}
inline SimReply Read10(CSimulatedAspi& sim, uint32_t lba, uint16_t count, int target = 0, uint32_t bufLen = 65536)
{
    return Exec(sim, target,
                {0x28, 0, uint8_t(lba >> 24), uint8_t(lba >> 16), uint8_t(lba >> 8), uint8_t(lba), 0,
                 uint8_t(count >> 8), uint8_t(count), 0},
                bufLen);
}

constexpr uint8_t kStop = 0x00, kStart = 0x01, kEject = 0x02, kLoad = 0x03;

// A simulator with one device from profile text (defaults for the rest).
inline SimProfile Profile(const std::string& text)
{
    SimProfile p;
    std::string error;
    EXPECT_TRUE(ParseSimProfile(text, "test.sim", "", &p, &error)) << error;
    return p;
}

inline void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
