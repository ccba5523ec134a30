// The built-in read-me text, and the end of the program: the exit wait, the
// wait for a running copy at destruction, and the power-off marker.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "engine/recovery_engine.h"
#include "support/fakes.h"
#include "ui/logic/completion.h"
#include "ui/logic/readme.h"

namespace {

TEST(ReadMe, HasItsLinesSectionsAndPlaceholderAddresses)
{
    int count = 0;
    while (ReadMeLines[count]) ++count;
    EXPECT_EQ(156, count);

    // Headings are underlined by "=" of their own length; the banner is framed.
    int headings = 0;
    for (int i = 1; i < count; ++i) {
        std::string line = ReadMeLines[i], above = ReadMeLines[i - 1];
        if (line.empty() || line.find_first_not_of('=') != std::string::npos || above[0] == '=') continue;
        ++headings;
        EXPECT_EQ(above.size(), line.size()) << above;
    }
    EXPECT_EQ(10, headings);  // sections 2 to 11; section 1 is the banner
    EXPECT_NE(nullptr, std::strstr(ReadMeLines[1], "GLEANOR"));
    EXPECT_NE(nullptr, std::strstr(ReadMeLines[1], "1.6"));

    bool email = false, home = false, history16 = false, aspi = false;
    for (int i = 0; i < count; ++i) {
        email |= std::strstr(ReadMeLines[i], kAuthorEmail) != nullptr;
        home |= std::strstr(ReadMeLines[i], kAuthorHomePage) != nullptr;
        history16 |= std::strcmp(ReadMeLines[i], "Version 1.6") == 0;
        aspi |= std::strstr(ReadMeLines[i], "WNASPI32.DLL") != nullptr;
        EXPECT_LT(std::strlen(ReadMeLines[i]), 100u);
    }
    EXPECT_TRUE(email && home && history16 && aspi);
    EXPECT_NE(nullptr, std::strstr(kAuthorEmail, "example.org"));
    EXPECT_EQ(std::string("mailto:") + kAuthorEmail, kAuthorMailTo);
}

TEST(ExitWait, EndsWhenTheWorkerEndsOrAfterSixtySeconds)
{
    CFrontEndFixture fx;
    CRecoveryEngine engine;
    engine.threadAlive = true;
    uint32_t start = fx.clock.TickCount();
    EXPECT_FALSE(RequestWorkerEnd(engine));
    EXPECT_TRUE(engine.shutdownRequested);
    EXPECT_EQ(60000u, fx.clock.TickCount() - start);

    engine.threadAlive = false;
    start = fx.clock.TickCount();
    EXPECT_TRUE(RequestWorkerEnd(engine));
    EXPECT_EQ(0u, fx.clock.TickCount() - start);
}

TEST(Destruction, StopsARunningCopyBeforeTheExitSequence)
{
    CFrontEndFixture fx;
    CRecoveryEngine engine;
    engine.runRequested = true;
    engine.copyRunning = true;
    // A worker that ends its copy once Pause is seen.
    std::thread worker([&] {
        while (engine.runRequested) std::this_thread::yield();
        engine.copyRunning = false;
    });
    int exits = 0;
    bool copyWasRunning = true;
    StopCopyThenExit(engine, [&] {
        ++exits;
        copyWasRunning = engine.copyRunning;
    });
    worker.join();
    EXPECT_EQ(1, exits);
    EXPECT_FALSE(copyWasRunning);

    exits = 0;
    StopCopyThenExit(engine, [&] { ++exits; });
    EXPECT_EQ(1, exits);
}

TEST(PowerOffSeam, WritesTheMarkerInsteadOfPoweringOff)
{
    CTempDir dir;
    CMarkerPowerOff power(dir.File("poweroff"));
    EXPECT_TRUE(power.ShutdownWindows());
    std::ifstream in(dir.File("poweroff"));
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kPowerOffMarkerText, text);
    CMarkerPowerOff nowhere(dir.File("missing-folder/poweroff"));
    EXPECT_FALSE(nowhere.ShutdownWindows());
}

}  // namespace
