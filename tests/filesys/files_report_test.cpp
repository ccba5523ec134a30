// The dialog's end of a copy and its "Extract Files…": the demo disc's image
// set with its file-system sectors and three files read, the rest missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/core/settings.h"
#include "aspi/sim/sim_drive.h"
#include "engine/recovery_engine.h"
#include "support/fakes.h"
#include "channel/channel.h"
#include "ui/logic/files_report.h"

namespace {

std::string Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class DemoImageSet : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(LoadSimProfile(SourceDir() + rawio::kSep + "examples" + rawio::kSep + "scratched.sim", &p, &error))
            << error;
        const std::vector<uint32_t>& starts = p.volume->FileStarts();
        std::vector<bool> read(p.sectors, false);
        for (uint32_t lba = 0; lba < starts[0]; ++lba) read[lba] = true;
        for (size_t i : kWhole)
            for (uint32_t k = 0; uint64_t(k) * kSimSectorSize < p.files[i].bytes; ++k) read[starts[i] + k] = true;
        // The image holds only what was read; the rest stays a hole.
        {
            std::ofstream out(image, std::ios::binary);
            uint8_t s[kSimSectorSize];
            for (uint32_t lba = 0; lba < p.sectors; ++lba) {
                if (!read[lba]) continue;
                GenerateSector(p, lba, s);
                out.seekp(std::streamoff(uint64_t(lba) * kSimSectorSize));
                out.write(reinterpret_cast<const char*>(s), sizeof s);
            }
        }
        std::filesystem::resize_file(image, uint64_t(p.sectors) * kSimSectorSize);
        FlagHeader h;
        h.sectorCount = p.sectors;
        h.sectorSize = kSimSectorSize;
        h.checksum = 0 - h.Sum();
        uint8_t head[kFlagHeaderSize];
        h.Encode(head);
        std::string bitmap((p.sectors + 7) / 8, '\0');
        for (uint32_t lba = 0; lba < p.sectors; ++lba)
            if (!read[lba]) bitmap[lba / 8] = char(uint8_t(bitmap[lba / 8]) | 1u << (lba % 8));
        std::ofstream flagOut(flag, std::ios::binary);
        flagOut.write(reinterpret_cast<const char*>(head), sizeof head);
        flagOut.write(bitmap.data(), std::streamsize(bitmap.size()));
        SetPoster(&poster);
        settings.debugLevel = 1;
    }
    void TearDown() override
    {
        SetPoster(nullptr);
        settings.debugLevel = 0;
    }

    const size_t kWhole[3] = {0, 5, 11};
    SimProfile p;
    CTempDir dir;
    std::string image = dir.File("HOLIDAY_2009.iso"), flag = dir.File("HOLIDAY_2009.flg");
    CRecordingPoster poster;
};

TEST_F(DemoImageSet, ACopysEndLogsTheFilesAndWritesTheirList)
{
    EXPECT_TRUE(CopyWasRun("Give Up"));
    EXPECT_TRUE(CopyWasRun("User Break"));
    EXPECT_FALSE(CopyWasRun("Drive Not Ready"));
    EXPECT_FALSE(CopyWasRun("CheckHeader *.flg"));
    ASSERT_TRUE(ReportFilesAfterCopy(flag, image));
    size_t files = p.files.size();
    std::string summary = "files: 3 complete, " + std::to_string(files - 3) + " damaged, 0 unknown";
    std::vector<std::string> lines = poster.LogLines();
    ASSERT_EQ(lines.size(), 1 + files - 3);
    EXPECT_EQ(lines[0], summary);
    std::string list = Bytes(FilesListPath(image));
    EXPECT_EQ(FilesListPath(image), dir.File("HOLIDAY_2009.files.txt"));
    for (size_t i = 0; i < files; ++i) {
        bool whole = i == kWhole[0] || i == kWhole[1] || i == kWhole[2];
        std::string head = "/" + p.files[i].path + "  ";
        size_t at = list.find(head);
        ASSERT_NE(at, std::string::npos) << p.files[i].path;
        std::string line = list.substr(at, list.find('\n', at) - at);
        EXPECT_NE(line.find(whole ? "  complete\r" : "  missing "), std::string::npos) << line;
        bool logged = false;
        for (const std::string& l : lines) logged = logged || l.compare(0, head.size(), head) == 0;
        EXPECT_EQ(logged, !whole) << p.files[i].path;
    }
    EXPECT_NE(list.find(summary + "; "), std::string::npos) << list;
}

TEST_F(DemoImageSet, ExtractFilesWritesTheCompleteOnes)
{
    ExtractResult r = ExtractImageSet(flag, image, dir.File("out"));
    EXPECT_EQ(r.written, 3u);
    EXPECT_EQ(r.leftOut, p.files.size() - 3);
    EXPECT_EQ(r.failed, 0u);
    for (size_t i : kWhole) {
        std::string bytes = Bytes(dir.File("out") + "/" + p.files[i].path);
        ASSERT_EQ(bytes.size(), p.files[i].bytes) << p.files[i].path;
        uint8_t s[kSimSectorSize];
        GenerateSector(p, p.volume->FileStarts()[i], s);
        EXPECT_EQ(bytes.compare(0, std::min<size_t>(bytes.size(), sizeof s), reinterpret_cast<const char*>(s),
                                std::min<size_t>(bytes.size(), sizeof s)),
                  0);
    }
    EXPECT_TRUE(poster.Logged("Extract Files: 3 written, 0 already there, " + std::to_string(p.files.size() - 3) +
                              " left out"));
    std::string leftOut = "left out: /" + p.files[1].path + "  missing ";
    bool logged = false;
    for (const std::string& l : poster.LogLines()) logged = logged || l.compare(0, leftOut.size(), leftOut) == 0;
    EXPECT_TRUE(logged) << leftOut;
}

}  // namespace
