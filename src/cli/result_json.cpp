#include "cli/result_json.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <vector>

#include "cli/text.h"
#include "engine/recovery_engine.h"

namespace {

struct SetFigures {
    FlagHeader header;
    uint32_t read = 0;  // flags that say read
};

bool ReadFigures(const std::string& flagPath, SetFigures* figures)
{
    std::ifstream f(flagPath, std::ios::binary);
    uint8_t raw[kFlagHeaderSize];
    if (!f.read(reinterpret_cast<char*>(raw), sizeof raw)) return false;
    figures->header.Decode(raw);
    // Bytes the file does not hold count as missing, as the engine reads them.
    std::vector<uint8_t> bitmap((uint64_t(figures->header.sectorCount) + 7) / 8, 0xFF);
    f.read(reinterpret_cast<char*>(bitmap.data()), std::streamsize(bitmap.size()));
    for (uint32_t lba = 0; lba < figures->header.sectorCount; ++lba)
        if (!(bitmap[lba / 8] & (1u << (lba % 8)))) ++figures->read;
    return true;
}

}  // namespace

std::string ResultJson(const CommandResult& r)
{
    char buf[256];
    std::string out = "{\"command\": " + JsonString(r.command) + ", \"status\": " + std::to_string(r.status);
    if (r.outcome >= 0)
        out += ", \"outcome\": " + std::to_string(r.outcome) + ", \"outcome_text\": " + JsonString(r.outcomeText);
    out += ", \"flag_file\": " + (r.flagPath.empty() ? std::string("null") : JsonString(r.flagPath));
    SetFigures s;
    if (!r.flagPath.empty() && ReadFigures(r.flagPath, &s)) {
        const FlagHeader& h = s.header;
        std::snprintf(buf, sizeof buf,
                      ", \"sectors\": %" PRIu32 ", \"sector_size\": %" PRIu32 ", \"read\": %" PRIu32
                      ", \"missing\": %" PRIu32 ", \"errors\": %" PRIu32 ", \"copy_seconds\": %" PRIu32
                      ", \"header_valid\": %s",
                      h.sectorCount, h.sectorSize, s.read, h.sectorCount - s.read, h.readErrors, h.elapsedSeconds,
                      h.Sum() == 0 ? "true" : "false");
        out += buf;
    } else {
        out += ", \"sectors\": null, \"read\": null, \"missing\": null, \"errors\": null, \"copy_seconds\": null";
    }
    std::snprintf(buf, sizeof buf, ", \"run_seconds\": %.1f}", r.runSeconds);
    return out + buf;
}
