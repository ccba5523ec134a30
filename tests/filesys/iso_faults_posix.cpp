// A plain Rock Ridge volume without Joliet (genisoimage -R), and one written
// in two sessions: what cannot be read, or does not hold together, is said,
// never passed over with a clean summary.
#include <cstring>
#include <sys/resource.h>

#include "cli/files_command.h"
#include "filesys/image_tools.h"

namespace {

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le32At(const std::string& b, size_t at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

// Writes a both-endian 32-bit field of a directory record.
void PutBoth32(std::string* b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        (*b)[at + i] = char(v >> (8 * i));
        (*b)[at + 7 - i] = char(v >> (8 * i));
    }
}

// The offset of the record named `id` (its ISO 9660 identifier) in the root directory.
size_t RootRecord(const std::string& image, const std::string& id)
{
    size_t root = size_t(Le32At(image, 16 * 2048 + 156 + 2)) * 2048;
    for (size_t pos = root; pos < root + 2048 && image[pos];) {
        if (uint8_t(image[pos + 32]) == id.size() && image.compare(pos + 33, id.size(), id) == 0) return pos;
        pos += uint8_t(image[pos]);
    }
    return 0;
}

uint32_t SectorStartingWith(const std::string& image, const std::string& bytes)
{
    for (size_t at = 0; at + 2048 <= image.size(); at += 2048)
        if (image.compare(at, bytes.size(), bytes) == 0) return uint32_t(at / 2048);
    return 0;
}

class PlainRockRidge : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TOOL("genisoimage");
        std::string t = dir.File("t/");
        Shell("mkdir -p " + t + "loop " + t + "huge && head -c 5000 /dev/zero | tr '\\0' A >" + t + "a.txt && ln " + t +
              "a.txt " + t + "hard.txt && ln -s ../x " + t + "a.link && echo 1 >" + t + "x.txt && echo 2 >" +
              t + "x-y.txt && echo 3 >" + t + "loop/in.txt && echo 4 >" + t + "huge/in.txt");
        int status = 0;
        Shell("genisoimage -quiet -R -o '" + image + "' '" + t + "' 2>&1", &status);
        ASSERT_EQ(status, 0);
        sectors = ImageSectors(image);
    }

    Listing List(const std::set<uint32_t>& missing, bool* ok, std::string* error = nullptr)
    {
        WriteFlagFile(flag, sectors, missing);
        return ListSet(flag, image, FsChoice::Any, ok, error);
    }

    CTempDir dir;
    std::string image = dir.File("v.iso"), flag = dir.File("v.flg");
    uint32_t sectors = 0;
};

TEST_F(PlainRockRidge, LostOrCorruptFoldersAreNamedNeverPassedOver)
{
    std::string bytes = ReadFileBytes(image);
    uint32_t root = Le32At(bytes, 16 * 2048 + 156 + 2);
    bool ok = true;
    std::string error;
    List({root}, &ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("the root directory is unreadable"), std::string::npos) << error;
    EXPECT_EQ(FilesAfterCopy(flag, image, false)[0].compare(0, 18, "files: not listed "), 0);

    // One folder record points back to the root, another claims 4 GiB.
    size_t loop = RootRecord(bytes, "LOOP"), huge = RootRecord(bytes, "HUGE");
    ASSERT_TRUE(loop && huge);
    PutBoth32(&bytes, loop + 2, root);
    PutBoth32(&bytes, huge + 10, 0xFFFFFFFF);
    std::ofstream(image, std::ios::binary | std::ios::trunc) << bytes;
    Listing l = List({}, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.unknown, (std::vector<std::string>{"directory /huge is corrupt: its files are not listed",
                                                   "directory /loop is corrupt: its files are not listed"}));
    EXPECT_EQ(Summarise(l).unknown, 2u);
}

TEST_F(PlainRockRidge, LinksAndNamesAreShownAsRecorded)
{
    bool ok = false;
    std::string bytes = ReadFileBytes(image);
    uint32_t data = SectorStartingWith(bytes, std::string(2048, 'A'));
    ASSERT_NE(data, 0u);
    Listing l = List({data}, &ok);
    ASSERT_TRUE(ok);
    std::vector<std::string> paths;
    for (const FileRecord& f : l.files) paths.push_back(f.path);
    // Sorted by the names shown, not by the ISO 9660 identifiers (X.TXT before X_Y.TXT).
    EXPECT_EQ(paths, (std::vector<std::string>{"/a.link", "/a.txt", "/hard.txt", "/huge/in.txt", "/loop/in.txt",
                                               "/x-y.txt", "/x.txt"}));
    EXPECT_TRUE(l.files[0].symlink);
    EXPECT_EQ(l.files[0].linkTarget, "../x");
    // Two names of the same damaged data: both damaged, its bytes lost once.
    DamageSummary s = Summarise(l);
    EXPECT_EQ(s.damaged, 2u);
    EXPECT_EQ(s.complete, 4u);
    EXPECT_EQ(s.bytesLost, 2048u);
}

TEST(IsoSessions, TheLastSessionIsListedOrWhatWasNotReadIsSaid)
{
    REQUIRE_TOOL("genisoimage");
    CTempDir dir;
    Shell("mkdir -p " + dir.File("s1") + " " + dir.File("s2") + " && echo old >" + dir.File("s1/old.txt") +
          " && head -c 5000 /dev/zero | tr '\\0' N >" + dir.File("s2/new.bin"));
    std::string s1 = dir.File("s1.iso"), s2 = dir.File("s2.iso"), image = dir.File("disc.iso"), flag = dir.File("d.flg");
    int status = 0;
    Shell("genisoimage -quiet -R -o '" + s1 + "' '" + dir.File("s1") + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    // The second session starts after the gap that closes a CD's first one.
    uint32_t next = ImageSectors(s1) + 11400;
    Shell("genisoimage -quiet -R -C 0," + std::to_string(next) + " -M '" + s1 + "' -o '" + s2 + "' '" +
              dir.File("s2") + "' 2>&1 && cp '" + s1 + "' '" + image + "' && truncate -s " +
              std::to_string(uint64_t(next) * 2048) + " '" + image + "' && cat '" + s2 + "' >>'" + image + "'",
          &status);
    ASSERT_EQ(status, 0);
    uint32_t sectors = ImageSectors(image), data = SectorStartingWith(ReadFileBytes(image), "NNNNNNNN");
    ASSERT_GT(data, next);
    WriteFlagFile(flag, sectors, {data});
    bool ok = false;
    Listing l = ListSet(flag, image, FsChoice::Any, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(DamagedOf(l), (std::map<std::string, uint64_t>{{"/new.bin", 2048}}));
    EXPECT_EQ(l.files.size(), 2u);
    EXPECT_EQ(l.notes, (std::vector<std::string>{"the disc holds 2 sessions: listed from the last one, which starts at sector " +
                                                 std::to_string(next)}));
    CImageSetReader disc;
    std::string error;
    ASSERT_TRUE(disc.Open(flag, image, &error)) << error;
    EXPECT_EQ(ClaimedVolumeSectors(disc), sectors);  // where a copy sized by the file system ends

    // The second session's descriptor lost: the first is listed, and the rest named.
    WriteFlagFile(flag, sectors, {data, next + 16});
    l = ListSet(flag, image, FsChoice::Any, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.files.size(), 1u);
    ASSERT_EQ(l.unknown.size(), 1u);
    EXPECT_NE(l.unknown[0].find("sectors after the volume's end at sector " + std::to_string(ImageSectors(s1)) +
                                ", some of them missing: a later session there may not be listed"),
              std::string::npos)
        << l.unknown[0];
}

TEST(IsoImageSet, WhatTheFilesDoNotHoldIsMissing)
{
    REQUIRE_TOOL("genisoimage");
    CTempDir dir;
    Shell("mkdir -p " + dir.File("t") + " && head -c 100000 /dev/urandom >" + dir.File("t/tail.bin"));
    std::string image = dir.File("v.iso"), flag = dir.File("v.flg");
    int status = 0;
    Shell("genisoimage -quiet -R -o '" + image + "' '" + dir.File("t") + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    // Every sector marked read, but the image ends 40 sectors into the file's 49.
    uint32_t sectors = ImageSectors(image);
    bool ok = false;
    WriteFlagFile(flag, sectors, {});
    uint32_t start = ListSet(flag, image, FsChoice::Any, &ok).files.at(0).extents.at(0).lba;
    Shell("truncate -s " + std::to_string(uint64_t(start + 40) * 2048 + 100) + " '" + image + "'");
    Listing l = ListSet(flag, image, FsChoice::Any, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(DamagedOf(l), (std::map<std::string, uint64_t>{{"/tail.bin", 100000 - 40 * 2048}}));

    // A flag file of a header alone that claims 2^32-1 sectors: nothing is
    // allocated for sectors it does not hold, and none of them is present.
    FlagHeader h;
    h.sectorCount = 0xFFFFFFFF;
    h.sectorSize = kFsSectorSize;
    h.checksum = 0 - h.Sum();
    uint8_t head[kFlagHeaderSize];
    h.Encode(head);
    std::ofstream(flag, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(head), kFlagHeaderSize);
    rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    CImageSetReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(flag, image, &error)) << error;
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);  // kilobytes
    EXPECT_FALSE(reader.Present(16));
}

}  // namespace
