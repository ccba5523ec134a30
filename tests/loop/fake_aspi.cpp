#include "fake_aspi.h"

#include <cstdio>
#include <cstring>

#include "drive/aspi_records.h"
#include "platform/clock.h"

namespace {
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kStartStop = 0x1B;
constexpr uint8_t kStartBit = 0x01;
constexpr uint8_t kLoEjBit = 0x02;

uint32_t BigEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutBigEndian32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
}  // namespace

uint32_t CFakeAspi::GetASPI32SupportInfo()
{
    return uint32_t(aspi::SS_COMP) << 8 | 1;
}

uint32_t CFakeAspi::SendASPI32Command(void* request)
{
    auto* header = static_cast<aspi::SRB_Header*>(request);
    switch (header->SRB_Cmd) {
    case aspi::SC_HA_INQUIRY: {
        auto* srb = static_cast<aspi::SRB_HAInquiry*>(request);
        srb->HA_Count = 1;
        srb->SRB_Status = aspi::SS_COMP;
        break;
    }
    case aspi::SC_GET_DEV_TYPE: {
        auto* srb = static_cast<aspi::SRB_GDEVBlock*>(request);
        bool present = srb->SRB_HaId == 0 && srb->SRB_Target == 0 && srb->SRB_Lun == 0;
        srb->SRB_DeviceType = present ? aspi::DTYPE_CDROM : 0x1F;
        srb->SRB_Status = present ? aspi::SS_COMP : aspi::SS_NO_DEVICE;
        break;
    }
    case aspi::SC_EXEC_SCSI_CMD: {
        auto* srb = static_cast<aspi::SRB_ExecSCSICmd*>(request);
        srb->SRB_Status = Execute(*srb);
        break;
    }
    default:
        if (header->SRB_Cmd == aspi::SC_RESCAN_SCSI_BUS) ++rescans;
        header->SRB_Status = aspi::SS_COMP;
        break;
    }
    return header->SRB_Status;
}

uint8_t CFakeAspi::Execute(aspi::SRB_ExecSCSICmd& srb)
{
    const uint8_t* cdb = srb.CDBByte;
    bool discReady = ready && !trayOpen;
    switch (cdb[0]) {
    case kTestUnitReady:
        Log("TUR");
        if (busyTurs > 0) {
            --busyTurs;
            return aspi::SS_ERR;
        }
        return discReady ? aspi::SS_COMP : aspi::SS_ERR;
    case kInquiry:
        Log("INQUIRY");
        if (srb.SRB_BufPointer && srb.SRB_BufLen >= 36) {
            std::memset(srb.SRB_BufPointer, ' ', 36);
            srb.SRB_BufPointer[0] = aspi::DTYPE_CDROM;
            std::memcpy(srb.SRB_BufPointer + 8, "FAKE    ", 8);
            std::memcpy(srb.SRB_BufPointer + 16, "UNIT TEST DRIVE ", 16);
        }
        return aspi::SS_COMP;
    case kReadCapacity:
        Log("CAPACITY");
        if (!discReady || srb.SRB_BufLen < 8) return aspi::SS_ERR;
        PutBigEndian32(srb.SRB_BufPointer, lastLba);
        PutBigEndian32(srb.SRB_BufPointer + 4, blockLength);
        return aspi::SS_COMP;
    case kRead10: {
        uint32_t lba = BigEndian32(cdb + 2);
        uint32_t count = uint32_t(cdb[7]) << 8 | cdb[8];
        Log("READ " + std::to_string(lba) + " " + std::to_string(count));
        if (readDelayUs) Clock().SleepUs(readDelayUs);
        bool ok = discReady && uint64_t(count) * blockLength <= srb.SRB_BufLen;
        for (uint32_t i = 0; ok && i < count; ++i) ok = lba + i <= lastLba && readable(lba + i);
        if (!ok) {
            if (errorMs) SleepMs(errorMs);
            return aspi::SS_ERR;
        }
        for (uint32_t i = 0; i < count * blockLength; ++i)
            srb.SRB_BufPointer[i] = ContentByte(lba + i / blockLength, i % blockLength);
        return aspi::SS_COMP;
    }
    case kStartStop: {
        bool start = cdb[4] & kStartBit;
        if (cdb[4] & kLoEjBit) {
            Log(start ? "LOAD" : "EJECT");
            if (!canMoveTray) return aspi::SS_ERR;
            trayOpen = !start;
            return aspi::SS_COMP;
        }
        Log(start ? "START" : "STOP");
        return aspi::SS_COMP;
    }
    default:
        Log("UNKNOWN");
        return aspi::SS_ERR;
    }
}

void CFakeAspi::Log(std::string text)
{
    std::lock_guard<std::mutex> guard(lock_);
    commands_.push_back(std::move(text));
    ticks_.push_back(TickCount());
}

std::vector<uint32_t> CFakeAspi::CommandTicks() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return ticks_;
}

std::vector<std::string> CFakeAspi::Commands() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return commands_;
}

void CFakeAspi::ClearCommands()
{
    std::lock_guard<std::mutex> guard(lock_);
    commands_.clear();
    ticks_.clear();
}

int CFakeAspi::ReadsOf(uint32_t lba) const
{
    std::lock_guard<std::mutex> guard(lock_);
    int n = 0;
    for (const auto& c : commands_) {
        unsigned first = 0, count = 0;
        if (std::sscanf(c.c_str(), "READ %u %u", &first, &count) == 2 && lba >= first && lba < first + count) ++n;
    }
    return n;
}

CFakeRig::CFakeRig()
{
    engine.drive.Aspi().SetLibrary(&library);
    engine.drive.InitAspi();
    engine.drive.SelectDrive(0);
    fake.ClearCommands();
}
