// The engine's small helpers: the random generator and its scaling, the
// give-up table, durations as text, and the progress texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/recovery_engine.h"
#include "support/fakes.h"
#include "channel/channel.h"

namespace {

TEST(ScaledRandom, StaysBelowItsRangeAndGivesZeroForZero)
{
    CRecoveryEngine e;
    e.SeedRandom(12345);
    for (uint32_t n : {0u, 1u, 2u, 7u, 100u, 0x1FFFFu, 0x20000u, 0x20001u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        for (int i = 0; i < 2000; ++i) {
            uint32_t v = e.ScaledRandom(n);
            if (n == 0) {
                ASSERT_EQ(0u, v);
            } else {
                ASSERT_LT(v, n) << "n " << n;
            }
        }
    }
}

// The range is halved while it is at least 0x20000, and the shift shrinks by
// one per halving: the result is r times the halved range, scaled back.
TEST(ScaledRandom, HalvesLargeRangesAsTheFormulaSays)
{
    struct Case {
        uint32_t n;
        uint64_t multiplier;  // ScaledRandom(n) == r * multiplier / divisor
        uint64_t divisor;
    };
    const Case cases[] = {
        {0x1FFFF, 0x1FFFF, 0x8000},  // below the limit: no halving, >> 15
        {0x20000, 4, 1},             // one halving: 0x10000 >> 14
        {0x40000, 8, 1},             // two: 0x10000 >> 13
        {0x30000, 6, 1},             // 0x30000 -> 0x18000, >> 14
        {0xFFFFFFFF, 0x1FFFF, 1},    // fifteen halvings, no shift left
    };
    for (const Case& c : cases) {
        CRecoveryEngine a, b;
        a.SeedRandom(777);
        b.SeedRandom(777);
        for (int i = 0; i < 200; ++i) {
            uint64_t r = b.Random15();
            ASSERT_EQ(uint32_t(r * c.multiplier / c.divisor), a.ScaledRandom(c.n)) << std::hex << c.n;
        }
    }
}

TEST(ScaledRandom, SpreadsOverTheWholeRangeAndRepeatsPerSeed)
{
    CRecoveryEngine a, b;
    a.SeedRandom(0x10000);
    b.SeedRandom(0x10000);
    std::vector<int> seen(100, 0);
    for (int i = 0; i < 20000; ++i) {
        uint32_t r = a.Random15();
        ASSERT_EQ(r, b.Random15());
        ASSERT_LE(r, 32767u);
        ++seen[a.ScaledRandom(100)];
        b.ScaledRandom(100);
    }
    for (int v = 0; v < 100; ++v) EXPECT_GT(seen[v], 100) << v;  // about 200 each
    CRecoveryEngine c;
    c.SeedRandom(0x10001);
    a.SeedRandom(0x10000);
    int same = 0;
    for (int i = 0; i < 100; ++i) same += a.Random15() == c.Random15();
    EXPECT_LT(same, 10);
}

TEST(GiveUp, TableOfTimesAndTexts)
{
    const uint32_t ms[] = {0, 36000000, 3600000, 600000, 60000};
    const char* texts[] = {"Never Give Up", "Try 10 Hours", "Try 1 Hour", "Try 10 Minutes", "Try 1 Minute"};
    for (int level = 0; level < 5; ++level) {
        EXPECT_EQ(ms[level], GiveUpMilliseconds(level));
        EXPECT_STREQ(texts[level], GiveUpText(level));
    }
    EXPECT_EQ(0u, GiveUpMilliseconds(5));
    EXPECT_EQ(0u, GiveUpMilliseconds(-1));
    EXPECT_STREQ("", GiveUpText(5));
}

TEST(FormatHms, HoursAreNotWrappedAndMinutesSecondsHaveTwoDigits)
{
    EXPECT_STREQ("1:02:05", FormatHms(3725));
    EXPECT_STREQ("25:00:00", FormatHms(25 * 3600));
    EXPECT_STREQ("0:00:00", FormatHms(0));
    EXPECT_STREQ("0:59:59", FormatHms(3599));
    EXPECT_STREQ("0:01:00", FormatHms(60));
    EXPECT_STREQ("1193046:28:15", FormatHms(0xFFFFFFFF));
}

class ProgressTest : public ::testing::Test {
protected:
    // The texts of slots 0..10 and 12 from one ReportProgress call.
    std::vector<std::pair<unsigned, std::string>> Report()
    {
        fe.poster.Clear();
        e.ReportProgress();
        std::vector<std::pair<unsigned, std::string>> out;
        for (const auto& m : fe.poster.Messages()) {
            if (m.msg == UM_STATUS_TEXT) out.emplace_back(m.wParam, m.text);
        }
        return out;
    }
    std::string Slot(unsigned slot)
    {
        for (const auto& [s, text] : Report()) {
            if (s == slot) return text;
        }
        return "<none>";
    }

    CFrontEndFixture fe;
    CTempDir dir;
    CRecoveryEngine e;
    void SetUp() override
    {
        e.destFolder = dir.Path();
        std::strcpy(e.drive.volumeLabel, "HOLIDAY");
    }
};

TEST_F(ProgressTest, PostsTheCountersInPanelOrder)
{
    e.header.sectorCount = 1001;
    e.header.sectorsRead = 453;
    e.header.readErrors = 17;
    e.header.elapsedSeconds = 3600;
    e.position = 600;
    e.tickStart = 1000;
    e.tickNow = 1000 + 125000;
    e.tickLastGood = 1000 + 60000;
    e.readHistory[0] = 400;
    auto texts = Report();
    ASSERT_EQ(11u, texts.size());
    const std::vector<std::pair<unsigned, std::string>> expected = {
        {0, "Sectors:\t   1001"},   {1, "Current:\t   600"},      {2, "Read:\t   453"},
        {3, "Missing:\t   548"},    {4, "K/Sec:\t   53"},        {5, "Errors:\t   17"},
        {6, "Failure:\t   0:01:05"}, {7, "Total:\t   1:02:05"},
    };
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], texts[i]);
    EXPECT_EQ(9u, texts[8].first);
    EXPECT_EQ(0u, texts[8].second.rfind("Destination  (", 0));
    EXPECT_NE(std::string::npos, texts[8].second.find(" MB Free)"));
    EXPECT_EQ((std::pair<unsigned, std::string>{10, "45.3% HOLIDAY"}), texts[9]);
    EXPECT_EQ((std::pair<unsigned, std::string>{12, ""}), texts[10]);
}

// The divisor is sectorCount - 1: a read disc of few sectors shows more than 100%.
TEST_F(ProgressTest, PercentageEdgeCases)
{
    struct Case {
        uint32_t count, read;
        const char* title;
    } cases[] = {
        {0, 0, "100.0% HOLIDAY"},    {1, 0, "100.0% HOLIDAY"},   {2, 0, "0.0% HOLIDAY"},
        {2, 1, "100.0% HOLIDAY"},    {1000, 1000, "100.1% HOLIDAY"}, {1002, 1002, "100.0% HOLIDAY"},
        {11, 11, "110.0% HOLIDAY"},  {2000, 1999, "100.0% HOLIDAY"}, {3000, 1, "0.0% HOLIDAY"},
    };
    for (const Case& c : cases) {
        e.header.sectorCount = c.count;
        e.header.sectorsRead = c.read;
        EXPECT_EQ(c.title, Slot(10)) << c.count << " " << c.read;
    }
    e.header.sectorCount = 1000;
    e.header.sectorsRead = 1000;
    EXPECT_EQ("Missing:\t   0", Slot(3));
}

TEST_F(ProgressTest, TimesSurviveTickWrapAndCarePushedOrigin)
{
    e.tickStart = 0xFFFFF000;
    e.tickNow = 0x00001000;  // 8,192 ms later, across the wrap
    e.tickLastGood = 0xFFFFFC00;
    e.header.elapsedSeconds = 10;
    EXPECT_EQ("Total:\t   0:00:18", Slot(7));
    EXPECT_EQ("Failure:\t   0:00:05", Slot(6));
    // Drive care moved the origin past the last tick: no failure time yet.
    e.tickLastGood = e.tickNow + 3000;
    EXPECT_EQ("Failure:\t   0:00:00", Slot(6));
    EXPECT_EQ(0u, e.FailureMs());
}

}  // namespace
