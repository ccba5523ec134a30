// CheckHeader over arbitrary flag file bytes, drive sizes and answers.
// A refused header stays on disk byte for byte; an accepted existing header
// is used as read and not rewritten; a short file becomes a complete new
// header (summing to zero) with every sector missing.
#include <fuzzer/FuzzedDataProvider.h>

#include <memory>

#include "aspi/sim/sim_drive.h"
#include "engine/recovery_engine.h"
#include "fuzz/fuzz_support.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kBlockLengths[] = {2048, 2352, 4096, 512, 8192, 0};
constexpr int kDevices = int(sizeof kBlockLengths / sizeof kBlockLengths[0]);
constexpr uint32_t kMaxNewSectors = 1u << 16;  // keeps creating a bitmap cheap
constexpr size_t kMaxFileBytes = 256;
constexpr int kMaxAnswers = 6;

struct Rig {
    CVirtualClock clock;
    CSimulatedAspi sim;
    std::unique_ptr<CInProcessAspiLibrary> library;
    CRecoveryEngine engine;

    Rig()
    {
        SetClock(&clock);
        for (uint32_t length : kBlockLengths) {
            SimProfile p;
            p.sectors = 100000;
            p.capacity = 99999;
            p.capacitySet = true;
            p.blockLength = length;
            sim.AddDevice(p);
        }
        library = std::make_unique<CInProcessAspiLibrary>(&sim);
        engine.drive.Aspi().SetLibrary(library.get());
        if (!engine.drive.InitAspi() || engine.drive.DriveCount() != kDevices) fuzz::Fail("simulated drives missing");
    }
};

void CheckNewFile(const std::vector<uint8_t>& after, const CRecoveryEngine& engine, uint32_t copySize)
{
    fuzz::Check(after.size() == kFlagHeaderSize + 4 * (size_t(copySize) / 32 + 3), "new flag file has the wrong length");
    FlagHeader h;
    h.Decode(after.data());
    fuzz::Check(h.Sum() == 0, "new header does not sum to zero");
    fuzz::Check(h.sectorCount == copySize, "new header has the wrong sector count");
    fuzz::Check(h.sectorsRead == 0 && h.readErrors == 0 && h.elapsedSeconds == 0, "new header counters not zero");
    fuzz::Check(h.sectorSize == kNormalSectorSize || h.sectorSize == engine.drive.BlockLength(),
                "new header sector size is neither 2048 nor the drive's");
    for (size_t i = kFlagHeaderSize; i < after.size(); ++i) fuzz::Check(after[i] == 0xFF, "new bitmap not all missing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Rig rig;
    static const std::string path = fuzz::ScratchDir() + "header.flg";
    CRecoveryEngine& engine = rig.engine;

    FuzzedDataProvider in(data, size);
    int device = in.ConsumeIntegralInRange<int>(0, kDevices - 1);
    uint32_t copySize = in.ConsumeIntegral<uint32_t>();
    uint32_t reported = in.ConsumeBool() ? copySize : in.ConsumeIntegral<uint32_t>();
    std::vector<int> answers;
    for (int i = 0; i < kMaxAnswers; ++i) answers.push_back(fuzz::AnswerFromByte(in.ConsumeIntegral<uint8_t>()));
    std::vector<uint8_t> before = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, kMaxFileBytes));
    if (before.size() < kFlagHeaderSize) copySize %= kMaxNewSectors;
    if (before.size() >= kFlagHeaderSize && in.ConsumeBool()) {
        // Mostly well-formed headers, so the size and sector-size questions are reached.
        FlagHeader h;
        h.Decode(before.data());
        h.checksum -= h.Sum();
        uint8_t bytes[kFlagHeaderSize];
        h.Encode(bytes);
        std::copy(bytes, bytes + kFlagHeaderSize, before.begin());
    }

    engine.drive.SelectDrive(device);
    engine.drive.SetCopySize(copySize);
    engine.drive.reportedLastLba = reported;
    if (!fuzz::WriteFileBytes(path, before)) fuzz::Fail("cannot write the flag file");

    fuzz::CByteAnswers prompt(answers);
    SetPrompt(&prompt);
    engine.flagFile.SetPath(path.c_str());
    fuzz::Check(engine.flagFile.Open(), "flag file does not open");
    bool accepted = engine.CheckHeader();
    engine.flagFile.Close();
    SetPrompt(nullptr);

    std::vector<uint8_t> after = fuzz::ReadFileBytes(path);
    if (before.size() >= kFlagHeaderSize) {
        fuzz::Check(after == before, "an existing flag file was changed by CheckHeader");
        if (accepted) {
            uint8_t bytes[kFlagHeaderSize];
            engine.header.Encode(bytes);
            fuzz::Check(std::equal(bytes, bytes + kFlagHeaderSize, before.begin()), "accepted header differs from the file");
            fuzz::Check(engine.header.sectorCount == copySize, "accepted a header for another sector count");
            fuzz::Check(engine.header.Sum() == 0 || prompt.asked > 0, "accepted a bad checksum without asking");
        }
    } else if (accepted) {
        CheckNewFile(after, engine, copySize);
    } else {
        fuzz::Check(after == before, "a refused new header left bytes on disk");
    }
    return 0;
}
