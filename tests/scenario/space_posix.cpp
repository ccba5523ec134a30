// Free space and full or read-only destinations, on a small tmpfs mounted by
// the test (which needs root; otherwise the tests are skipped).
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/core/settings.h"
#include "scenario_rig.h"

namespace {

class CTmpfs {
public:
    CTmpfs(const std::string& path, unsigned megabytes, bool readOnly) : path_(path)
    {
        std::filesystem::create_directory(path);
        std::string options = "size=" + std::to_string(megabytes) + "m";
        if (geteuid() != 0) {
            problem_ = "needs root to mount a tmpfs";
        } else if (mount("gleanor-test", path.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) != 0) {
            problem_ = std::string("mount failed: ") + std::strerror(errno);
        } else {
            mounted_ = true;
        }
    }
    ~CTmpfs()
    {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    const std::string& Problem() const { return problem_; }

private:
    std::string path_;
    std::string problem_;
    bool mounted_ = false;
};

class SpaceScenario : public ScenarioTest {
protected:
    // The destination becomes a tmpfs of `megabytes` inside the test folder.
    bool Mount(unsigned megabytes, bool readOnly = false)
    {
        tmpfs = std::make_unique<CTmpfs>(dir.File("small"), megabytes, readOnly);
        return tmpfs->Problem().empty();
    }
    std::string Small() const { return "small/Disc"; }

    std::unique_ptr<CTmpfs> tmpfs;
};

#define MOUNT_OR_SKIP(...)                                        \
    do {                                                          \
        if (!Mount(__VA_ARGS__)) GTEST_SKIP() << tmpfs->Problem(); \
    } while (0)

// Told to go on although space is short, the copy fills the destination and
// ends with Disk Full; the flags claim only what the image holds, and a copy
// continued on a larger destination completes the image.
TEST_F(SpaceScenario, DiskFullThenResumeOnALargerDestination)
{
    MOUNT_OR_SKIP(24);
    Attach({Disc(20480)});  // 40 MB
    fe.prompt.fallback = kIdYes;
    EXPECT_EQ(OUTCOME_DISK_FULL, Copy(Small()));
    EXPECT_TRUE(Logged("Exit 0x5: Disk Full ???"));
    EXPECT_TRUE(Asked("Low Disk Space !"));
    bool anyway = false, during = false;
    for (const auto& q : fe.prompt.asked) {
        anyway = anyway || q.text == "Continue anyway ?  ";
        during = during || q.text == "Continue ?  ";
    }
    EXPECT_TRUE(anyway);
    EXPECT_TRUE(during);
    ExpectImageConsistent(Small());
    size_t missing = MissingSectors(Small()).size();
    EXPECT_GT(missing, 20480u / 3);

    std::filesystem::copy_file(Path("iso", Small()), Path("iso"));
    std::filesystem::copy_file(Path("flg", Small()), Path("flg"));
    tmpfs.reset();
    fe.prompt.fallback = kIdFailed;
    EXPECT_EQ(OUTCOME_OK, Copy());
    EXPECT_TRUE(MissingSectors().empty());
    ExpectImageConsistent();
}

TEST_F(SpaceScenario, LowSpaceDeclinedDuringTheCopy)
{
    MOUNT_OR_SKIP(24);
    Attach({Disc(20480)});
    fe.prompt.Answer("Low Disk Space !", kIdYes);  // "Continue anyway ?  "
    fe.prompt.Answer("Low Disk Space !", kIdNo);   // "Continue ?  "
    EXPECT_EQ(OUTCOME_LOW_SPACE, Copy(Small()));
    ASSERT_EQ(2u, fe.prompt.asked.size());
    EXPECT_EQ("Continue ?  ", fe.prompt.asked[1].text);
    EXPECT_TRUE(Logged("Abort LowDiskSpace"));
    EXPECT_TRUE(Logged("Exit 0xa: Abort LowDiskSpace"));
    ExpectImageConsistent(Small());
    EXPECT_FALSE(MissingSectors(Small()).empty());
}

// Free space of exactly the disc plus 50 MB does not ask; one MB less does.
TEST_F(SpaceScenario, ExactlyTheNeededSpaceDoesNotAsk)
{
    MOUNT_OR_SKIP(54);
    Attach({Disc(2048)});  // 4 MB
    EXPECT_EQ(OUTCOME_OK, Copy(Small()));
    EXPECT_FALSE(Asked("Low Disk Space !"));
    ExpectImageConsistent(Small());
}

TEST_F(SpaceScenario, OneMegabyteLessAsksAndNoStopsBeforeAnyFile)
{
    MOUNT_OR_SKIP(53);
    Attach({Disc(2048)});
    fe.prompt.Answer("Low Disk Space !", kIdNo);
    EXPECT_EQ(OUTCOME_LOW_SPACE, Copy(Small()));
    ASSERT_EQ(1u, fe.prompt.asked.size());
    EXPECT_EQ("Continue anyway ?  ", fe.prompt.asked[0].text);
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("small")));
}

TEST_F(SpaceScenario, ReadOnlyDestinationCannotBeOpened)
{
    MOUNT_OR_SKIP(64, true);
    Attach({Disc(2048)});
    EXPECT_EQ(OUTCOME_FOPEN, Copy(Small()));
    EXPECT_TRUE(Logged("Exit 0x2: FOpen *.Iso"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("small")));
}

}  // namespace
