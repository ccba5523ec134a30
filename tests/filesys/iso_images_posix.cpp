// ISO 9660 volumes made by xorriso, damaged through flag files, listed by the
// reader and compared with xorriso's own report of damaged files.
#include <sstream>

#include "cli/files_command.h"
#include "aspi/sim/sim_drive.h"
#include "filesys/image_tools.h"

namespace {

// A tree of folders and files with sizes drawn from `seed`: empty files, whole
// sectors, odd sizes; names with spaces and non-ASCII letters.
void MakeTree(const std::string& root, uint32_t seed)
{
    std::mt19937 rng(seed);
    const char* const dirs[] = {"DCIM", "DCIM/100CANON", "Music/Album One", "docs", "docs/Übersicht"};
    for (const char* d : dirs) Shell("mkdir -p '" + root + d + "'");
    for (int i = 0; i < 36; ++i) {
        std::string dir = dirs[i % 5];
        uint32_t size = i % 9 == 0 ? 0 : i % 7 == 0 ? 2048 * (1 + rng() % 30) : rng() % 300000;
        std::string name = root + dir + "/file " + std::to_string(i) + (i % 4 ? ".jpg" : ".dat");
        std::ofstream out(name, std::ios::binary);
        std::string bytes(size, '\0');
        for (char& c : bytes) c = char(rng());
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
}

// xorriso's sector map: a 32-byte text line, the sector count and size as
// big-endian words, then one bit a sector, set where the sector was read, in
// sectors / 8 + 1 bytes (xorriso refuses a map of any other length).
void WriteSectorMap(const std::string& path, uint32_t sectors, const std::set<uint32_t>& missing)
{
    std::string head = "xorriso sector bitmap v2 0";
    head.resize(31, ' ');
    head += '\n';
    for (uint32_t v : {sectors, kFsSectorSize})
        for (int shift = 24; shift >= 0; shift -= 8) head += char(v >> shift);
    std::string bitmap(sectors / 8 + 1, '\xff');
    for (uint32_t m : missing) bitmap[m / 8] = char(uint8_t(bitmap[m / 8]) & ~(1u << (m % 8)));
    std::ofstream(path, std::ios::binary) << head << bitmap;
}

using Spans = std::map<std::string, std::pair<uint64_t, uint64_t>>;

// xorriso's list of damaged files, each with the span from its first damaged
// byte to the end of its last one (offset and length, as xorriso reports it).
Spans XorrisoDamaged(const std::string& image, const std::string& map)
{
    std::string out = Shell("xorriso -indev '" + image + "' -check_media use=sector_map sector_map='" + map +
                          "' report=files -- 2>/dev/null");
    Spans damaged;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 12, "File damaged") != 0) continue;
        unsigned long long at = 0, range = 0;
        size_t quote = line.find('\'');
        if (quote == std::string::npos || std::sscanf(line.c_str(), "File damaged : %llu , %llu", &at, &range) != 2)
            continue;
        damaged[line.substr(quote + 1, line.rfind('\'') - quote - 1)] = {at, range};
    }
    return damaged;
}

// The same spans from our listing: its files' extents and the missing sectors.
Spans OurSpans(const Listing& l, const std::set<uint32_t>& missing)
{
    Spans spans;
    for (const FileRecord& f : l.files) {
        if (!f.missingSectors) continue;
        uint64_t offset = 0, first = UINT64_MAX, end = 0, counted = 0;
        for (const FileExtent& e : f.extents) {
            for (uint64_t k = 0; k * kFsSectorSize < e.bytes; ++k) {
                if (missing.count(uint32_t(e.lba + k))) {
                    first = std::min(first, offset + k * kFsSectorSize);
                    end = offset + std::min<uint64_t>((k + 1) * kFsSectorSize, e.bytes);
                    counted += end - (offset + k * kFsSectorSize);
                }
            }
            offset += e.bytes;
        }
        EXPECT_EQ(counted, f.missingBytes) << f.path;
        spans[f.path] = {first, end - first};
    }
    return spans;
}

// The first sector of file data (directories and descriptors lie below it).
uint32_t FirstDataSector(const std::string& image)
{
    std::istringstream lines(Shell("xorriso -indev '" + image + "' -find / -exec report_lba -- 2>/dev/null"));
    std::string line;
    uint32_t first = UINT32_MAX;
    unsigned xt, lba, blocks;
    while (std::getline(lines, line))
        if (std::sscanf(line.c_str(), "File data lba: %u , %u , %u", &xt, &lba, &blocks) == 3 && blocks && lba < first)
            first = lba;
    return first;
}

// The sector of a directory's extent in the primary or the Joliet tree, from isoinfo.
uint32_t DirectorySector(const std::string& image, bool joliet, const std::string& name)
{
    std::istringstream lines(Shell("isoinfo -i '" + image + "'" + (joliet ? " -J" : "") + " -l 2>/dev/null"));
    std::string line;
    unsigned lba = 0;
    while (std::getline(lines, line)) {
        size_t bracket = line.find('[');
        if (line[0] == 'd' && bracket != std::string::npos && line.find("]  " + name + " ") != std::string::npos &&
            std::sscanf(line.c_str() + bracket + 1, "%u", &lba) == 1)
            return lba;
    }
    return 0;
}

class IsoImages : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TOOL("xorriso");
        REQUIRE_TOOL("isoinfo");
        MakeTree(dir.File("tree/"), 77);
        int status = 0;
        Shell("xorriso -as mkisofs -quiet -J -R -V FILES_TEST -o '" + image + "' '" + dir.File("tree") + "' 2>&1",
            &status);
        ASSERT_EQ(status, 0);
        sectors = ImageSectors(image);
        ASSERT_GT(sectors, 500u);
    }

    Spans OracleFor(const std::set<uint32_t>& missing)
    {
        WriteSectorMap(dir.File("v.map"), sectors, missing);
        return XorrisoDamaged(image, dir.File("v.map"));
    }

    CTempDir dir;
    std::string image = dir.File("v.iso");
    std::string flag = dir.File("v.flg");
    uint32_t sectors = 0;
};

TEST_F(IsoImages, DamagedFilesEqualXorrisosReportOverRandomDamage)
{
    uint32_t first = FirstDataSector(image);
    ASSERT_LT(first, sectors);
    uint32_t seed = uint32_t(std::random_device{}());
    std::mt19937 rng(seed);
    for (int pattern = 0; pattern < 6; ++pattern) {
        // The first file's first sector always, so that every pattern damages a file.
        std::set<uint32_t> missing = {first};
        int runs = 1 + int(rng() % 8);
        for (int r = 0; r < runs; ++r) {
            uint32_t start = first + rng() % (sectors - first), length = 1 + rng() % (pattern % 2 ? 3 : 60);
            for (uint32_t s = start; s < start + length && s < sectors; ++s) missing.insert(s);
        }
        WriteFlagFile(flag, sectors, missing);
        bool ok = false;
        Listing l = ListSet(flag, image, FsChoice::Any, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(l.kind, FsKind::RockRidge);
        auto expected = OracleFor(missing);
        EXPECT_FALSE(expected.empty()) << "seed " << seed << " pattern " << pattern;
        EXPECT_EQ(OurSpans(l, missing), expected) << "seed " << seed << " pattern " << pattern;
        EXPECT_TRUE(l.unknown.empty());
    }
}

TEST_F(IsoImages, AnUnreadableDirectoryOrDescriptorIsReadFromTheOtherTree)
{
    uint32_t first = FirstDataSector(image);
    std::set<uint32_t> fileDamage = {first + 3, first + 40, sectors - 2};
    auto expected = OracleFor(fileDamage);

    uint32_t primaryDcim = DirectorySector(image, false, "DCIM"), jolietDcim = DirectorySector(image, true, "DCIM");
    uint32_t primaryRoot = DirectorySector(image, false, ".");
    ASSERT_NE(primaryDcim, 0u);
    ASSERT_NE(jolietDcim, 0u);
    ASSERT_NE(primaryDcim, jolietDcim);
    struct Case {
        std::set<uint32_t> lost;
        FsKind kind;
        size_t notes;  // which copy was used instead
    } cases[] = {{{primaryDcim}, FsKind::RockRidge, 1}, {{16}, FsKind::Joliet, 1}, {{jolietDcim}, FsKind::RockRidge, 0},
                 {{primaryRoot}, FsKind::Joliet, 1}};
    for (const Case& c : cases) {
        std::set<uint32_t> missing = fileDamage;
        missing.insert(c.lost.begin(), c.lost.end());
        WriteFlagFile(flag, sectors, missing);
        bool ok = false;
        Listing l = ListSet(flag, image, FsChoice::Any, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(l.kind, c.kind) << *c.lost.begin();
        EXPECT_EQ(OurSpans(l, missing), expected) << *c.lost.begin();
        EXPECT_TRUE(l.unknown.empty()) << l.unknown.front();
        EXPECT_EQ(l.notes.size(), c.notes) << *c.lost.begin();
    }

    // Both copies of the directory lost: its files are unknown, the rest is listed.
    std::set<uint32_t> missing = fileDamage;
    missing.insert(primaryDcim);
    missing.insert(jolietDcim);
    WriteFlagFile(flag, sectors, missing);
    bool ok = false;
    Listing l = ListSet(flag, image, FsChoice::Any, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(l.unknown.size(), 1u);
    EXPECT_EQ(l.unknown[0], "directory /DCIM unreadable: its files are not listed");
    for (const FileRecord& f : l.files) EXPECT_NE(f.path.compare(0, 6, "/DCIM/"), 0) << f.path;
    EXPECT_GT(l.files.size(), 20u);
}

TEST_F(IsoImages, FilesCommandExitsByWhatItFound)
{
    auto runFiles = [&](std::vector<std::string> extra, std::string* text) {
        Options o;
        o.command = Command::Files;
        o.filesFlag = flag;
        for (const std::string& e : extra) {
            if (e == "--json") o.json = true;
            if (e == "--all") o.filesAll = true;
            if (e == "joliet") o.filesSystem = e;
        }
        CTempDir io;
        CliIo cli;
        cli.out = std::fopen(io.File("out").c_str(), "w");
        cli.err = std::fopen(io.File("err").c_str(), "w");
        int status = RunFiles(o, cli);
        std::fclose(cli.out);
        std::fclose(cli.err);
        std::ifstream in(io.File("out"));
        *text = std::string(std::istreambuf_iterator<char>(in), {});
        return status;
    };
    std::string text;
    WriteFlagFile(flag, sectors, {});
    EXPECT_EQ(runFiles({"--all"}, &text), 0);
    EXPECT_NE(text.find("/docs/Übersicht/file 4.dat"), std::string::npos) << text;
    EXPECT_NE(text.find("files: 36 complete, 0 damaged, 0 unknown; 0 bytes lost"), std::string::npos) << text;

    uint32_t first = FirstDataSector(image);
    WriteFlagFile(flag, sectors, {first});
    EXPECT_EQ(runFiles({"--json", "joliet"}, &text), 1);
    EXPECT_NE(text.find("\"system\": \"Joliet\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"state\": \"damaged\", \"missing_sectors\": 1, \"missing_bytes\": 2048"),
              std::string::npos)
        << text;

    // No descriptor of either tree left, and a flag file shorter than the volume.
    std::set<uint32_t> all;
    for (uint32_t s = 16; s < 40; ++s) all.insert(s);
    WriteFlagFile(flag, sectors, all);
    EXPECT_EQ(runFiles({}, &text), 2);
    // A copy short of the volume: warned of only where it cuts into file data.
    WriteFlagFile(flag, sectors - 10, {});
    EXPECT_EQ(runFiles({}, &text), 0);
    EXPECT_EQ(text.find("longer than the copy"), std::string::npos) << text;
    uint32_t dataEnd = 0;
    bool ok = false;
    for (const FileRecord& f : ListSet(flag, image, FsChoice::Any, &ok).files)
        for (const FileExtent& e : f.extents) dataEnd = std::max(dataEnd, e.lba + uint32_t((e.bytes + 2047) / 2048));
    WriteFlagFile(flag, dataEnd - 1, {});
    EXPECT_EQ(runFiles({}, &text), 1);
    EXPECT_NE(text.find("the volume is " + std::to_string(sectors - dataEnd + 1) + " sectors longer than the copy"),
              std::string::npos)
        << text;
}

TEST(IsoMultiExtent, AFileOver4GiBIsListedWithEveryExtent)
{
    REQUIRE_TOOL("xorriso");
    CTempDir dir;
    const uint64_t size = (uint64_t(4) << 30) + 3 * 1024 * 1024 + 100;
    Shell("mkdir -p '" + dir.File("t/d") + "' && truncate -s " + std::to_string(size) + " '" + dir.File("t/d/huge.bin") +
        "' && echo small > '" + dir.File("t/small.txt") + "'");
    std::string image = dir.File("big.iso"), flag = dir.File("big.flg");
    // The image is written sparse: its 4 GiB of zeros take no room.
    int status = 0;
    Shell("xorriso -as mkisofs -quiet -iso-level 3 -R -J -o - '" + dir.File("t") + "' 2>/dev/null | dd of='" + image +
            "' bs=1M conv=sparse status=none",
        &status);
    ASSERT_EQ(status, 0);
    uint32_t sectors = ImageSectors(image);
    std::istringstream lines(Shell("xorriso -indev '" + image + "' -find /d -exec report_lba -- 2>/dev/null"));
    std::string line;
    std::vector<std::pair<uint32_t, uint32_t>> extents;  // start, blocks
    unsigned xt, lba, blocks;
    while (std::getline(lines, line))
        if (std::sscanf(line.c_str(), "File data lba: %u , %u , %u", &xt, &lba, &blocks) == 3)
            extents.push_back({lba, blocks});
    ASSERT_EQ(extents.size(), 2u);
    // One sector in each extent, the second one the file's short last sector.
    uint32_t last = extents[1].first + extents[1].second - 1;
    std::set<uint32_t> missing = {extents[0].first + 5, last};
    WriteFlagFile(flag, sectors, missing);
    bool ok = false;
    Listing l = ListSet(flag, image, FsChoice::Any, &ok);
    ASSERT_TRUE(ok);
    const FileRecord* huge = nullptr;
    for (const FileRecord& f : l.files)
        if (f.path == "/d/huge.bin") huge = &f;
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(huge->size, size);
    EXPECT_EQ(huge->extents.size(), 2u);
    EXPECT_EQ(huge->missingSectors, 2u);
    EXPECT_EQ(huge->missingBytes, 2048u + 100u);
    WriteSectorMap(dir.File("big.map"), sectors, missing);
    EXPECT_EQ(OurSpans(l, missing), XorrisoDamaged(image, dir.File("big.map")));
}

}  // namespace

namespace {

// The simulator's own volume, as xorriso reads it: every file where the profile put it.
TEST(SimVolumeInXorriso, TheDemoDiscsFilesLieWhereTheProfileSays)
{
    REQUIRE_TOOL("xorriso");
    SimProfile p;
    std::string error;
    ASSERT_TRUE(LoadSimProfile(SourceDir() + "/examples/scratched.sim", &p, &error)) << error;
    CTempDir dir;
    std::string image = dir.File("demo.iso");
    {
        std::ofstream out(image, std::ios::binary);
        uint8_t s[kSimSectorSize];
        for (uint32_t lba = 0; lba < p.volume->FileStarts()[0]; ++lba) {
            GenerateSector(p, lba, s);
            out.write(reinterpret_cast<const char*>(s), sizeof s);
        }
    }
    Shell("truncate -s " + std::to_string(uint64_t(p.sectors) * kSimSectorSize) + " '" + image + "'");
    std::set<std::pair<uint32_t, uint64_t>> listed, profile;
    std::istringstream lines(Shell("xorriso -indev '" + image + "' -find / -exec report_lba -- 2>/dev/null"));
    std::string line;
    unsigned xt, lba, blocks;
    unsigned long long size;
    while (std::getline(lines, line))
        if (std::sscanf(line.c_str(), "File data lba: %u , %u , %u , %llu", &xt, &lba, &blocks, &size) == 4)
            listed.insert({lba, size});
    for (size_t i = 0; i < p.files.size(); ++i) profile.insert({p.volume->FileStarts()[i], p.files[i].bytes});
    EXPECT_EQ(listed, profile);
}

}  // namespace
