// The destination failing under a running `gleanor copy`: a full file system,
// a folder made read-only or removed mid-copy, and an image set that another
// running `gleanor` holds. Each ends with its designed outcome, and nothing is
// marked read that is not in the image.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "crash/process_posix.h"
#include "crash/verify.h"
#include "engine/recovery_engine.h"
#include "support/fakes.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPaceMicros = 1500;        // per file write: a copy of the damaged disc lasts a few seconds
constexpr int kMidCopyMs = 300;
constexpr const char* kTmpfsSize = "size=4m";

bool Contains(const std::string& log, const std::string& text)
{
    return log.find(text) != std::string::npos;
}

class DestinationFaults : public ::testing::Test {
protected:
    ~DestinationFaults() override
    {
        if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
    }

    std::string Damaged() const { return damaged_; }

    // A profile of a healthy disc of `sectors`, in the test's folder.
    std::string Healthy(uint32_t sectors, uint32_t sectorMicros)
    {
        std::string path = dir.File("healthy.sim");
        std::ofstream(path) << "sectors " << sectors << "\nlabel HEALTHY\nsector_us " << sectorMicros << "\n";
        return path;
    }

    ChildResult Gleanor(const std::vector<std::string>& args, std::vector<std::pair<std::string, std::string>> env = {})
    {
        ChildPlan plan;
        plan.args = args;
        plan.env = std::move(env);
        plan.runAsUid = runAsUid_;
        plan.runAsGid = runAsGid_;
        bool hung = false;
        ChildResult r = RunChild(program_, shim_, plan, &hung);
        EXPECT_FALSE(hung) << "gleanor " << args[0] << " did not end";
        return r;
    }

    std::vector<std::string> CopyArgs(const std::string& profile, const std::string& dest,
                                      std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> a{"copy", "--sim", profile, "--sim-clock", "virtual", "--dest", dest,
                                   "--image", "disc.iso", "--log-level", "1"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    // Every sector marked read is in the image; returns the report.
    SetReport ExpectConsistent(const std::string& profile, const std::string& folder)
    {
        CSimulatedAspi disc;
        std::string error;
        EXPECT_TRUE(disc.AddProfileFile(profile, &error)) << error;
        SetReport rep = VerifySet(disc, folder + "disc.flg", folder + "disc.iso", "", {});
        EXPECT_TRUE(rep.ok) << rep.problem;
        EXPECT_TRUE(rep.headerSums);
        return rep;
    }

    // A small tmpfs at `folder`, or false (the test then skips).
    bool MountSmall(const std::string& folder)
    {
        if (geteuid() != 0) return false;
        fs::create_directories(folder);
        if (mount("tmpfs", folder.c_str(), "tmpfs", 0, kTmpfsSize) != 0) return false;
        mounted_ = folder;
        return true;
    }

    // When root, the children run as "nobody", for whom file modes count. What
    // they run and read is copied into the test's folder, so that it does not
    // matter where the build tree lies; that folder must itself be reachable.
    void RunAsNobody(const std::string& folder)
    {
        if (geteuid() != 0) return;
        passwd* pw = getpwnam("nobody");
        ASSERT_NE(nullptr, pw);
        std::string blocked = FolderOthersCannotEnter(fs::path(dir.Path()).parent_path());
        if (!blocked.empty()) GTEST_SKIP() << "user nobody cannot enter " << blocked << " (set TMPDIR elsewhere)";
        std::string bin = dir.File("bin") + "/";
        fs::create_directories(bin);
        fs::copy_file(program_, bin + "gleanor");
        fs::copy_file(shim_, bin + "crash_shim.so");
        fs::copy_file(damaged_, bin + "damaged.sim");
        program_ = bin + "gleanor";
        shim_ = bin + "crash_shim.so";
        damaged_ = bin + "damaged.sim";
        fs::permissions(dir.Path(), fs::perms(0755));
        fs::permissions(bin, fs::perms(0755));
        runAsUid_ = int(pw->pw_uid);
        runAsGid_ = int(pw->pw_gid);
        ASSERT_EQ(0, chown(dir.Path().c_str(), pw->pw_uid, pw->pw_gid));
        ASSERT_EQ(0, chown(folder.c_str(), pw->pw_uid, pw->pw_gid));
    }

    CTempDir dir;

private:
    // The nearest folder above `path` that others may not pass through, or "".
    static std::string FolderOthersCannotEnter(fs::path path)
    {
        for (path = path.parent_path(); !path.empty(); path = path.parent_path()) {
            struct stat st;
            if (stat(path.c_str(), &st) != 0 || !(st.st_mode & S_IXOTH)) return path.string();
            if (path == path.root_path()) break;
        }
        return "";
    }

    std::string program_ = GLEANOR_CLI_PATH;
    std::string shim_ = CRASH_SHIM_PATH;
    std::string damaged_ = SourceDir() + "/tests/crash/damaged.sim";
    std::string mounted_;
    int runAsUid_ = -1;
    int runAsGid_ = -1;
};

// Given a 4 MB destination and a 78 MB disc, the copy asks "Continue anyway ?"
// at the start and "Continue ?" while space runs short, then ends with
// outcome 5; on a larger destination the same image set then completes.
TEST_F(DestinationFaults, FullDestinationEndsDiskFullAndResumesElsewhere)
{
    std::string small = dir.File("small") + "/";
    if (!MountSmall(small)) GTEST_SKIP() << "needs root to mount a small tmpfs";
    std::string profile = Healthy(40000, 2000);
    ChildResult full = Gleanor(CopyArgs(profile, small, {"--yes"}));
    EXPECT_EQ(5, full.exitCode) << full.log;
    EXPECT_TRUE(Contains(full.log, "Continue anyway ?  "));
    EXPECT_TRUE(Contains(full.log, "Continue ?  "));
    EXPECT_TRUE(Contains(full.log, "Exit 0x5: Disk Full ???"));
    SetReport partial = ExpectConsistent(profile, small);
    EXPECT_GT(partial.markedRead, 0u);

    std::string large = dir.File("large") + "/";
    fs::create_directories(large);
    fs::copy_file(small + "disc.flg", large + "disc.flg");
    fs::copy_file(small + "disc.iso", large + "disc.iso");
    ChildResult resumed = Gleanor(CopyArgs(profile, large, {"--yes"}));
    EXPECT_EQ(0, resumed.exitCode) << resumed.log;
    EXPECT_TRUE(Contains(resumed.log, "Continue disc.iso"));
    SetReport done = ExpectConsistent(profile, large);
    EXPECT_EQ(done.sectorCount, done.markedRead);
}

// Given the same full destination and no answers, the first question is
// declined: outcome 10, and no file is created.
TEST_F(DestinationFaults, DeclinedLowSpaceCreatesNothing)
{
    std::string small = dir.File("small") + "/";
    if (!MountSmall(small)) GTEST_SKIP() << "needs root to mount a small tmpfs";
    ChildResult r = Gleanor(CopyArgs(Healthy(40000, 2000), small));
    EXPECT_EQ(10, r.exitCode) << r.log;
    EXPECT_TRUE(Contains(r.log, "Abort LowDiskSpace"));
    EXPECT_TRUE(fs::is_empty(small));
}

// Given a folder and its files made read-only mid-copy, the running copy keeps
// the descriptors it opened and ends as usual; the next copy cannot open the
// files, ends with outcome 2 and leaves them byte for byte as they were.
TEST_F(DestinationFaults, ReadOnlyMidCopyFinishesThenRefusesTheNextCopy)
{
    std::string dest = dir.File("dest") + "/";
    fs::create_directories(dest);
    RunAsNobody(dest);
    if (HasFatalFailure() || IsSkipped()) return;
    ChildResult first;
    std::thread copy([&] {
        first = Gleanor(CopyArgs(Damaged(), dest, {"--give-up", "1m"}), {{"GLEANOR_SHIM_PACE_US", std::to_string(kPaceMicros)}});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(kMidCopyMs));
    for (const char* name : {"disc.flg", "disc.iso"}) chmod((dest + name).c_str(), 0444);
    chmod(dest.c_str(), 0555);
    copy.join();
    EXPECT_TRUE(first.exitCode == 0 || first.exitCode == 7) << first.log;
    ExpectConsistent(Damaged(), dest);

    std::vector<uint8_t> flg = ReadAll(dest + "disc.flg"), iso = ReadAll(dest + "disc.iso");
    ChildResult second = Gleanor(CopyArgs(Damaged(), dest, {"--give-up", "1m"}), {{"GLEANOR_SHIM_KILL_AT", "1"}});
    EXPECT_FALSE(second.killed) << "the refused copy wrote to a file";
    EXPECT_EQ(2, second.exitCode) << second.log;
    EXPECT_TRUE(Contains(second.log, "Exit 0x2: FOpen *."));
    EXPECT_EQ(flg, ReadAll(dest + "disc.flg"));
    EXPECT_EQ(iso, ReadAll(dest + "disc.iso"));
    chmod(dest.c_str(), 0755);
}

// Given the destination folder removed mid-copy, the copy (whose descriptors
// still reach the unnamed files) ends at the next progress tick with outcome
// 5 and says why, instead of reading on into files nobody can find; a copy
// into a new folder of that name starts afresh.
TEST_F(DestinationFaults, RemovedFolderMidCopyEndsAndANewCopyStartsAfresh)
{
    std::string dest = dir.File("dest") + "/";
    fs::create_directories(dest);
    ChildResult first;
    std::thread copy([&] {
        first = Gleanor(CopyArgs(Damaged(), dest, {"--give-up", "1m"}), {{"GLEANOR_SHIM_PACE_US", std::to_string(kPaceMicros)}});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(kMidCopyMs));
    fs::remove_all(dest);
    copy.join();
    EXPECT_FALSE(first.killed);
    EXPECT_EQ(OUTCOME_DISK_FULL, first.exitCode) << first.log;
    size_t removed = first.log.find("Image set removed: " + dest + "disc.flg\n");
    EXPECT_NE(std::string::npos, removed) << first.log;
    EXPECT_LT(removed, first.log.find("Exit 0x5: Disk Full ???")) << first.log;
    EXPECT_FALSE(Contains(first.log, "Low Disk Space")) << first.log;

    fs::create_directories(dest);
    ChildResult again = Gleanor(CopyArgs(Damaged(), dest, {"--give-up", "1m"}));
    EXPECT_TRUE(Contains(again.log, "Create disc.iso")) << again.log;
    EXPECT_TRUE(again.exitCode == 0 || again.exitCode == 7) << again.log;
    ExpectConsistent(Damaged(), dest);
}

// Given an image set that a running `gleanor copy` holds, a second copy of it
// ends with "FOpen *.Iso" without writing a byte, and the first finishes
// undisturbed.
TEST_F(DestinationFaults, ImageHeldByAnotherGleanorIsNotTouched)
{
    std::string dest = dir.File("dest") + "/";
    fs::create_directories(dest);
    ChildResult first;
    std::thread copy([&] {
        first = Gleanor(CopyArgs(Damaged(), dest, {"--give-up", "1m"}), {{"GLEANOR_SHIM_PACE_US", std::to_string(kPaceMicros)}});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(kMidCopyMs));
    ChildResult second = Gleanor(CopyArgs(Damaged(), dest, {"--give-up", "1m"}), {{"GLEANOR_SHIM_KILL_AT", "1"}});
    copy.join();
    EXPECT_FALSE(second.killed) << "the second copy wrote to a file";
    EXPECT_EQ(2, second.exitCode) << second.log;
    EXPECT_TRUE(Contains(second.log, "Exit 0x2: FOpen *.Iso")) << second.log;
    EXPECT_TRUE(first.exitCode == 0 || first.exitCode == 7) << first.log;
    SetReport rep = ExpectConsistent(Damaged(), dest);
    EXPECT_EQ(rep.markedRead, rep.headerRead);
}

}  // namespace
