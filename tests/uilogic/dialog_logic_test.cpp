// The main dialog's rules that need no window: enabling by engine state, the
// selectors, the folder rule of "Change", filters, status slots, the bar.
#include <gtest/gtest.h>

#include "engine/recovery_engine.h"
#include "platform/rawio.h"
#include "channel/channel.h"
#include "ui/logic/dialog_rules.h"
#include "ui/logic/enabling.h"
#include "ui/logic/selectors.h"

namespace {

using E = Enable;

std::string Native(std::string path)
{
    for (char& c : path)
        if (c == '\\') c = rawio::kSep;
    return path;
}

bool Same(const EnablingChange& a, const EnablingChange& b)
{
    return a.start == b.start && a.forceSize == b.forceSize && a.pause == b.pause && a.configuration == b.configuration;
}

TEST(Enabling, FollowsTheEngineStates)
{
    EXPECT_TRUE(Same(InitialEnabling(), {E::Off, E::Off, E::Off, E::On}));
    EXPECT_TRUE(Same(EnablingForState(ENGINE_COPYING, true), {E::Off, E::Off, E::On, E::Off}));
    // Idle again: Start and Force Size only with a ready disc.
    EXPECT_TRUE(Same(EnablingForState(ENGINE_IDLE, true), {E::On, E::On, E::Off, E::On}));
    EXPECT_TRUE(Same(EnablingForState(ENGINE_IDLE, false), {E::Off, E::Off, E::Off, E::On}));
    // Ready / not ready leave Pause and the configuration alone.
    EXPECT_TRUE(Same(EnablingForState(ENGINE_SOURCE_READY, false), {E::On, E::On, E::Unchanged, E::Unchanged}));
    EXPECT_TRUE(Same(EnablingForState(ENGINE_SOURCE_NOT_READY, true), {E::Off, E::Off, E::Unchanged, E::Unchanged}));
    EXPECT_TRUE(Same(EnablingForState(ENGINE_SHUTDOWN, true), {}));
    EXPECT_TRUE(Same(EnablingForState(99, true), {}));
}

TEST(Selectors, StopAtTheirEnds)
{
    EXPECT_EQ(1, RaiseLogLevel(0));
    EXPECT_EQ(4, RaiseLogLevel(4));
    EXPECT_EQ(0, LowerLogLevel(0));
    EXPECT_EQ(3, LowerLogLevel(4));
    // A level outside 0..4 (a hand-edited file) is not pushed further out.
    EXPECT_EQ(-1, RaiseLogLevel(-1));
    EXPECT_EQ(7, RaiseLogLevel(7));

    // "+" of the give-up time is a longer time: toward "Never Give Up".
    EXPECT_EQ(0, LongerGiveUp(0));
    EXPECT_EQ(2, LongerGiveUp(3));
    EXPECT_EQ(4, ShorterGiveUp(4));
    EXPECT_EQ(1, ShorterGiveUp(0));
    EXPECT_STREQ("Never Give Up", GiveUpText(LongerGiveUp(0)));
    EXPECT_STREQ("Try 1 Minute", GiveUpText(ShorterGiveUp(4)));
    EXPECT_STREQ("Try 10 Hours", GiveUpText(ShorterGiveUp(0)));
}

TEST(ChangeFolder, AddsTheSeparatorOnlyWhereMissing)
{
    EXPECT_EQ(Native("D:\\data\\"), DestinationFromBrowse(Native("D:\\data")));
    EXPECT_EQ(Native("E:\\"), DestinationFromBrowse(Native("E:\\")));
    // An item outside the file system gives no path.
    EXPECT_EQ(Native(".\\"), DestinationFromBrowse(""));
}

TEST(FileFilter, BarsBecomeNulsWithADoubleNulAtTheEnd)
{
    EXPECT_EQ(std::string("Flag Files (*.flg)\0*.flg\0\0", 26), NulSeparatedFilter("Flag Files (*.flg)|*.flg||"));
    EXPECT_EQ(std::string("A\0*.a\0\0", 7), NulSeparatedFilter("A|*.a"));
}

TEST(StatusSlots, EachSlotHasItsAction)
{
    for (unsigned s = 0; s < 10; ++s) EXPECT_EQ(SlotAction::ControlText, ActionForSlot(s)) << s;
    EXPECT_EQ(SlotAction::WindowTitle, ActionForSlot(10));
    EXPECT_EQ(SlotAction::DestFolder, ActionForSlot(11));
    EXPECT_EQ(SlotAction::RepaintMap, ActionForSlot(12));
    EXPECT_EQ(SlotAction::RestoreTitle, ActionForSlot(13));
    EXPECT_EQ(SlotAction::Nothing, ActionForSlot(14));
    EXPECT_EQ(SlotAction::Nothing, ActionForSlot(unsigned(-1)));
    EXPECT_EQ((std::vector<int>{1020, 1022, 1023, 1024, 1025, 1027, 1028, 1029, 1030, 1031}),
              std::vector<int>(kStatusControlIds, kStatusControlIds + kStatusControlCount));
}

TEST(ProgressBar, GeometryOfTheCanvas)
{
    PixelRect bar = BarRectFromClient({0, 0, 286, 13});
    EXPECT_EQ(3, bar.left);
    EXPECT_EQ(3, bar.top);
    EXPECT_EQ(284, bar.right);
    EXPECT_EQ(9, bar.bottom);
    EXPECT_EQ(281u, MapCellsForBar(bar));  // client width - 5
    EXPECT_EQ(279u, PaintedColumns(MapCellsForBar(bar)));

    // A client 7 pixels wide or less paints nothing.
    EXPECT_EQ(0u, PaintedColumns(MapCellsForBar(BarRectFromClient({0, 0, 7, 13}))));
    EXPECT_EQ(1u, PaintedColumns(MapCellsForBar(BarRectFromClient({0, 0, 8, 13}))));
    EXPECT_EQ(0u, MapCellsForBar(BarRectFromClient({0, 0, 2, 13})));
    // A very wide canvas never maps more cells than the map has.
    EXPECT_EQ(kMapCellsMax, MapCellsForBar(BarRectFromClient({0, 0, 2000, 13})));
}

TEST(ProgressBar, ColoursOfTheCells)
{
    const uint32_t face = 0x00C0C0C0;
    uint32_t c = 0;
    ASSERT_TRUE(ColumnColour(5, kCellUnvisited, 9, face, &c));
    EXPECT_EQ(face, c);
    ASSERT_TRUE(ColumnColour(5, kCellVisited, 9, face, &c));
    EXPECT_EQ(0x007F0000u, c);  // RGB(0, 0, 127)
    ASSERT_TRUE(ColumnColour(5, kCellError, 9, face, &c));
    EXPECT_EQ(0x000000FFu, c);  // RGB(255, 0, 0)
    // The read position is white whatever its cell holds.
    ASSERT_TRUE(ColumnColour(9, kCellError, 9, face, &c));
    EXPECT_EQ(0x00FFFFFFu, c);
    EXPECT_FALSE(ColumnColour(5, 3, 9, face, &c));
}

TEST(MinimisedIcon, IsCentredWithTruncation)
{
    EXPECT_EQ(100, CentredIconOffset(231, 32));
    EXPECT_EQ(-15, CentredIconOffset(0, 32));  // (-31) / 2 truncates toward zero
}

}  // namespace
