// The worker thread and the request flags, driven from the test's thread as
// the dialog drives them, on the system clock.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/core/settings.h"
#include "copy_helpers.h"
#include "fake_aspi.h"
#include "support/fakes.h"
#include "channel/channel.h"

namespace {

constexpr uint32_t kDiscSectors = 20000;

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetClock(nullptr);  // real waits: the idle cycle must not spin
        rig.fake.lastLba = kDiscSectors;
        e.destFolder = dir.Path();
        progressMap.mapCells = kMapCellsMax;
        e.selectDriveIndex = 0;
        e.selectDriveRequested = true;
        worker = std::thread([this] { result = RecoveryThreadProc(&e); });
    }
    void TearDown() override
    {
        e.runRequested = false;
        e.shutdownRequested = true;
        if (worker.joinable()) worker.join();
    }

    // States posted since the mark.
    std::vector<unsigned> StatesSince(size_t mark) const
    {
        auto states = fe.poster.EngineStates();
        return std::vector<unsigned>(states.begin() + long(std::min(mark, states.size())), states.end());
    }
    bool Posted(unsigned state, size_t mark) const
    {
        auto s = StatesSince(mark);
        return std::find(s.begin(), s.end(), state) != s.end();
    }
    size_t Mark() const { return fe.poster.EngineStates().size(); }

    // Start as the dialog does, and wait for the copy to end.
    void CopyAndWait(const std::string& name)
    {
        fe.prompt.ChooseFileAnswer(dir.File(name));
        size_t mark = Mark();
        e.runRequested = true;
        ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_IDLE, mark) || Posted(ENGINE_SHUTDOWN, mark); }));
        EXPECT_EQ(ENGINE_COPYING, StatesSince(mark).front());
    }

    CFrontEndFixture fe;
    CTempDir dir;
    CFakeRig rig;
    CRecoveryEngine& e = rig.engine;
    std::thread worker;
    unsigned result = 99;
};

TEST_F(WorkerTest, IdleRequestsCopiesPauseAndPowerOff)
{
    // Start-up: the selection request, then the ready disc with its size.
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, 0); }));
    EXPECT_TRUE(e.threadAlive);
    EXPECT_TRUE(e.sourceReady);
    EXPECT_FALSE(e.selectDriveRequested);
    // The state is posted before the source's text.
    ASSERT_TRUE(WaitUntil([&] { return fe.poster.StatusTexts(kSlotSource).size() >= 2; }));
    auto sources = fe.poster.StatusTexts(kSlotSource);
    EXPECT_EQ("Source", sources.front());
    EXPECT_EQ(0u, sources.back().rfind("Source  ", 0));
    EXPECT_NE(std::string::npos, sources.back().find("  (39 MB)"));
    ASSERT_TRUE(WaitUntil([&] { return !fe.poster.StatusTexts(kSlotDestination).empty(); }));
    EXPECT_EQ(0u, fe.poster.StatusTexts(kSlotDestination).front().rfind("Destination  (", 0));

    // Eject and load: not ready while the tray is open, ready again after.
    size_t mark = Mark();
    e.ejectRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return !e.ejectRequested && !e.sourceReady; }));
    EXPECT_TRUE(rig.fake.trayOpen);
    ASSERT_TRUE(WaitUntil([&] { return fe.poster.StatusTexts(kSlotSource).back() == "Source  ...  Not Ready  ...   "; }));
    EXPECT_EQ(ENGINE_SOURCE_NOT_READY, StatesSince(mark).front());
    mark = Mark();
    e.loadRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, mark); }));
    EXPECT_FALSE(rig.fake.trayOpen);

    // Drive selection and the size probe are served and cleared.
    mark = Mark();
    e.selectDriveRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, mark); }));
    EXPECT_EQ(ENGINE_SOURCE_NOT_READY, StatesSince(mark).front());
    e.probeSizeRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return !e.probeSizeRequested; }));
    rig.fake.ClearCommands();

    // A copy paused from this thread ends with User Break; no power-off for it.
    e.shutdownOnCompletion = true;
    rig.fake.readDelayUs = 2000;
    fe.prompt.ChooseFileAnswer(dir.File("Disc"));
    mark = Mark();
    e.runRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return e.copyRunning && e.position > 1600; }));
    e.runRequested = false;
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_IDLE, mark); }));
    EXPECT_EQ((std::vector<unsigned>{ENGINE_COPYING, ENGINE_IDLE}), StatesSince(mark));
    EXPECT_TRUE(fe.poster.Logged("Exit 0x3: User Break"));
    EXPECT_FALSE(e.copyRunning);
    EXPECT_TRUE(e.threadAlive);
    rig.fake.readDelayUs = 0;

    // A Start whose disc stopped answering still runs the copy: Drive Not Ready.
    // (The idle worker may see the disc go before the Start comes.)
    rig.fake.ready = false;
    mark = Mark();
    e.runRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_IDLE, mark); }));
    EXPECT_TRUE(Posted(ENGINE_COPYING, mark));
    EXPECT_TRUE(fe.poster.Logged("Exit 0x1: Drive Not Ready"));
    ASSERT_TRUE(WaitUntil([&] { return !e.sourceReady; }));
    rig.fake.ready = true;
    mark = Mark();
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, mark); }));

    // The resumed copy reads only what the first did not, finishes, opens the
    // tray and ends the thread for the power-off.
    settings.ejectOnCompletion = 1;
    fe.prompt.ChooseFileAnswer(dir.File("Disc"));
    mark = Mark();
    e.runRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SHUTDOWN, mark); }));
    worker.join();
    EXPECT_EQ(1u, result);
    EXPECT_EQ((std::vector<unsigned>{ENGINE_COPYING, ENGINE_SHUTDOWN}), StatesSince(mark));
    EXPECT_FALSE(e.threadAlive);
    EXPECT_FALSE(e.runRequested);
    EXPECT_FALSE(e.copyRunning);
    EXPECT_EQ("EJECT", rig.fake.Commands().back());
    auto flags = ReadAll(dir.File("Disc.flg"));
    EXPECT_EQ(kDiscSectors, CountRead(flags, kDiscSectors));
    EXPECT_EQ(kDiscSectors, HeaderOf(flags).sectorsRead);
    // Across both copies every sector was read exactly once, but for the
    // resume's identity test (sector 16 and one held sector in each eighth of
    // the disc) and the idle worker's label read of sector 16.
    std::vector<int> reads(kDiscSectors + 1, 0);
    for (const auto& c : rig.fake.Commands()) {
        unsigned lba = 0, count = 0;
        if (std::sscanf(c.c_str(), "READ %u %u", &lba, &count) != 2) continue;
        for (unsigned i = 0; i < count && lba + i <= kDiscSectors; ++i) ++reads[lba + i];
    }
    int readAgain = 0;
    for (uint32_t lba = 0; lba < kDiscSectors; ++lba) {
        if (lba == 16) continue;
        ASSERT_GE(reads[lba], 1) << lba;
        ASSERT_LE(reads[lba], 2) << lba;
        readAgain += reads[lba] - 1;
    }
    EXPECT_LE(readAgain, 8);
}

// Given the idle worker querying the free space of the destination, when this
// thread changes the folder over and over (as "Change" does), then every
// query sees a whole folder (ThreadSanitizer watches the two threads).
TEST_F(WorkerTest, FolderChangedWhileTheWorkerPolls)
{
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, 0); }));
    CTempDir other;
    const std::string missing = dir.File("not-there-yet") + "/";
    size_t before = fe.poster.StatusTexts(kSlotDestination).size();
    // Until the worker has polled twice meanwhile; a loaded machine (and the
    // race detector) may stretch its once-a-second cadence well past that.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20000);
    for (int i = 1;; ++i) {
        if (i % 256 == 0 && fe.poster.StatusTexts(kSlotDestination).size() >= before + 2) break;
        if (std::chrono::steady_clock::now() > until) break;
        e.destFolder = (i % 3 == 0) ? other.Path() : (i % 3 == 1) ? missing : dir.Path();
        std::this_thread::yield();
    }
    e.destFolder = other.Path();
    auto texts = fe.poster.StatusTexts(kSlotDestination);
    ASSERT_GE(texts.size(), before + 2) << "the worker did not poll meanwhile";
    for (size_t i = before; i < texts.size(); ++i) EXPECT_EQ(0u, texts[i].rfind("Destination  (", 0)) << texts[i];
    EXPECT_EQ(other.Path(), e.destFolder.Get());
}

// Given a merge that holds the image set, then Start runs no copy until it ends.
TEST_F(WorkerTest, NoCopyStartsWhileAMergeRuns)
{
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, 0); }));
    ASSERT_TRUE(e.TakeImageSet(CRecoveryEngine::kSetMerge));
    size_t mark = Mark();
    e.runRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return !e.runRequested; }));
    EXPECT_TRUE(fe.poster.Logged("Cannot Start! - An import is running"));
    EXPECT_FALSE(Posted(ENGINE_COPYING, mark));
    e.ReleaseImageSet();
    CopyAndWait("Disc");
    EXPECT_TRUE(fe.poster.Logged("Exit 0x0: Ok"));
}

TEST_F(WorkerTest, ShutdownWhileIdleEndsTheThread)
{
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, 0); }));
    e.shutdownRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return !e.threadAlive; }));
    worker.join();
    EXPECT_EQ(0u, result);
}

TEST_F(WorkerTest, TrayOpensOnlyAfterAFinishedCopy)
{
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_SOURCE_READY, 0); }));
    settings.ejectOnCompletion = 1;
    rig.fake.lastLba = 100;
    e.drive.SetCopySize(100);
    // Canceled naming: no eject.
    fe.prompt.ChooseFileAnswer("");
    size_t mark = Mark();
    e.runRequested = true;
    ASSERT_TRUE(WaitUntil([&] { return Posted(ENGINE_IDLE, mark); }));
    EXPECT_EQ("Exit 0xb: Canceled", fe.poster.LogLines().back());
    EXPECT_FALSE(rig.fake.trayOpen);
    // Ok: eject.
    CopyAndWait("Small");
    EXPECT_TRUE(fe.poster.Logged("Exit 0x0: Ok"));
    EXPECT_TRUE(WaitUntil([&] { return rig.fake.trayOpen.load(); }));
    EXPECT_TRUE(e.threadAlive);
}

}  // namespace
