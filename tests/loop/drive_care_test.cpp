// Drive care between read errors and the cooldown, on the scripted drive
// with a virtual clock: which actions happen, what they send, how long they take.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/core/settings.h"
#include "fake_aspi.h"
#include "support/fakes.h"
#include "channel/channel.h"

namespace {

// Forwards to the recorder and runs `onTitle` for every post to the title slot
// (the cooldown's countdown), so a test can act in the middle of a countdown.
class CHookPoster : public IPoster {
public:
    explicit CHookPoster(CRecordingPoster& inner) : inner_(inner) {}
    void Post(unsigned msg, unsigned wParam, const char* text) override
    {
        inner_.Post(msg, wParam, text);
        if (msg == UM_STATUS_TEXT && wParam == unsigned(kSlotTitle) && onTitle) onTitle(++titles);
    }
    std::function<void(int)> onTitle;
    int titles = 0;

private:
    CRecordingPoster& inner_;
};

class DriveCareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        e.runRequested = true;
        e.header.sectorCount = 100000;
        rig.fake.lastLba = 100000;
        settings.cycleTray = 1;
        settings.allowCooldown = 1;
        e.nextCooldownTick = TickCount() - 1;  // a cooldown is due
    }

    // A seed whose first action is one of choices lo..hi (draws: countdown, choice).
    uint32_t SeedFor(uint32_t lo, uint32_t hi)
    {
        for (uint32_t seed = 1;; ++seed) {
            e.SeedRandom(seed);
            e.Random15();
            uint32_t choice = e.Random15() & 0xF;
            if (choice >= lo && choice <= hi) {
                e.SeedRandom(seed);
                return seed;
            }
        }
    }

    // The first log line that starts with `prefix`, or "".
    std::string LineWith(const std::string& prefix) const
    {
        for (const auto& line : fe.poster.LogLines()) {
            if (line.rfind(prefix, 0) == 0) return line;
        }
        return "";
    }
    bool LoggedPrefix(const std::string& prefix) const { return !LineWith(prefix).empty(); }

    std::vector<std::string> Commands() const { return rig.fake.Commands(); }
    long Count(const std::string& command) const
    {
        auto c = Commands();
        return std::count(c.begin(), c.end(), command);
    }

    CFrontEndFixture fe;
    CFakeRig rig;
    CRecoveryEngine& e = rig.engine;
};

TEST_F(DriveCareTest, CountdownLetsErrorsPassWithoutAction)
{
    e.careCountdown = 0x23;  // only the low four bits count
    EXPECT_EQ(0u, e.DriveCare());
    EXPECT_EQ(2u, e.careCountdown);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(0u, e.DriveCare());
    EXPECT_EQ(0u, e.DriveCare());
    EXPECT_EQ(0u, e.careCountdown);
    EXPECT_TRUE(Commands().empty());
    // Now an action is due; it always ends with a start and a ready test.
    e.DriveCare();
    auto c = Commands();
    ASSERT_GE(c.size(), 2u);
    EXPECT_TRUE(std::find(c.begin(), c.end(), "START") != c.end());
    EXPECT_EQ("TUR", c.back());
}

// Over many seeds: 0 to 15 errors pass between actions, and the time returned
// is the time the action and the ready wait took.
TEST_F(DriveCareTest, ActionsComeEvery1To16ErrorsAndReturnTheirTime)
{
    e.SeedRandom(99);
    int sinceAction = 0;
    int actions = 0;
    for (int i = 0; i < 3000; ++i) {
        size_t before = Commands().size();
        uint32_t t0 = TickCount();
        uint32_t ms = e.DriveCare();
        EXPECT_EQ(TickCount() - t0, ms);
        ++sinceAction;
        if (Commands().size() != before) {
            EXPECT_LE(sinceAction, 16);
            sinceAction = 0;
            ++actions;
        } else {
            EXPECT_EQ(0u, ms);
        }
    }
    EXPECT_GT(actions, 3000 / 16);
    EXPECT_LT(actions, 3000 / 4);
    for (const char* kind : {"Pause ", "Spinup ", "Cycle Tray ", "Cooldown "}) EXPECT_TRUE(LoggedPrefix(kind)) << kind;
}

TEST_F(DriveCareTest, SettingsAndDiscSizeLimitTheActions)
{
    settings.cycleTray = 0;
    e.header.sectorCount = 4096;  // too small for a spin-up
    e.nextCooldownTick = TickCount() + kCooldownSpacingMs;
    e.SeedRandom(5);
    for (int i = 0; i < 3000; ++i) e.DriveCare();
    EXPECT_TRUE(LoggedPrefix("Pause "));
    EXPECT_FALSE(LoggedPrefix("Spinup"));
    EXPECT_FALSE(LoggedPrefix("Cycle Tray"));
    EXPECT_FALSE(LoggedPrefix("Cooldown"));
    EXPECT_EQ(0, Count("EJECT"));
    for (const auto& c : Commands()) EXPECT_FALSE(c.rfind("READ", 0) == 0) << c;
}

TEST_F(DriveCareTest, PauseAndSpinUpStayInTheirRanges)
{
    e.SeedRandom(SeedFor(0, 7));
    e.DriveCare();
    unsigned long ms = 99999;
    ASSERT_EQ(1, std::sscanf(LineWith("Pause ").c_str(), "Pause %lu msec", &ms));
    EXPECT_LT(ms, 8192u);
    auto c = Commands();
    EXPECT_EQ("STOP", c.front());

    rig.fake.ClearCommands();
    fe.poster.Clear();
    e.careCountdown = 0;
    SeedFor(8, 11);
    e.DriveCare();
    unsigned long lba = 0, count = 0;
    ASSERT_EQ(2, std::sscanf(LineWith("Spinup ").c_str(), "Spinup %lu %lu", &lba, &count));
    EXPECT_LT(lba, 100000u - 4096u);
    EXPECT_LT(count, 4096u);
    // One-sector reads over the stretch, in order.
    long reads = 0;
    for (const auto& cmd : Commands()) {
        unsigned first = 0, n = 0;
        if (std::sscanf(cmd.c_str(), "READ %u %u", &first, &n) == 2) {
            EXPECT_EQ(lba + reads, first);
            EXPECT_EQ(1u, n);
            ++reads;
        }
    }
    EXPECT_EQ(long(count), reads);
    EXPECT_FALSE(LoggedPrefix("Spinup Failed"));
}

TEST_F(DriveCareTest, FailedSpinUpIsLoggedAndCareGoesOn)
{
    rig.fake.readable = [](uint32_t) { return false; };
    for (uint32_t seed = 1; seed < 400 && !LoggedPrefix("Spinup Failed"); ++seed) {
        e.careCountdown = 0;
        e.SeedRandom(seed);
        e.Random15();
        uint32_t choice = e.Random15() & 0xF;
        e.SeedRandom(seed);
        if (choice < 8 || choice > 11) continue;
        e.DriveCare();
        // A spin-up of 0 sectors reads nothing and does not fail.
    }
    EXPECT_TRUE(LoggedPrefix("Spinup Failed"));
    EXPECT_EQ("TUR", Commands().back());
}

TEST_F(DriveCareTest, TrayCycleNeedsTheSettingAndAMovableTray)
{
    SeedFor(12, 13);
    e.DriveCare();
    EXPECT_TRUE(LoggedPrefix("Cycle Tray "));
    EXPECT_EQ(1, Count("EJECT"));
    EXPECT_EQ(2, Count("LOAD"));

    rig.fake.ClearCommands();
    rig.fake.canMoveTray = false;
    e.careCountdown = 0;
    SeedFor(12, 13);
    e.DriveCare();
    EXPECT_EQ(0, Count("EJECT"));
    EXPECT_EQ(1, Count("LOAD"));  // the probe that tells the tray cannot move

    rig.fake.ClearCommands();
    fe.poster.Clear();
    settings.cycleTray = 0;
    e.careCountdown = 0;
    SeedFor(12, 13);
    e.DriveCare();
    EXPECT_FALSE(LoggedPrefix("Cycle Tray"));
    EXPECT_EQ((std::vector<std::string>{"START", "TUR"}), Commands());
}

// Given a drive that never answers ready, the wait lasts one minute by the
// clock and all of it is failure time (0 comes back); the drive is then
// detached, and the next wait looks for it on the bus every 5 s, sending
// nothing to its old address. A Pause cuts the wait short.
TEST_F(DriveCareTest, ReadyWaitLastsAtMostOneMinuteAndStopsOnPause)
{
    rig.fake.ready = false;
    settings.cycleTray = 0;
    e.nextCooldownTick = TickCount() + kCooldownSpacingMs;
    SeedFor(12, 15);  // no action: only the restart and the wait
    uint32_t start = TickCount();
    EXPECT_EQ(0u, e.DriveCare());
    EXPECT_EQ(60000u, TickCount() - start);
    EXPECT_EQ(240, Count("TUR"));
    EXPECT_EQ(0, rig.fake.rescans);
    EXPECT_TRUE(e.drive.Detached());
    EXPECT_NE(std::string::npos, LineWith("Drive gone: [0:0:0] ").find(" (no answer for 60 s; looking for it)"));

    rig.fake.ClearCommands();
    e.careCountdown = 0;
    SeedFor(12, 15);
    start = TickCount();
    EXPECT_EQ(0u, e.DriveCare());
    EXPECT_EQ(60000u, TickCount() - start);
    EXPECT_EQ(12, rig.fake.rescans);
    // Only the identity test reaches the device: an INQUIRY and its ready tests per look.
    EXPECT_EQ(12, Count("INQUIRY"));
    EXPECT_EQ(0, Count("START"));
    ASSERT_TRUE(e.drive.SelectDrive(0));

    rig.fake.ClearCommands();
    e.runRequested = false;
    e.careCountdown = 0;
    SeedFor(12, 15);
    EXPECT_EQ(0u, e.DriveCare());
    EXPECT_EQ((std::vector<std::string>{"START", "TUR"}), Commands());
}

// Given a drive that is only slow: ready after 20 TEST UNIT READYs (5 s), it
// gets the plain wait: no rescan, no line, and the drive stays attached.
TEST_F(DriveCareTest, SlowDriveIsWaitedForWithoutASearch)
{
    rig.fake.busyTurs = 20;
    settings.cycleTray = 0;
    e.nextCooldownTick = TickCount() + kCooldownSpacingMs;
    SeedFor(12, 15);
    EXPECT_GT(e.DriveCare(), 0u);
    EXPECT_EQ(21, Count("TUR"));
    EXPECT_EQ(0, rig.fake.rescans);
    EXPECT_FALSE(e.drive.Detached());
    EXPECT_FALSE(LoggedPrefix("Drive "));
}

// The first cooldown may come only once 30 minutes of the copy have passed,
// compared as a signed distance so that the tick counter's wrap changes nothing.
TEST_F(DriveCareTest, CooldownDeadlineIsWrapSafe)
{
    fe.clock.Advance(uint64_t(0xFFFFFF00u - fe.clock.TickCount()) * 1000);
    ASSERT_EQ(0xFFFFFF00u, TickCount());

    e.nextCooldownTick = 0x00000100;  // after the wrap: not due yet
    SeedFor(14, 15);
    e.DriveCare();
    EXPECT_FALSE(LoggedPrefix("Cooldown"));

    e.careCountdown = 0;
    e.nextCooldownTick = 0xFFFFF000;  // passed; now the counter wraps
    fe.clock.Advance(0x200 * 1000);
    ASSERT_LT(TickCount(), 0x1000u);
    SeedFor(14, 15);
    e.DriveCare();
    EXPECT_TRUE(LoggedPrefix("Cooldown "));
}

TEST_F(DriveCareTest, CooldownTimeIsReturnedAndSetsTheNextDeadline)
{
    SeedFor(14, 15);
    uint32_t t0 = TickCount();
    uint32_t ms = e.DriveCare();
    unsigned long seconds = 0;
    ASSERT_EQ(1, std::sscanf(LineWith("Cooldown ").c_str(), "Cooldown %lu sec", &seconds));
    EXPECT_LT(seconds, 1800u);
    uint32_t lasted = std::max<uint32_t>(5, uint32_t(seconds));
    EXPECT_EQ(lasted * 1000, ms);
    EXPECT_EQ(t0 + lasted * 1000 + kCooldownSpacingMs, e.nextCooldownTick);
}

class CoolDownTest : public DriveCareTest {
protected:
    std::vector<std::string> Titles() const { return fe.poster.StatusTexts(kSlotTitle); }
};

TEST_F(CoolDownTest, CountsDownOncePerSecondInTheTitle)
{
    uint32_t t0 = TickCount();
    e.CoolDown(125);
    auto titles = Titles();
    ASSERT_EQ(125u, titles.size());
    EXPECT_EQ("2:05 Paused", titles.front());
    EXPECT_EQ("2:00 Paused", titles[5]);
    EXPECT_EQ("1:59 Paused", titles[6]);
    EXPECT_EQ("0:01 Paused", titles.back());
    EXPECT_EQ(t0 + 125000, TickCount());
    EXPECT_EQ(TickCount() + kCooldownSpacingMs, e.nextCooldownTick);
    // Tray opened for the cooldown (cycleTray set), closed again at its end.
    EXPECT_EQ((std::vector<std::string>{"STOP", "LOAD", "EJECT", "LOAD", "START", "TUR"}), Commands());
}

TEST_F(CoolDownTest, LengthIsClampedTo5To1800Seconds)
{
    const std::pair<uint32_t, size_t> cases[] = {{0, 5}, {4, 5}, {5, 5}, {1800, 1800}, {1801, 1799}, {50000, 1799}};
    for (auto [asked, lasted] : cases) {
        fe.poster.Clear();
        e.CoolDown(asked);
        EXPECT_EQ(lasted, Titles().size()) << asked;
    }
}

TEST_F(CoolDownTest, WithoutTrayCyclingTheTrayStaysClosed)
{
    settings.cycleTray = 0;
    e.CoolDown(5);
    EXPECT_EQ((std::vector<std::string>{"STOP", "LOAD", "LOAD", "START", "TUR"}), Commands());
}

TEST_F(CoolDownTest, ClearingAllowCooldownEndsItWithTheDriveRestarted)
{
    CHookPoster hook(fe.poster);
    hook.onTitle = [](int n) {
        if (n == 3) settings.allowCooldown = 0;
    };
    SetPoster(&hook);
    e.CoolDown(600);
    SetPoster(&fe.poster);
    EXPECT_EQ(3u, Titles().size());
    EXPECT_EQ((std::vector<std::string>{"STOP", "LOAD", "EJECT", "LOAD", "START", "TUR"}), Commands());
    EXPECT_EQ(TickCount() + kCooldownSpacingMs, e.nextCooldownTick);
}

TEST_F(CoolDownTest, PauseEndsItAtOnceLeavingTheTrayOpen)
{
    CHookPoster hook(fe.poster);
    hook.onTitle = [this](int n) {
        if (n == 2) e.runRequested = false;
    };
    SetPoster(&hook);
    uint32_t deadline = e.nextCooldownTick;
    e.CoolDown(600);
    SetPoster(&fe.poster);
    EXPECT_EQ(2u, Titles().size());
    EXPECT_EQ((std::vector<std::string>{"STOP", "LOAD", "EJECT"}), Commands());
    EXPECT_EQ(deadline, e.nextCooldownTick);
    EXPECT_TRUE(rig.fake.trayOpen);
}

}  // namespace
