// The demo disc's file system, made by the simulator from its profile, read
// back by the file-system reader over the generated sectors.
#include <gtest/gtest.h>

#include "aspi/sim/sim_drive.h"
#include "filesys/listing.h"
#include "support/fakes.h"

namespace {

class GeneratedDisc : public ISectorReader {
public:
    explicit GeneratedDisc(const SimProfile& p) : profile_(p) {}
    uint32_t SectorCount() const override { return profile_.sectors; }
    bool Present(uint32_t lba) const override { return lba < profile_.sectors && lba != lost; }
    bool Read(uint32_t lba, uint8_t* out) override
    {
        if (!Present(lba)) return false;
        GenerateSector(profile_, lba, out);
        return true;
    }
    uint32_t lost = UINT32_MAX;

private:
    const SimProfile& profile_;
};

TEST(SimVolume, TheDemoDiscListsItsProfilesFilesInBothTrees)
{
    SimProfile p;
    std::string error;
    ASSERT_TRUE(LoadSimProfile(SourceDir() + rawio::kSep + "examples" + rawio::kSep + "scratched.sim", &p, &error)) << error;
    ASSERT_TRUE(p.volume);
    ASSERT_GT(p.files.size(), 20u);
    GeneratedDisc disc(p);
    for (FsChoice tree : {FsChoice::Joliet, FsChoice::Iso}) {
        Listing l;
        ASSERT_TRUE(ListFiles(disc, tree, &l, &error)) << error;
        EXPECT_EQ(l.volumeSectors, p.sectors);
        ASSERT_EQ(l.files.size(), p.files.size());
        for (size_t i = 0; i < p.files.size(); ++i) {
            const FileRecord* f = nullptr;
            for (const FileRecord& r : l.files)
                if (!r.extents.empty() && r.extents[0].lba == p.volume->FileStarts()[i]) f = &r;
            ASSERT_NE(f, nullptr) << p.files[i].path;
            EXPECT_EQ(f->size, p.files[i].bytes);
            if (tree == FsChoice::Joliet) {
                EXPECT_EQ(f->path, "/" + p.files[i].path);
            }
        }
    }
    // A file's sector lost: that file alone is damaged, by that sector.
    disc.lost = p.volume->FileStarts()[4] + 1;
    Listing l;
    ASSERT_TRUE(ListFiles(disc, FsChoice::Any, &l, &error));
    DamageSummary s = Summarise(l);
    EXPECT_EQ(s.damaged, 1u);
    EXPECT_EQ(s.bytesLost, 2048u);
    EXPECT_EQ(s.complete, p.files.size() - 1);
}

TEST(SimVolume, FileLinesThatCannotMakeAVolumeAreRefused)
{
    const char* const bad[] = {"sectors 100\nfile a/b.txt 300000\n", "file a//b 1\n", "file a 1\nfile a 2\n",
                               "file a 1\nfile a/b 2\n", "file ../x 1\n", "file a\n"};
    for (const char* text : bad) {
        SimProfile p;
        std::string error;
        EXPECT_FALSE(ParseSimProfile(text, "t.sim", "", &p, &error)) << text;
        EXPECT_EQ(error.compare(0, 6, "t.sim:"), 0) << error;
    }
}

}  // namespace
