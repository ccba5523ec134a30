// The mapfile parser and writer on their own: what ddrescue's format allows,
// and a written map that says exactly what the flag file says.
#include <gtest/gtest.h>

#include "image_set_files.h"
#include "mapfile/mapfile.h"
#include "support/fakes.h"

namespace {

// The sectors a parsed map marks finished, for a disc of `count` sectors.
std::vector<bool> FinishedSectors(const Mapfile& map, uint32_t count)
{
    std::vector<bool> read(count, false);
    for (const MapBlock& b : map.blocks)
        for (uint64_t s = b.pos / kNormalSectorSize; s < (b.pos + b.size) / kNormalSectorSize && s < count; ++s)
            read[s] = b.status == kMapFinished;
    return read;
}

Mapfile WrittenMap(const std::string& flagPath)
{
    std::string error;
    std::FILE* f = std::tmpfile();
    MapfileInfo info{"Gleanor test", "disc.iso", 0x800, 2};
    EXPECT_TRUE(WriteMapfile(flagPath.c_str(), info, f, &error)) << error;
    std::string text(size_t(std::ftell(f)), '\0');
    std::rewind(f);
    EXPECT_EQ(text.size(), std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    Mapfile map;
    EXPECT_TRUE(ParseMapfile(text, &map, &error)) << error << "\n" << text;
    return map;
}

}  // namespace

TEST(MapfileText, ReadsWhatDdrescueWritesAndRefusesWhatItWouldNot)
{
    // The manual's example, with a decimal, an octal number and a trailing comment.
    const std::string good = "# Mapfile. Created by GNU ddrescue version 1.27\n"
                             "# current_pos  current_status  current_pass\n"
                             "0x00120000     ?               1\n"
                             "#      pos        size  status\n"
                             "0x00000000  0x00117000  +\n"
                             "1142784  0x00000200  -   # bad\n"
                             "0x00117200  010000  /\n"
                             "0x00118200  0x00007E00  *\n"
                             "0x00120000  0x00048000  ?\n";
    Mapfile map;
    std::string error;
    ASSERT_TRUE(ParseMapfile(good, &map, &error)) << error;
    EXPECT_EQ(0x120000u, map.currentPos);
    EXPECT_EQ('?', map.currentStatus);
    ASSERT_EQ(5u, map.blocks.size());
    EXPECT_EQ(0x117000u, map.blocks[1].pos);
    EXPECT_EQ('-', map.blocks[1].status);
    EXPECT_EQ(010000u, map.blocks[2].size);
    EXPECT_EQ(0x48000u, map.blocks[4].size);
    // An old map without current_pass.
    ASSERT_TRUE(ParseMapfile("0 +\n0 0x800 +\n", &map, &error)) << error;
    EXPECT_EQ(1u, map.currentPass);

    const char* const bad[] = {
        "",                                              // no status line
        "0 ? 1\n0 0x800 x\n",                            // unknown status
        "0 ? 1\n0x800 0x800 +\n0 0x800 ?\n",             // out of order
        "0 ? 1\n0 0x1000 +\n0x800 0x800 ?\n",            // overlapping
        "0 ? 1\n0 0x800\n",                              // size missing
        "0 ? 1\n0x7FFFFFFFFFFFFFFF 1 +\n",               // ends beyond any file
        "0 ? 1\n0 08 +\n",                               // not octal
        "0 ? 0\n",                                       // pass 0
    };
    for (const char* text : bad) EXPECT_FALSE(ParseMapfile(text, &map, &error)) << "accepted: " << text;
}

TEST(MapfileText, WrittenMapMarksExactlyTheSectorsTheFlagFileMarksRead)
{
    // Runs that start and end inside bitmap bytes, whole bytes of each kind,
    // and a count that ends inside a byte.
    CTempDir dir;
    const uint32_t count = 1003;
    std::mt19937 rng(7);
    std::vector<bool> read(count);
    bool state = true;
    for (uint32_t i = 0; i < count;) {
        uint32_t run = 1 + rng() % 40;
        for (uint32_t k = 0; k < run && i < count; ++k) read[i++] = state;
        state = !state;
    }
    WriteImageSet(dir.File("disc"), read, RandomDisc(count, 1));
    Mapfile map = WrittenMap(dir.File("disc.flg"));
    EXPECT_EQ(read, FinishedSectors(map, count));
    EXPECT_EQ(0x800u, map.currentPos);
    EXPECT_EQ(kMapNonTried, map.currentStatus);
    ASSERT_FALSE(map.blocks.empty());
    EXPECT_EQ(uint64_t(count) * kNormalSectorSize, map.blocks.back().pos + map.blocks.back().size);
    for (size_t i = 1; i < map.blocks.size(); ++i) {
        EXPECT_EQ(map.blocks[i - 1].pos + map.blocks[i - 1].size, map.blocks[i].pos);
        EXPECT_NE(map.blocks[i - 1].status, map.blocks[i].status);  // one block per run
    }

    // A bitmap cut short: the sectors it does not hold are missing.
    std::vector<uint8_t> flg = ReadBytes(dir.File("disc.flg"));
    flg.resize(kFlagHeaderSize + 50);
    WriteBytes(dir.File("disc.flg"), flg);
    std::vector<bool> cut = read;
    std::fill(cut.begin() + 400, cut.end(), false);
    EXPECT_EQ(cut, FinishedSectors(WrittenMap(dir.File("disc.flg")), count));

    // A complete set says so in its status line.
    WriteImageSet(dir.File("full"), std::vector<bool>(count, true), RandomDisc(count, 1));
    EXPECT_EQ(kMapFinished, WrittenMap(dir.File("full.flg")).currentStatus);

    // A damaged header is refused, and no map file is left behind.
    flg[4] ^= 1;
    WriteBytes(dir.File("disc.flg"), flg);
    std::string error;
    EXPECT_FALSE(SaveMapfile(dir.File("disc.flg").c_str(), MapfileInfo(), dir.File("out.map").c_str(), &error));
    EXPECT_NE(std::string::npos, error.find("checksum")) << error;
    EXPECT_TRUE(ReadBytes(dir.File("out.map")).empty());
    EXPECT_TRUE(ReadBytes(dir.File("out.map.tmp")).empty());
}

// Given the failed reads kept beside the set, the map marks the missing
// sectors of the blocks that failed '-' and the others '?', and its status
// line '+' once the copy has ended; a damaged or foreign side file is ignored.
TEST(MapfileText, FailedBlocksAreBadSectorsAndAnEndedCopyIsFinished)
{
    CTempDir dir;
    std::vector<bool> read(100, true);
    for (uint32_t lba = 20; lba < 70; ++lba) read[lba] = false;  // blocks 1 to 4
    WriteImageSet(dir.File("disc"), read, RandomDisc(100, 2));
    auto side = [&](const std::string& text) { WriteBytes(dir.File("disc.tries"), {text.begin(), text.end()}); };
    auto statuses = [&](char* current) {
        Mapfile map = WrittenMap(dir.File("disc.flg"));
        *current = map.currentStatus;
        std::string s;
        for (const MapBlock& b : map.blocks) s += std::to_string(b.pos / kNormalSectorSize) + b.status;
        return s;
    };
    char current = 0;
    side("Gleanor failed reads 1\ndrive [0:1:0] SIM DRIVE 1.0\nsectors 100 2048\nended 1\n1 3\n3 1\n");
    EXPECT_EQ("0+20-32?48-64?70+", statuses(&current));
    EXPECT_EQ(kMapFinished, current);
    side("Gleanor failed reads 1\ndrive x\nsectors 100 2048\nended 0\n2 1\n");
    EXPECT_EQ("0+20?32-48?70+", statuses(&current));
    EXPECT_EQ(kMapNonTried, current);
    for (const char* bad : {"Gleanor failed reads 1\ndrive x\nsectors 100 2048\nended 1\n9 1\n",  // past the disc
                            "Gleanor failed reads 1\ndrive x\nsectors 200 2048\nended 1\n2 1\n",  // another disc
                            "Gleanor failed reads 1\ndrive x\nsectors 100 2048\nended 1\n2 1"}) {  // cut off
        side(bad);
        EXPECT_EQ("0+20?70+", statuses(&current)) << bad;
        EXPECT_EQ(kMapNonTried, current) << bad;
    }
}
