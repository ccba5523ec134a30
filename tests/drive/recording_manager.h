// An ASPI manager for tests: records every request record it is handed as one
// line of text and answers from prepared devices, so a test can compare the
// whole conversation between the drive object and the manager at once.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "drive/aspi_library.h"
#include "drive/aspi_records.h"

struct FakeAdapter {
    uint8_t status = aspi::SS_COMP;
    std::string managerId;   // up to 16 characters
    std::string identifier;  // up to 16 characters
};

struct FakeDevice {
    uint8_t type = aspi::DTYPE_CDROM;
    bool answersInquiry = true;
    int inquiryBytes = 56;                      // how much of the reply the device writes
    std::string vendor = "VENDOR  ";            // 8 characters as INQUIRY delivers them
    std::string product = "PRODUCT         ";  // 16 characters
    bool ready = true;
    bool trayMoves = true;                       // START STOP with LoEj succeeds
    uint8_t capacity[8] = {0, 0, 0x4E, 0x1F, 0, 0, 8, 0};  // 19999, 2048
    uint32_t readableTo = 0xFFFFFFFF;            // last LBA that reads
    std::set<uint32_t> unreadable;
    std::string volumeId = "FAKEDISC";           // written at offset 40 of sector 16, space padded
};

class CRecordingManager : public IAspiManager {
public:
    ~CRecordingManager() override;

    uint32_t GetASPI32SupportInfo() override;
    uint32_t SendASPI32Command(void* srb) override;

    // A device of type `type` answering at that address.
    FakeDevice& Device(uint8_t ha, uint8_t target, uint8_t lun);
    // Waits for every late completion to have signalled.
    void JoinCompletions();

    uint32_t support = 0x0101;  // status 1, one adapter
    std::map<uint8_t, FakeAdapter> adapters;  // adapters without an entry answer SS_COMP, empty texts
    uint8_t failStatus = aspi::SS_ERR;        // status of a failing SCSI command
    // Executed commands complete on another thread after a short real delay:
    // SendASPI32Command returns SS_PENDING and signals SRB_PostProc later.
    bool completeLater = false;
    // Append "@<tick>" (the process clock) to each executed command's line.
    bool stampTime = false;
    bool record = true;    // false: answer without writing the log (nothing allocated)

    std::vector<std::string> log;       // "exec 0:1:3 48 56 12 00 00 00 38 00", "timeout 0:1:3 10 30", ...
    std::vector<std::string> problems;  // record fields that a real manager would reject
    int hostAdapterInquiries = 0;
    std::map<uint8_t, int> deviceTypeRequests;  // per adapter
    int execCount = 0;
    int BlockReads() const;  // READ(10) commands in the log

private:
    using Address = std::tuple<uint8_t, uint8_t, uint8_t>;
    uint32_t AnswerAdapter(aspi::SRB_HAInquiry& srb);
    uint32_t AnswerDeviceType(aspi::SRB_GDEVBlock& srb);
    uint32_t AnswerExec(aspi::SRB_ExecSCSICmd& srb);
    uint32_t Complete(aspi::SRB_ExecSCSICmd& srb);
    uint8_t Execute(FakeDevice& device, aspi::SRB_ExecSCSICmd& srb);
    void Check(const aspi::SRB_ExecSCSICmd& srb);

    std::map<Address, FakeDevice> devices_;
    std::vector<std::thread> completions_;
};

// A library whose entry points reach `manager`, or lack the ones named.
class CPartialLibrary : public IAspiLibrary {
public:
    explicit CPartialLibrary(IAspiManager* manager) : inner_(manager) {}
    bool Load() override;
    void* Resolve(const char* name) override;
    void Free() override;

    bool loads = true;
    std::set<std::string> missing;
    int loadCalls = 0;
    int freeCalls = 0;

private:
    CInProcessAspiLibrary inner_;
};
