#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/core/settings.h"
#include "platform/clock.h"
#include "platform/poster.h"
#include "channel/channel.h"

namespace {

struct Posted {
    unsigned msg;
    unsigned wParam;
    std::string text;
    bool operator==(const Posted&) const = default;
};

class CRecorder : public IPoster {
public:
    void Post(unsigned msg, unsigned wParam, const char* text) override
    {
        posts.push_back({msg, wParam, text ? text : "(none)"});
    }
    std::vector<Posted> posts;
};

class ChannelTest : public ::testing::Test {
protected:
    ChannelTest()
    {
        ResetChannel();
        settings.debugLevel = 0;
        SetPoster(&recorder);
    }
    ~ChannelTest() override
    {
        SetPoster(nullptr);
        settings.debugLevel = 0;
    }
    CRecorder recorder;
};

TEST(VirtualClock, SleepsAdvanceAtOnceAndMicrosecondsAddUp)
{
    CVirtualClock clock(1000);
    EXPECT_EQ(1000u, clock.TickCount());
    clock.SleepMs(1800000);
    EXPECT_EQ(1801000u, clock.TickCount());
    for (int i = 0; i < 100; ++i) clock.SleepUs(90);  // 9 ms in all
    EXPECT_EQ(1801009u, clock.TickCount());
}

TEST_F(ChannelTest, LineAboveLevelChangesNothing)
{
    LogPrintf(1, "hidden %d", 1);
    EXPECT_EQ(0, logHead);
    EXPECT_TRUE(recorder.posts.empty());
    settings.debugLevel = 1;
    LogPrintf(1, "shown %d", 2);
    EXPECT_EQ((std::vector<Posted>{{UM_LOG_LINE, 1, "shown 2"}}), recorder.posts);
}

TEST_F(ChannelTest, RingSlotsRunFromOneAndWrapAfter64)
{
    for (int i = 1; i <= 65; ++i) LogPrintf(0, "line %d", i);
    EXPECT_EQ(1u, recorder.posts[0].wParam);
    EXPECT_EQ(0u, recorder.posts[63].wParam);
    EXPECT_EQ(1u, recorder.posts[64].wParam);
    EXPECT_STREQ("line 65", logRing[1]);
}

TEST_F(ChannelTest, LongTextIsCutAt99AndUserTextIsNeverAFormat)
{
    std::string path(300, 'p');
    path += "%s%n";
    LogPrintf(0, "%s", path.c_str());
    EXPECT_EQ(99u, std::strlen(logRing[1]));
    EXPECT_EQ(std::string(99, 'p'), logRing[1]);
}

TEST_F(ChannelTest, StatusSlotsAboveTenCarryNoText)
{
    StatusPrintf(10, "%u.%u%% %s", 45u, 3u, "DISC");
    StatusPrintf(12, "");
    StatusPrintf(14, "");
    EXPECT_EQ((std::vector<Posted>{{UM_STATUS_TEXT, 10, "45.3% DISC"},
                                   {UM_STATUS_TEXT, 12, "(none)"},
                                   {UM_STATUS_TEXT, 14, "(none)"}}),
              recorder.posts);
    EXPECT_STREQ("45.3% DISC", statusText[10]);
}

TEST(LevelNames, FiveNamesAndNoneBeyond)
{
    EXPECT_STREQ("Normal", LevelName(0));
    EXPECT_STREQ("Detail+", LevelName(3));
    EXPECT_STREQ("Debug", LevelName(4));
    EXPECT_STREQ("?", LevelName(5));
    EXPECT_STREQ("?", LevelName(-1));
}

}  // namespace
