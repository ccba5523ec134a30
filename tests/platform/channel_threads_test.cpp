#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/core/settings.h"
#include "platform/poster.h"
#include "channel/channel.h"

namespace {

class CCollectingPoster : public IPoster {
public:
    void Post(unsigned msg, unsigned wParam, const char* text) override
    {
        std::lock_guard<std::mutex> guard(lock);
        if (msg == UM_LOG_LINE) lines.push_back({wParam, text});
    }
    std::mutex lock;
    std::vector<std::pair<unsigned, std::string>> lines;
};

// Given two threads logging at the same instant, then every line arrives once,
// whole, and consecutive lines take consecutive ring slots.
TEST(ChannelThreads, TwoThreadsLoggingAtOnceLoseAndTearNothing)
{
    ResetChannel();
    settings.debugLevel = 0;
    CCollectingPoster poster;
    SetPoster(&poster);
    constexpr int kLines = 2000;
    auto sender = [](char tag) {
        for (int i = 0; i < kLines; ++i) LogPrintf(0, "%c line %04d of a long enough text", tag, i);
    };
    std::thread worker(sender, 'w');
    std::thread dialog(sender, 'd');
    // A reader on a third thread copies slots the way the window does.
    std::thread reader([] {
        char text[kTextSlotSize];
        for (int i = 0; i < kLines; ++i) CopyLogSlot(i & 63, text);
    });
    worker.join();
    dialog.join();
    reader.join();
    SetPoster(nullptr);

    ASSERT_EQ(size_t(2 * kLines), poster.lines.size());
    std::set<std::string> seen;
    for (size_t i = 0; i < poster.lines.size(); ++i) {
        const auto& [slot, text] = poster.lines[i];
        EXPECT_EQ(33u, text.size()) << text;
        seen.insert(text);
    }
    EXPECT_EQ(size_t(2 * kLines), seen.size());
    EXPECT_EQ((2 * kLines) & 63, logHead);
}

}  // namespace
