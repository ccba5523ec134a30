// ImportMerge over arbitrary flag and import files. Whatever the bytes:
// a sector whose flag is read after the merge holds either what it held before
// (it was read already) or the data of a record for it that a merge may
// accept; nothing is written at or beyond the header's sector count; a damaged
// or oversized header refuses the merge and stays as it was; a valid header
// comes out valid, its sectorsRead grown by exactly the sectors that changed
// from missing to read.
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <set>

#include "engine/recovery_engine.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr uint32_t kMaxSectors = 600;
constexpr uint32_t kSizes[] = {2048, 512, 16, 4096, 4097, 8192, 0};
constexpr int kMaxPieces = 24;

struct Geometry {
    uint32_t count;
    uint32_t size;
};

void AppendHead(std::vector<uint8_t>& out, uint32_t count, uint32_t size, uint32_t lba, bool validCheck)
{
    uint8_t head[kImportHeadSize];
    uint32_t check = validCheck ? 0u - (count + size + lba) : count + size + lba;
    fuzz::PutLe32(head, count);
    fuzz::PutLe32(head + 4, size);
    fuzz::PutLe32(head + 8, lba);
    fuzz::PutLe32(head + 12, check);
    out.insert(out.end(), head, head + kImportHeadSize);
}

// Import bytes from pieces: good records, torn ones, foreign heads, junk.
std::vector<uint8_t> MakeImport(FuzzedDataProvider& in, Geometry g)
{
    std::vector<uint8_t> out;
    int pieces = in.ConsumeIntegralInRange<int>(0, kMaxPieces);
    for (int i = 0; i < pieces && in.remaining_bytes() > 0; ++i) {
        uint32_t lba = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, g.count + 2) : in.ConsumeIntegral<uint32_t>();
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
        case 1: {  // a whole record of this geometry
            AppendHead(out, g.count, g.size, lba, true);
            std::vector<uint8_t> d = in.ConsumeBytes<uint8_t>(std::min<uint32_t>(g.size, 4096));
            d.resize(std::min<uint32_t>(g.size, 4096), uint8_t(lba));
            out.insert(out.end(), d.begin(), d.end());
            break;
        }
        case 2: {  // a torn record
            AppendHead(out, g.count, g.size, lba, true);
            std::vector<uint8_t> d = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, g.size));
            out.insert(out.end(), d.begin(), d.end());
            break;
        }
        case 3:  // a head of another geometry or with a bad check word
            AppendHead(out, in.ConsumeBool() ? g.count : g.count + 1, in.ConsumeBool() ? g.size : 2048, lba,
                       in.ConsumeBool());
            break;
        default: {
            std::vector<uint8_t> d = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 40));
            out.insert(out.end(), d.begin(), d.end());
        }
        }
    }
    return out;
}

// Every record the bytes could hold at any offset: a head of this geometry
// whose words sum to zero, followed by its whole data. What a merge writes into
// the image must come from one of these.
std::map<uint32_t, std::set<std::vector<uint8_t>>> Candidates(const std::vector<uint8_t>& imp, Geometry g)
{
    std::map<uint32_t, std::set<std::vector<uint8_t>>> out;
    for (size_t at = 0; at + kImportHeadSize + g.size <= imp.size(); ++at) {
        const uint8_t* h = &imp[at];
        uint32_t count = fuzz::GetLe32(h), sz = fuzz::GetLe32(h + 4), lba = fuzz::GetLe32(h + 8);
        if (count != g.count || sz != g.size) continue;
        const uint8_t* d = h + kImportHeadSize;
        out[lba].insert(std::vector<uint8_t>(d, d + g.size));
    }
    return out;
}

bool FlagMissing(const std::vector<uint8_t>& flg, uint32_t lba)
{
    size_t at = kFlagHeaderSize + lba / 8;
    return at >= flg.size() || (flg[at] >> (lba % 8)) & 1;
}

void CheckImage(const std::vector<uint8_t>& flgBefore, const std::vector<uint8_t>& flgAfter,
                const std::vector<uint8_t>& isoBefore, const std::vector<uint8_t>& isoAfter,
                const std::vector<uint8_t>& imp, Geometry g)
{
    uint64_t limit = std::max<uint64_t>(isoBefore.size(), uint64_t(g.count) * g.size);
    fuzz::Check(isoAfter.size() <= limit, "the image grew beyond the sector count");
    auto candidates = Candidates(imp, g);
    for (uint32_t lba = 0; lba < g.count; ++lba) {
        if (FlagMissing(flgAfter, lba)) {
            // Only a window the file did not hold in full may turn read flags into missing.
            fuzz::Check(FlagMissing(flgBefore, lba) || flgAfter.size() > flgBefore.size(), "a read flag became missing");
            continue;
        }
        size_t at = size_t(lba) * g.size;
        std::vector<uint8_t> now(g.size, 0), was(g.size, 0);
        for (size_t i = 0; i < g.size; ++i) {
            if (at + i < isoAfter.size()) now[i] = isoAfter[at + i];
            if (at + i < isoBefore.size()) was[i] = isoBefore[at + i];
        }
        bool fromRecord = candidates.count(lba) && candidates[lba].count(now);
        bool untouched = !FlagMissing(flgBefore, lba) && now == was;
        fuzz::Check(fromRecord || untouched, "a sector marked read holds data of no record for it");
    }
}

uint32_t ClearBitsGained(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after, uint32_t count)
{
    uint32_t n = 0;
    for (uint32_t lba = 0; lba < count; ++lba) n += FlagMissing(before, lba) && !FlagMissing(after, lba);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CRecoveryEngine engine;
    static const std::string dir = fuzz::ScratchDir();
    FuzzedDataProvider in(data, size);

    // The flag file: a header (mostly valid), then a bitmap of random bytes.
    Geometry g{in.ConsumeIntegralInRange<uint32_t>(1, kMaxSectors), kSizes[in.ConsumeIntegralInRange<int>(0, 6)]};
    FlagHeader h;
    h.sectorCount = g.count;
    h.sectorSize = g.size;
    h.sectorsRead = in.ConsumeIntegralInRange<uint32_t>(0, g.count);
    h.checksum = 0u - h.Sum();
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) h.checksum ^= 1u << in.ConsumeIntegralInRange<int>(0, 31);
    std::vector<uint8_t> flg(kFlagHeaderSize);
    h.Encode(flg.data());
    std::vector<uint8_t> bitmap = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, g.count / 8 + 12));
    flg.insert(flg.end(), bitmap.begin(), bitmap.end());
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) flg.resize(in.ConsumeIntegralInRange<size_t>(0, kFlagHeaderSize));
    std::vector<uint8_t> iso = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 3 * 2048));
    std::vector<uint8_t> imp = MakeImport(in, g);

    fuzz::WriteFileBytes(dir + "disc.flg", flg);
    fuzz::WriteFileBytes(dir + "disc.iso", iso);
    // The merge names the image set after the import file, inside destFolder.
    std::string importPath = dir + "disc.imp";
    fuzz::WriteFileBytes(importPath, imp);
    engine.destFolder = dir;
    engine.ImportMerge(importPath.c_str());
    fuzz::Check(!engine.flagFile.IsOpen() && !engine.imageFile.IsOpen() && !engine.importFile.IsOpen(),
                "a file was left open");

    std::vector<uint8_t> flgAfter = fuzz::ReadFileBytes(dir + "disc.flg");
    std::vector<uint8_t> isoAfter = fuzz::ReadFileBytes(dir + "disc.iso");
    fuzz::Check(flgAfter.size() >= flg.size(), "the flag file shrank");
    bool headerWhole = flg.size() >= kFlagHeaderSize;
    bool mergeable = headerWhole && h.Sum() == 0 && g.size > 0 && g.size <= kMaxCopySectorSize;
    if (!mergeable) {
        fuzz::Check(flgAfter == flg, "a refused merge changed the flag file");
        fuzz::Check(isoAfter == iso, "a refused merge changed the image");
        return 0;
    }
    CheckImage(flg, flgAfter, iso, isoAfter, imp, g);
    FlagHeader out;
    out.Decode(flgAfter.data());
    fuzz::Check(out.Sum() == 0, "the merged header does not sum to zero");
    fuzz::Check(out.sectorCount == g.count && out.sectorSize == g.size, "the merge changed the geometry");
    // With a bitmap that holds every window, flags change only where records were merged.
    if (flg.size() >= kFlagHeaderSize + (g.count - 1) / 8 + 4)
        fuzz::Check(out.sectorsRead == h.sectorsRead + ClearBitsGained(flg, flgAfter, g.count),
                    "sectorsRead did not grow by the sectors gained");
    for (uint32_t lba = g.count; kFlagHeaderSize + lba / 8 < flg.size(); ++lba)
        fuzz::Check(!FlagMissing(flg, lba) || FlagMissing(flgAfter, lba), "a bit past the last sector came to read as stored");
    return 0;
}
