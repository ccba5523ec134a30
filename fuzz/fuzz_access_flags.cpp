// AccessFlags over short, odd-sized and damaged flag files, against a model of
// the bitmap: every result and the file afterwards must match the model, the
// header bytes stay as they were, and no sector ever comes to read as stored
// unless it was marked or read as stored before.
#include <fuzzer/FuzzedDataProvider.h>

#include "engine/recovery_engine.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t kMaxInitialBytes = 400;
constexpr uint32_t kLbaSlack = 8 * 512;  // windows up to 512 bytes past the end
constexpr int kMaxOps = 64;

// The bitmap as the engine must leave it. A window the file does not hold in
// full reads as missing where the file lacks it, and so does any gap before
// it; bytes the file holds keep their flags (overwriting them as missing would
// undo marks made through an overlapping window a moment before).
uint32_t ModelAccess(std::vector<uint8_t>& file, uint32_t lba, int32_t count, bool markRead)
{
    size_t w = kFlagHeaderSize + lba / 8;
    uint32_t s = lba % 8;
    if (file.size() < w + 4) file.resize(w + 4, 0xFF);
    uint32_t word = fuzz::GetLe32(&file[w]);
    uint32_t mask = (count >= 32) ? 0xFFFFFFFFu : ((1u << count) - 1);
    if (markRead) {
        word &= ~(mask << s);
        fuzz::PutLe32(&file[w], word);
    }
    return (word >> s) & mask;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CRecoveryEngine engine;
    static const std::string path = fuzz::ScratchDir() + "access.flg";

    FuzzedDataProvider in(data, size);
    std::vector<uint8_t> model = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, kMaxInitialBytes));
    if (!fuzz::WriteFileBytes(path, model)) fuzz::Fail("cannot write the flag file");
    const std::vector<uint8_t> before = model;

    engine.flagFile.SetPath(path.c_str());
    fuzz::Check(engine.flagFile.Open(), "flag file does not open");
    uint32_t lbaLimit = uint32_t(model.size()) * 8 + kLbaSlack;
    for (int op = 0; op < kMaxOps && in.remaining_bytes() > 0; ++op) {
        uint32_t lba = in.ConsumeIntegralInRange<uint32_t>(0, lbaLimit);
        // The callers' contract: 1 <= count <= 31 and count + lba % 8 <= 32.
        int32_t count = in.ConsumeIntegralInRange<int32_t>(1, int32_t(std::min<uint32_t>(31, 32 - lba % 8)));
        bool markRead = in.ConsumeBool();
        uint32_t expected = ModelAccess(model, lba, count, markRead);
        uint32_t got = engine.AccessFlags(lba, count, markRead);
        fuzz::Check(got == expected, "AccessFlags result differs from the bitmap");
    }
    engine.flagFile.Close();

    std::vector<uint8_t> after = fuzz::ReadFileBytes(path);
    fuzz::Check(after.size() == model.size(), "flag file length differs from the model");
    for (size_t i = 0; i < after.size(); ++i) {
        if (i < kFlagHeaderSize && i < before.size()) fuzz::Check(after[i] == before[i], "header bytes changed");
        fuzz::Check(after[i] == model[i], "bitmap byte differs from the model");
    }
    return 0;
}
