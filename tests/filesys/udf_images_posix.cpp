// UDF volumes made by genisoimage -udf (1.02) and by mkudffs (2.01) on a plain
// file, filled with udfclient (no loop device, no kernel). Every 2048-byte
// block of every file starts with a marker naming the file and the block, so
// the table of where each block lies is read from the image itself.
#include <cstring>
#include <sstream>

#include "cli/files_command.h"
#include "filesys/image_tools.h"

namespace {

struct Written {
    std::string path;  // "/DIR/NAME"
    uint32_t size;
};

constexpr char kMarker[8] = {'G', 'L', 'N', 'R', 'B', 'L', 'K', '\0'};

std::vector<Written> MakeMarkedTree(const std::string& root, uint32_t seed)
{
    std::mt19937 rng(seed);
    const char* const dirs[] = {"DCIM", "DCIM/SUB", "docs", "Videos"};
    std::vector<Written> files;
    for (const char* d : dirs) Shell("mkdir -p '" + root + d + "'");
    for (uint32_t i = 0; i < 24; ++i) {
        uint32_t size = i % 6 == 0 ? 2048 * (1 + rng() % 40) : 16 + rng() % 200000;
        if (size % 2048 && size % 2048 < 16) size += 16;
        std::string rel = std::string(dirs[i % 4]) + "/file_" + std::to_string(i) + ".bin";
        std::string bytes(size, '\0');
        for (char& c : bytes) c = char(rng());
        for (uint32_t b = 0; b * 2048 < size; ++b) {
            std::memcpy(&bytes[b * 2048], kMarker, 8);
            std::memcpy(&bytes[b * 2048 + 8], &i, 4);
            std::memcpy(&bytes[b * 2048 + 12], &b, 4);
        }
        std::ofstream(root + rel, std::ios::binary).write(bytes.data(), std::streamsize(size));
        files.push_back({"/" + rel, size});
    }
    return files;
}

// Where each file's blocks lie, found by their markers: sector -> (file, block).
std::map<uint32_t, std::pair<uint32_t, uint32_t>> BlockTable(const std::string& image)
{
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> table;
    std::ifstream in(image, std::ios::binary);
    char s[2048];
    for (uint32_t lba = 0; in.read(s, sizeof s); ++lba) {
        if (std::memcmp(s, kMarker, 8) != 0) continue;
        uint32_t file, block;
        std::memcpy(&file, s + 8, 4);
        std::memcpy(&block, s + 12, 4);
        table[lba] = {file, block};
    }
    return table;
}

std::map<std::string, uint64_t> ExpectedDamage(const std::vector<Written>& files,
                                               const std::map<uint32_t, std::pair<uint32_t, uint32_t>>& table,
                                               const std::set<uint32_t>& missing)
{
    std::map<std::string, uint64_t> damaged;
    for (uint32_t m : missing) {
        auto it = table.find(m);
        if (it == table.end()) continue;
        const Written& f = files[it->second.first];
        damaged[f.path] += std::min<uint64_t>(2048, f.size - uint64_t(it->second.second) * 2048);
    }
    return damaged;
}

class UdfImages : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TOOL("genisoimage");
        REQUIRE_TOOL("mkudffs");
        REQUIRE_TOOL("udfclient");
        files = MakeMarkedTree(dir.File("tree/"), 5);
    }

    // genisoimage's bridge volume: UDF 1.02 beside the ISO 9660 tree.
    std::string Genisoimage()
    {
        std::string image = dir.File("g.iso");
        int status = 0;
        Shell("genisoimage -quiet -udf -o '" + image + "' '" + dir.File("tree") + "' 2>&1", &status);
        EXPECT_EQ(status, 0);
        return image;
    }

    // mkudffs on a sparse file, then udfclient copies the tree in (it refuses to
    // fill more than a few megabytes of a small volume).
    std::string Mkudffs()
    {
        std::string image = dir.File("m.udf");
        int status = 0;
        Shell("truncate -s 200M '" + image + "' && mkudffs --media-type=hd --udfrev=2.01 -b 2048 --label=GLEANOR "
              "--uuid=0123456789abcdef '" + image + "' >/dev/null 2>&1", &status);
        EXPECT_EQ(status, 0);
        std::string script = "cd 0123456789abcdefLinuxUDF:GLEANOR:GLEANOR:LinuxUDF\nlcd " + dir.File("tree") +
                             "\nmput DCIM docs Videos\nsync\nquit\n";
        std::ofstream(dir.File("uc.txt")) << script;
        Shell("timeout 300 udfclient -W -b 2048 '" + image + "' <'" + dir.File("uc.txt") + "' >/dev/null 2>&1", &status);
        EXPECT_EQ(status, 0);
        return image;
    }

    // A copy of `short_` sectors less than the image (one: the drive's last address counted as the size).
    Listing List(const std::string& image, const std::set<uint32_t>& missing, uint32_t short_ = 0)
    {
        WriteFlagFile(flag, ImageSectors(image) - short_, missing);
        bool ok = false;
        std::string error;
        Listing l = ListSet(flag, image, FsChoice::Udf, &ok, &error);
        EXPECT_TRUE(ok) << error;
        return l;
    }

    CTempDir dir;
    std::string flag = dir.File("x.flg");
    std::vector<Written> files;
};

TEST_F(UdfImages, DamagedFilesEqualTheTableOfWrittenBlocks)
{
    uint32_t seed = uint32_t(std::random_device{}());
    std::mt19937 rng(seed);
    for (const std::string& image : {Genisoimage(), Mkudffs()}) {
        auto table = BlockTable(image);
        ASSERT_GT(table.size(), 100u) << image;
        Listing whole = List(image, {});
        EXPECT_EQ(whole.kind, FsKind::Udf);
        std::map<std::string, uint64_t> listed, written;
        for (const FileRecord& f : whole.files) listed[f.path] = f.size;
        for (const Written& w : files) written[w.path] = w.size;
        EXPECT_EQ(listed, written) << image;

        uint32_t first = table.begin()->first, sectors = ImageSectors(image);
        for (int pattern = 0; pattern < 4; ++pattern) {
            std::set<uint32_t> missing;
            for (int r = 0; r < 1 + int(rng() % 6); ++r) {
                uint32_t start = first + rng() % (table.rbegin()->first + 1 - first);
                for (uint32_t s = start; s < start + 1 + rng() % 30 && s < sectors; ++s) missing.insert(s);
            }
            Listing l = List(image, missing);
            EXPECT_EQ(DamagedOf(l), ExpectedDamage(files, table, missing))
                << image << " seed " << seed << " pattern " << pattern;
        }
    }
}

TEST_F(UdfImages, LostAnchorSequenceOrEntryUsesTheOtherCopyOrSaysWhatIsUnknown)
{
    std::string image = Mkudffs();
    auto table = BlockTable(image);
    // The main descriptor sequence, as udfinfo places it.
    std::istringstream info(Shell("udfinfo '" + image + "'"));
    std::string line;
    unsigned start = 0, blocks = 0;
    while (std::getline(info, line))
        if (line.find("type=MVDS") != std::string::npos) std::sscanf(line.c_str(), "start=%u, blocks=%u", &start, &blocks);
    ASSERT_GT(blocks, 0u);
    std::set<uint32_t> lost = {256};
    for (uint32_t s = start; s < start + blocks; ++s) lost.insert(s);
    std::set<uint32_t> missing = lost;
    missing.insert(table.begin()->first);
    for (uint32_t short_ : {0u, 1u}) {
        Listing l = List(image, missing, short_);
        EXPECT_EQ(l.files.size(), files.size()) << short_;
        EXPECT_EQ(DamagedOf(l), ExpectedDamage(files, table, missing));
        EXPECT_EQ(l.notes.size(), 2u);  // the backup anchor, the reserve sequence
    }

    // A file's entry lost: that file is unknown, the others are listed.
    std::ifstream in(image, std::ios::binary);
    uint8_t s[2048];
    uint32_t fileEntry = 0;
    for (uint32_t lba = 0; in.read(reinterpret_cast<char*>(s), sizeof s); ++lba)
        if ((s[0] == 5 || s[0] == 10) && s[1] == 1 && s[27] == 5) fileEntry = lba;  // tag 261 / 266, a file
    ASSERT_NE(fileEntry, 0u);
    Listing l = List(image, {fileEntry});
    DamageSummary sum = Summarise(l);
    EXPECT_EQ(sum.unknown, 1u);
    EXPECT_EQ(sum.complete, files.size() - 1);
    // Its size is not known either: no "0 bytes".
    auto lines = FilesAfterCopy(flag, image, true);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].find(" bytes"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("unknown: its entry is unreadable"), std::string::npos) << lines[0];
}

TEST_F(UdfImages, AnIdentifierThatFailsItsTagMakesItsDirectoryCorrupt)
{
    std::string image = Genisoimage();
    std::fstream io(image, std::ios::binary | std::ios::in | std::ios::out);
    uint8_t s[2048];
    std::vector<uint32_t> dirSectors;  // those that start with the parent's identifier (tag 257)
    for (uint32_t lba = 0; io.read(reinterpret_cast<char*>(s), sizeof s); ++lba)
        if (s[0] == 1 && s[1] == 1) dirSectors.push_back(lba);
    ASSERT_GE(dirSectors.size(), 2u);
    io.clear();
    io.seekg(std::streamoff(dirSectors[1]) * 2048);
    io.read(reinterpret_cast<char*>(s), sizeof s);
    size_t second = (38 + (s[36] | s[37] << 8) + s[19] + 3) & ~size_t(3);
    ASSERT_EQ(s[second], 1);
    s[second + 4] ^= 0x55;  // the second identifier's tag checksum
    io.seekp(std::streamoff(dirSectors[1]) * 2048);
    io.write(reinterpret_cast<const char*>(s), sizeof s);
    io.close();
    Listing l = List(image, {});
    ASSERT_EQ(l.unknown.size(), 1u);
    EXPECT_NE(l.unknown[0].find(" is corrupt: some of its files may not be listed"), std::string::npos) << l.unknown[0];
    EXPECT_LT(l.files.size(), files.size());
}

}  // namespace
