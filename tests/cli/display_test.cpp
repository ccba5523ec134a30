// What the command line shows: the map picture, the counters for scripts and
// the pace of the counters lines when no terminal is attached.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/display.h"
#include "cli/queue_poster.h"

namespace {

class MapFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        progressMap.Clear();
        progressMap.mapCells = kMapCellsMax;
        progressMap.mapCurrentCell = 0;
    }
    void TearDown() override { SetUp(); }
};

// Reads back what a display wrote into a temporary FILE.
std::string Contents(FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string text;
    int c;
    while ((c = std::fgetc(f)) != EOF) text += char(c);
    return text;
}

TEST_F(MapFixture, PictureTellsVisitedErrorAndCurrentApart)
{
    // 512 cells on 8 characters: 64 cells per character.
    progressMap.cells[0] = kCellVisited;
    progressMap.cells[64 + 10] = kCellError;   // an error anywhere in a character's cells wins over visited
    progressMap.cells[64] = kCellVisited;
    progressMap.cells[3 * 64 + 63] = kCellVisited;
    progressMap.mapCurrentCell = 5 * 64 + 1;
    EXPECT_EQ("#x.#.@..", MapPicture(progressMap, 8));
}

TEST_F(MapFixture, PictureIsAsWideAsAskedWhateverTheCellCount)
{
    progressMap.mapCurrentCell = 511;
    EXPECT_EQ(std::string(199, '.') + "@", MapPicture(progressMap, 200));
    // Wider than the map: each cell shows in one character or more, none is lost.
    progressMap.mapCells = 4;
    progressMap.mapCurrentCell = 9;  // beyond the cells in use: no '@' anywhere
    progressMap.cells[1] = kCellError;
    EXPECT_EQ("..xx....", MapPicture(progressMap, 8));
    // A map not set up yet (0 cells) draws the whole map instead of dividing by 0.
    progressMap.mapCells = 0;
    EXPECT_EQ(10u, MapPicture(progressMap, 10).size());
    EXPECT_EQ("", MapPicture(progressMap, 0));
}

TEST(Counters, LineHoldsNameValuePairsFromTheStatusTexts)
{
    std::vector<std::string> slots = {"Sectors:\t   20000", "Current:\t   512", "Read:\t   500",
                                      "Missing:\t   19500", "K/Sec:\t   64",    "Errors:\t   3",
                                      "Failure:\t   0:00:05", "Total:\t   1:02:03"};
    EXPECT_EQ("sectors 20000 current 512 read 500 missing 19500 kpersec 64 errors 3 failure 0:00:05 total 1:02:03 "
              "percent 2.5 label HOLIDAY",
              CountersLine(slots, "2.5% HOLIDAY"));
    // Texts not posted yet are "-", so every line has the same pairs.
    EXPECT_EQ("sectors - current - read - missing - kpersec - errors - failure - total - percent - label -",
              CountersLine(std::vector<std::string>(8), ""));
    EXPECT_EQ("Read: 500", CompactCounter("Read:\t   500"));
}

TEST(Counters, WrittenAtMostEveryTenSecondsWithoutATerminal)
{
    FILE* err = std::tmpfile();
    FILE* out = std::tmpfile();
    ASSERT_TRUE(err && out);
    {
        CDisplay d(err, out, false, 0);
        auto t0 = CDisplay::Clock::time_point() + std::chrono::hours(1);
        d.Refresh(t0);  // nothing to say yet
        d.Status(2, "Read:\t   1");
        d.Refresh(t0);  // the first counters come out at once
        d.Status(2, "Read:\t   2");
        d.Refresh(t0 + std::chrono::seconds(9));  // too soon
        d.Refresh(t0 + std::chrono::seconds(10));
        d.Refresh(t0 + std::chrono::seconds(30));  // nothing new: no line
        d.Status(2, "Read:\t   3");
        d.LogLine("Loop 1 Read 3 Errors 0");
        d.Finish();  // the last figures are not held back
    }
    std::string lines = Contents(out);
    EXPECT_EQ(3, std::count(lines.begin(), lines.end(), '\n')) << lines;
    EXPECT_NE(lines.find("read 1 "), std::string::npos);
    EXPECT_NE(lines.find("read 2 "), std::string::npos);
    EXPECT_NE(lines.find("read 3 "), std::string::npos);
    // Log lines are the formatted text alone, and no block is drawn.
    EXPECT_EQ("Loop 1 Read 3 Errors 0\n", Contents(err));
    std::fclose(err);
    std::fclose(out);
}

TEST_F(MapFixture, TerminalBlockIsRedrawnInPlaceBelowTheLog)
{
    FILE* err = std::tmpfile();
    ASSERT_TRUE(err);
    {
        CDisplay d(err, err, true, 40);
        d.ShowBlock(true);
        d.Status(kSlotSource, "Source  HOLIDAY  (78 MB)");
        d.Status(0, "Sectors:\t   40000");
        d.Status(kSlotTitle, "12.5% HOLIDAY");
        auto t = CDisplay::Clock::now();
        d.Refresh(t);
        d.LogLine("Loop 1 Read 5000 Errors 2");
        d.Refresh(t + std::chrono::seconds(1));
        d.Finish();
    }
    std::string text = Contents(err);
    // Six lines drawn, then taken back (five up, clear) before the log line.
    EXPECT_NE(text.find("\r\x1b[5A\x1b[JLoop 1 Read 5000 Errors 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Source  HOLIDAY  (78 MB)"), std::string::npos);
    EXPECT_NE(text.find("12.5% HOLIDAY"), std::string::npos);
    EXPECT_NE(text.find("Sectors: 40000"), std::string::npos);
    // No line is wider than the terminal, so the block's height stays right.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        size_t esc = line.rfind("\x1b[J");
        if (esc != std::string::npos) line = line.substr(esc + 3);
        EXPECT_LT(line.size(), 40u) << line;
        start = end + 1;
    }
    std::fclose(err);
}

TEST(QueuePoster, KeepsEveryTextInOrderHoweverFarBehind)
{
    CQueuePoster q;
    for (int i = 0; i < 1000; ++i) q.Post(1025, unsigned(i & 63), ("line " + std::to_string(i)).c_str());
    q.Post(1027, 3, nullptr);
    QueuedMessage m;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(q.Next(&m, std::chrono::milliseconds(0)));
        EXPECT_EQ("line " + std::to_string(i), m.text);
        EXPECT_EQ(unsigned(i & 63), m.wParam);
    }
    ASSERT_TRUE(q.Next(&m, std::chrono::milliseconds(0)));
    EXPECT_EQ(1027u, m.msg);
    EXPECT_EQ("", m.text);
    EXPECT_FALSE(q.Next(&m, std::chrono::milliseconds(0)));
}

TEST(QueuePoster, AFastSenderWaitsForRoomAndLosesNothing)
{
    constexpr size_t kRoom = 50;
    CQueuePoster q(kRoom);
    // The draining thread itself is never held up by its own queue.
    for (int i = 0; i < 200; ++i) q.Post(1025, 0, "own");
    QueuedMessage m;
    while (q.Next(&m, std::chrono::milliseconds(0))) {
    }
    std::thread sender([&] {
        for (int i = 0; i < 2000; ++i) q.Post(1025, 0, std::to_string(i).c_str());
    });
    size_t most = 0;
    int expected = 0;
    while (expected < 2000) {
        most = std::max(most, q.Pending());
        if (!q.Next(&m, std::chrono::seconds(5))) break;
        EXPECT_EQ(std::to_string(expected), m.text);
        ++expected;
        if (expected % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a slow terminal
    }
    sender.join();
    EXPECT_EQ(2000, expected);
    EXPECT_LE(most, kRoom);
}

TEST(QueuePoster, WaitEndsWhenAMessageArrivesOrOnWake)
{
    CQueuePoster q;
    QueuedMessage m;
    auto start = std::chrono::steady_clock::now();
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        q.Post(1025, 1, "late");
    });
    ASSERT_TRUE(q.Next(&m, std::chrono::seconds(10)));
    poster.join();
    EXPECT_EQ("late", m.text);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    q.Wake();
    EXPECT_FALSE(q.Next(&m, std::chrono::seconds(10)));  // woken, nothing queued: returns at once
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
