#include <string>

#include "files_fixture.h"

namespace {

std::string PathOf(CRawFile& f) { return f.GetPath(); }

TEST(RawFilePath, FileNameExtensionAndReplace)
{
    CRawFile f;
    f.SetPath(("C:" + kS + "a.b" + kS + "c").c_str());
    EXPECT_STREQ("c", f.GetFileName());
    f.SetExtension("flg");  // the dot of a folder is not an extension
    EXPECT_EQ("C:" + kS + "a.b" + kS + "c.flg", PathOf(f));

    f.SetPath(("D:" + kS + "Rescue" + kS + "Disc.ISO.bak").c_str());
    f.SetExtension("iso");
    EXPECT_EQ("D:" + kS + "Rescue" + kS + "Disc.ISO.iso", PathOf(f));

    f.SetPath(("D:" + kS + "Rescue" + kS).c_str());
    EXPECT_STREQ("", f.GetFileName());
    f.ReplaceFileName("Disc.imp");
    EXPECT_EQ("D:" + kS + "Rescue" + kS + "Disc.imp", PathOf(f));

    f.SetPath("Holiday");  // no separator: the whole path is the name, and stays whole
    EXPECT_STREQ("Holiday", f.GetFileName());
    f.SetExtension("iso");
    EXPECT_EQ("Holiday.iso", PathOf(f));
    f.ReplaceFileName("x");
    EXPECT_EQ("Holiday.isox", PathOf(f));
}

// Given paths near the 260-character limit, then nothing is written past the
// buffer and the three files of a set still differ by their extension.
TEST(RawFilePath, LongPathsAreCutKeepingTheExtension)
{
    CRawFile f;
    f.SetPath(std::string(300, 'a').c_str());
    EXPECT_EQ(std::string(260, 'a'), PathOf(f));

    std::string folder = "C:" + kS + std::string(250, 'd') + kS;
    f.SetPath((folder + "Holiday").c_str());
    f.SetExtension("flg");
    std::string flg = PathOf(f);
    f.SetExtension("iso");
    std::string iso = PathOf(f);
    EXPECT_EQ(260u, iso.size());
    EXPECT_EQ(".iso", iso.substr(256));
    EXPECT_EQ(".flg", flg.substr(256));
    EXPECT_EQ(iso.substr(0, 256), flg.substr(0, 256));

    f.SetPath(folder.c_str());
    f.ReplaceFileName(std::string(40, 'n').c_str());
    EXPECT_EQ(folder + std::string(260 - folder.size(), 'n'), PathOf(f));
}

TEST(RawFile, OpenCloseExistsNeverTruncates)
{
    CTempDir dir;
    CRawFile f;
    f.SetPath(dir.File("a.iso").c_str());
    EXPECT_FALSE(f.Exists());
    EXPECT_FALSE(f.Close());
    ASSERT_TRUE(f.Open());  // created
    EXPECT_FALSE(f.Open());  // already open: refused, and still open
    EXPECT_TRUE(f.IsOpen());
    EXPECT_EQ(5, f.Write("12345", 5));
    EXPECT_TRUE(f.Exists());
    EXPECT_TRUE(f.Close());
    EXPECT_FALSE(f.Close());
    EXPECT_TRUE(f.Exists());
    ASSERT_TRUE(f.Open());
    EXPECT_EQ(5, f.Size());
    f.Close();

    CRawFile nowhere;
    nowhere.SetPath(dir.File("missing" + kS + "a.iso").c_str());
    EXPECT_FALSE(nowhere.Open());
    EXPECT_FALSE(nowhere.Exists());
}

// A second writer of the same file (another program, or a second Open here)
// is refused; readers are not.
TEST(RawFile, SecondWriterIsRefused)
{
    CTempDir dir;
    CRawFile first, second;
    first.SetPath(dir.File("a.flg").c_str());
    second.SetPath(first.GetPath());
    ASSERT_TRUE(first.Open());
    EXPECT_FALSE(second.Open());
    EXPECT_TRUE(second.Exists());
    first.Close();
    EXPECT_TRUE(second.Open());
    second.Close();
}

TEST(RawFile, SizeInMegabytesOpenOrClosedBeyond4GB)
{
    CTempDir dir;
    CRawFile f;
    f.SetPath(dir.File("big.iso").c_str());
    EXPECT_EQ(0u, f.GetSizeMB());  // missing
    ASSERT_TRUE(f.Open());
    const int64_t size = 5000000000LL;
    ASSERT_EQ(size - 1, f.Seek(size - 1));
    ASSERT_EQ(1, f.Write("x", 1));
    EXPECT_EQ(4768u, f.GetSizeMB());
    f.Close();
    EXPECT_EQ(4768u, f.GetSizeMB());
}

}  // namespace
