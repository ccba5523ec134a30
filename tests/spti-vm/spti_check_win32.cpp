// The Windows program's drive layer and engine on WNASPI32.DLL, found by name
// as the program finds it, for the end-to-end pass-through check in a VM:
//
//   spti_check.exe DEST_FOLDER DISC_IMAGE BAD_LBA...
//
// Prints the drive list, runs one copy of the preselected drive into
// DEST_FOLDER until it gives up after a minute without a good read (the
// engine's sleeps are skipped, so drive care costs no wall time, while the
// drive's commands take the time they take), then compares every sector that
// the flag file marks read with DISC_IMAGE, and says whether each BAD_LBA is
// still missing. The last line is "RESULT ..."; exit 0 when all holds.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "app/core/settings.h"
#include "drive/drive_list.h"
#include "engine/recovery_engine.h"
#include "platform/clock.h"
#include "platform/poster.h"
#include "platform/prompt.h"
#include "channel/channel.h"

namespace {

constexpr int kGiveUpOneMinute = 4;
constexpr uint32_t kSectorBytes = 2048;

// The system's time plus every sleep, which returns at once.
class CSkippingClock : public IClock {
public:
    uint32_t TickCount() override
    {
        return SystemClock().TickCount() + static_cast<uint32_t>(skippedUs_ / 1000);
    }
    void SleepMs(uint32_t ms) override { skippedUs_ += uint64_t{ms} * 1000; }
    void SleepUs(uint64_t us) override { skippedUs_ += us; }

private:
    uint64_t skippedUs_ = 0;  // one thread: the copy runs on main's
};

class CPrintingPoster : public IPoster {
public:
    void Post(unsigned msg, unsigned, const char* text) override
    {
        if (msg == UM_LOG_LINE && text) std::printf("log: %s\n", text);
        std::fflush(stdout);
    }
};

// Says yes to every question and names the image set in the destination.
class CAgreeingPrompt : public IUserPrompt {
public:
    explicit CAgreeingPrompt(std::string image) : image_(std::move(image)) {}
    int MessageBox(const char* text, const char* caption, unsigned type) override
    {
        std::printf("box: %s: %s\n", caption, text);
        return AcceptingAnswer(type);
    }
    bool ChooseFile(const FileChoice&, std::string* path) override
    {
        *path = image_;
        return true;
    }

private:
    std::string image_;
};

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Missing(const std::vector<uint8_t>& flags, uint32_t lba)
{
    const size_t at = kFlagHeaderSize + lba / 8;
    return at >= flags.size() || (flags[at] >> (lba % 8) & 1);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: spti_check DEST_FOLDER DISC_IMAGE BAD_LBA...\n");
        return 2;
    }
    std::string dest = argv[1];
    if (dest.back() != '\\') dest += '\\';
    std::set<uint32_t> bad;
    for (int i = 3; i < argc; ++i) bad.insert(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));

    CPrintingPoster poster;
    CAgreeingPrompt prompt(dest + "Disc");
    CSkippingClock clock;
    SetPoster(&poster);
    SetPrompt(&prompt);
    SetClock(&clock);
    settings.debugLevel = 4;  // every read, good or not
    settings.giveUpLevel = kGiveUpOneMinute;
    progressMap.mapCells = kMapCellsMax;

    int outcome = -1;
    {
        CRecoveryEngine engine;
        engine.drive.InitAspi();
        const int chosen = PreselectDrive(engine.drive, [](const char* name) { std::printf("drive: %s\n", name); });
        std::printf("drives: %d\n", engine.drive.DriveCount());
        if (engine.drive.DriveCount() == 0) {
            std::printf("RESULT no drive\n");
            return 1;
        }
        engine.drive.SelectDrive(chosen);
        engine.destFolder = dest;
        engine.runRequested = true;
        outcome = engine.RunCopy();
        std::printf("outcome: %d\n", outcome);
    }

    const std::vector<uint8_t> disc = ReadAll(argv[2]);
    const std::vector<uint8_t> image = ReadAll(dest + "Disc.iso");
    const std::vector<uint8_t> flags = ReadAll(dest + "Disc.flg");
    FlagHeader header;
    if (flags.size() >= kFlagHeaderSize) header.Decode(flags.data());
    // The copy covers the sector count the drive reported, never more than the disc.
    const uint32_t sectors = header.sectorCount;
    if (uint64_t{sectors} * kSectorBytes > disc.size()) {
        std::printf("RESULT FAILED the flag file counts %u sectors, the disc holds %zu\n", sectors,
                    disc.size() / kSectorBytes);
        return 1;
    }
    uint32_t read = 0, wrong = 0, badRead = 0;
    for (uint32_t lba = 0; lba < sectors; ++lba) {
        if (Missing(flags, lba)) continue;
        ++read;
        const size_t at = size_t{lba} * kSectorBytes;
        if (image.size() < at + kSectorBytes || std::memcmp(&image[at], &disc[at], kSectorBytes) != 0) {
            if (wrong++ < 5) std::printf("wrong: sector %u marked read differs from the disc\n", lba);
        }
        if (bad.count(lba)) ++badRead;
    }
    const bool ok = sectors > 0 && wrong == 0 && badRead == 0 && read + bad.size() == sectors;
    std::printf("RESULT %s sectors %u read %u wrong %u bad-read %u outcome %d\n", ok ? "ok" : "FAILED", sectors, read,
                wrong, badRead, outcome);
    return ok ? 0 : 1;
}
