// Our mapfiles against the real GNU ddrescue and ddrescuelog, and a real
// ddrescue rescue brought into an image set by `gleanor import --mapfile`.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "image_set_files.h"
#include "mapfile/mapfile.h"
#include "process.h"
#include "support/fakes.h"

namespace {

constexpr uint32_t kCount = 403;  // small enough for ddrescuelog -t to print exact bytes

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs a shell command line; its exit status, and its standard output in *out.
int Shell(const std::string& command, std::string* out = nullptr)
{
    std::FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

ChildRun Gleanor(const std::vector<std::string>& args) { return RunChild(GleanorPath(), args); }

// Missing zones, one at the very start, one at the end, and scattered sectors.
std::vector<bool> PatchyReads(uint32_t count)
{
    std::vector<bool> read(count, true);
    for (uint32_t i = 0; i < count; ++i)
        read[i] = !(i < 3 || (i >= 50 && i < 120) || (i >= 200 && i < 261) || i >= 390 || i % 37 == 5);
    return read;
}

class DdrescueTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Shell("command -v ddrescue >/dev/null && command -v ddrescuelog >/dev/null") != 0)
            GTEST_SKIP() << "GNU ddrescue is not installed (Debian package gddrescue)";
    }
    // Our map of the set `name` in dir, made by the built program.
    std::string OurMap(const std::string& name)
    {
        ChildRun r = Gleanor({"mapfile", dir.File(name + ".flg"), "-o", dir.File(name + ".map")});
        EXPECT_EQ(0, r.status) << r.err;
        return dir.File(name + ".map");
    }
    CTempDir dir;
};

}  // namespace

TEST_F(DdrescueTools, DdrescuelogReadsOurMapAsOurFlagFileSaysIt)
{
    const std::vector<bool> read = PatchyReads(kCount);
    WriteImageSet(dir.File("patchy"), read, RandomDisc(kCount, 3));
    WriteImageSet(dir.File("full"), std::vector<bool>(kCount, true), RandomDisc(kCount, 3));
    const std::string map = OurMap("patchy");
    uint32_t readCount = uint32_t(std::count(read.begin(), read.end(), true));

    // The rescued size ddrescuelog reports is ours.
    std::string status;
    ASSERT_EQ(0, Shell("ddrescuelog -t " + Q(map), &status));
    EXPECT_TRUE(Has(status, "rescued:   " + std::to_string(readCount * kNormalSectorSize) + " B")) << status;

    // The "done" test: fails for the incomplete set, passes for the complete one.
    EXPECT_EQ(1, Shell("ddrescuelog -D " + Q(map)));
    EXPECT_EQ(0, Shell("ddrescuelog -D " + Q(OurMap("full"))));

    // Its bitmap of our finished sectors is our flag bitmap inverted.
    std::string bitmap;
    ASSERT_EQ(0, Shell("ddrescuelog -b2048 -F bitmap-le -l+ " + Q(map), &bitmap));
    std::vector<uint8_t> flg = ReadBytes(dir.File("patchy.flg"));
    ASSERT_EQ(size_t((kCount + 7) / 8), bitmap.size());
    for (uint32_t lba = 0; lba < kCount; ++lba)
        ASSERT_EQ(FlagRead(flg, lba), bool((uint8_t(bitmap[lba / 8]) >> (lba % 8)) & 1)) << "sector " << lba;

    // And the other way: a map it makes from our flag bitmap equals ours.
    std::vector<uint8_t> bits(flg.begin() + kFlagHeaderSize, flg.begin() + kFlagHeaderSize + (kCount + 7) / 8);
    WriteBytes(dir.File("bits"), bits);
    const std::string size = std::to_string(uint64_t(kCount) * kNormalSectorSize);
    ASSERT_EQ(0, Shell("ddrescuelog -q -b2048 -s" + size + " -F bitmap-le -c?+ " + Q(dir.File("theirs.map")) + " < " +
                       Q(dir.File("bits"))));
    EXPECT_EQ(0, Shell("ddrescuelog -q -s" + size + " -p " + Q(dir.File("theirs.map")) + " " + Q(map)));
}

TEST_F(DdrescueTools, DdrescueWithOurMapSkipsEverySectorWeMarkedRead)
{
    const std::vector<bool> read = PatchyReads(kCount);
    const std::vector<uint8_t> disc = RandomDisc(kCount, 4);
    WriteImageSet(dir.File("set"), read, disc);
    WriteBytes(dir.File("disc.bin"), disc);
    // Its output starts as a marker pattern: a sector ddrescue wrote no longer holds it.
    WriteBytes(dir.File("out.img"), std::vector<uint8_t>(disc.size(), 0xA5));
    const std::string map = OurMap("set");
    std::string log;
    ASSERT_EQ(0, Shell("ddrescue -q -b2048 " + Q(dir.File("disc.bin")) + " " + Q(dir.File("out.img")) + " " + Q(map) +
                       " 2>&1", &log)) << log;
    std::vector<uint8_t> out = ReadBytes(dir.File("out.img"));
    ASSERT_EQ(disc.size(), out.size());
    for (uint32_t lba = 0; lba < kCount; ++lba) {
        auto at = out.begin() + long(lba) * kNormalSectorSize;
        bool untouched = std::all_of(at, at + kNormalSectorSize, [](uint8_t b) { return b == 0xA5; });
        bool copied = std::equal(at, at + kNormalSectorSize, disc.begin() + long(lba) * kNormalSectorSize);
        ASSERT_TRUE(read[lba] ? untouched : copied) << "sector " << lba << (read[lba] ? " was read again" : " not copied");
    }
    EXPECT_EQ(0, Shell("ddrescuelog -D " + Q(map)));
}

TEST_F(DdrescueTools, RealRescueImportedMakesTheExactUnion)
{
    // ddrescue reads the disc as a file: one sector more than the flag file
    // counts (it counts the last block address), and the sectors of a domain
    // only, as if the rest did not read.
    const std::vector<bool> ours = PatchyReads(kCount);
    const std::vector<uint8_t> disc = RandomDisc(kCount + 1, 5);
    WriteImageSet(dir.File("disc"), ours, disc);
    WriteBytes(dir.File("disc.bin"), disc);
    std::string list;
    std::vector<bool> theirs(kCount + 1);
    for (uint32_t lba = 0; lba <= kCount; ++lba) {
        theirs[lba] = !((lba >= 100 && lba < 210) || (lba >= 393 && lba < 398) || lba % 11 == 0);
        if (theirs[lba]) list += std::to_string(lba) + "\n";
    }
    WriteBytes(dir.File("domain.list"), std::vector<uint8_t>(list.begin(), list.end()));
    const std::string size = std::to_string(uint64_t(kCount + 1) * kNormalSectorSize);
    ASSERT_EQ(0, Shell("ddrescuelog -q -b2048 -s" + size + " -c " + Q(dir.File("domain.map")) + " < " +
                       Q(dir.File("domain.list"))));
    std::string log;
    ASSERT_EQ(0, Shell("ddrescue -q -b2048 -m " + Q(dir.File("domain.map")) + " " + Q(dir.File("disc.bin")) + " " +
                       Q(dir.File("dd.img")) + " " + Q(dir.File("dd.map")) + " 2>&1", &log)) << log;

    ChildRun r = Gleanor({"import", "--mapfile", dir.File("dd.map"), "--from", dir.File("dd.img"), "--dest", dir.Path()});
    EXPECT_EQ(0, r.status) << r.err;
    uint32_t gained = 0;
    for (uint32_t lba = 0; lba < kCount; ++lba) gained += !ours[lba] && theirs[lba];
    EXPECT_TRUE(Has(r.err, std::to_string(gained) + " Sectors imported, 1 Sectors beyond the last Sector passed over"))
        << r.err;

    std::vector<uint8_t> flg = ReadBytes(dir.File("disc.flg"));
    std::vector<uint8_t> iso = ReadBytes(dir.File("disc.iso"));
    FlagHeader h;
    h.Decode(flg.data());
    uint32_t marked = 0;
    for (uint32_t lba = 0; lba < kCount; ++lba) {
        ASSERT_EQ(ours[lba] || theirs[lba], FlagRead(flg, lba)) << "sector " << lba;
        if (!FlagRead(flg, lba)) continue;
        ++marked;
        ASSERT_TRUE(std::equal(disc.begin() + long(lba) * kNormalSectorSize, disc.begin() + long(lba + 1) * kNormalSectorSize,
                               iso.begin() + long(lba) * kNormalSectorSize)) << "sector " << lba;
    }
    EXPECT_EQ(marked, h.sectorsRead);
    EXPECT_EQ(0u, h.Sum());
    EXPECT_FALSE(FlagRead(flg, kCount)) << "a bit past the last sector was cleared";
}

TEST(MapImport, MapOfPartSectorsIsRefusedAndNothingChanges)
{
    CTempDir dir;
    WriteImageSet(dir.File("disc"), PatchyReads(kCount), RandomDisc(kCount, 6));
    WriteBytes(dir.File("dd.img"), RandomDisc(kCount, 7));
    const std::string map = "0 ? 1\n0 0x1000 +\n0x1000 0x200 +\n0x1200 0x1000 ?\n";
    WriteBytes(dir.File("dd.map"), std::vector<uint8_t>(map.begin(), map.end()));
    const std::vector<uint8_t> flg = ReadBytes(dir.File("disc.flg")), iso = ReadBytes(dir.File("disc.iso"));

    ChildRun r = RunChild(GleanorPath(), {"import", "--mapfile", dir.File("dd.map"), "--from", dir.File("dd.img"),
                                          "--dest", dir.Path(), "--image", "disc.iso"});
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(Has(r.err, "Block 0x1000 0x200 is not whole Sectors of 2048 Bytes")) << r.err;
    EXPECT_EQ(flg, ReadBytes(dir.File("disc.flg")));
    EXPECT_EQ(iso, ReadBytes(dir.File("disc.iso")));
}

TEST(MapfileCopy, CopyKeepsTheMapOfItsFlagFile)
{
    CTempDir dir;
    const std::string profile = dir.File("d.sim");
    WriteBytes(profile, [] {
        std::string p = "sectors 3000\nlabel MAPPED\nbad 700-763\nflaky 2000-2100 0.5\nerror_ms 200\n";
        return std::vector<uint8_t>(p.begin(), p.end());
    }());
    ChildRun r = Gleanor({"copy", "--sim", profile, "--sim-clock", "virtual", "--dest", dir.Path(), "--give-up", "1m",
                          "--mapfile", dir.File("live.map")});
    EXPECT_EQ(7, r.status) << r.err;
    Mapfile map;
    std::string error;
    ASSERT_TRUE(LoadMapfile(dir.File("live.map").c_str(), &map, &error)) << error;
    std::vector<uint8_t> flg = ReadBytes(dir.File("MAPPED.flg"));
    uint32_t checked = 0;
    for (const MapBlock& b : map.blocks)
        for (uint64_t lba = b.pos / kNormalSectorSize; lba < (b.pos + b.size) / kNormalSectorSize; ++lba, ++checked)
            ASSERT_EQ(FlagRead(flg, uint32_t(lba)), b.status == kMapFinished) << "sector " << lba;
    EXPECT_EQ(2999u, checked);  // the flag file counts the last block address
    EXPECT_FALSE(std::filesystem::exists(dir.File("live.map.tmp")));
}
