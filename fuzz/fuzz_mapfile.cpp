// The mapfile parser over arbitrary text: it never crashes, a refusal says
// why, and what it accepts is ordered, not overlapping, within a signed
// 64-bit offset, and reads back the same when its blocks are written out.
#include <string>

#include "fuzz/fuzz_support.h"
#include "mapfile/mapfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    Mapfile map;
    std::string error;
    if (!ParseMapfile(text, &map, &error)) {
        fuzz::Check(!error.empty(), "a refusal without a reason");
        return 0;
    }
    uint64_t end = 0;
    std::string again = "0 ? 1\n";
    for (const MapBlock& b : map.blocks) {
        fuzz::Check(b.size > 0 && b.pos >= end && b.size <= kMapMaxEnd - b.pos, "an accepted block breaks the order");
        end = b.pos + b.size;
        again += std::to_string(b.pos) + " " + std::to_string(b.size) + " " + b.status + "\n";
    }
    Mapfile back;
    fuzz::Check(ParseMapfile(again, &back, &error) && back.blocks.size() == map.blocks.size(),
                "accepted blocks do not read back");
    for (size_t i = 0; i < back.blocks.size(); ++i)
        fuzz::Check(back.blocks[i].pos == map.blocks[i].pos && back.blocks[i].size == map.blocks[i].size &&
                        back.blocks[i].status == map.blocks[i].status,
                    "a block reads back differently");
    return 0;
}
