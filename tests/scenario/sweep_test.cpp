// Whole copies with the sweep first: aligned requests, the edges of a dead
// area found from both sides, the retry rounds over the failed blocks, the
// careful passes after them, Pause and give-up in every phase.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "app/core/settings.h"
#include "scenario_rig.h"

namespace {

struct Read {
    unsigned long lba = 0, count = 0;
    bool ok = false;
};

// The drive's READ lines, from the log line at index `from` on, up to the
// first line that starts with `until` ("" for all).
std::vector<Read> Reads(const std::vector<std::pair<uint32_t, std::string>>& log, size_t from,
                        const std::string& until = "")
{
    std::vector<Read> reads;
    for (size_t i = from; i < log.size(); ++i) {
        const std::string& line = log[i].second;
        if (!until.empty() && line.rfind(until, 0) == 0) break;
        Read r;
        char word[8] = "";
        if (std::sscanf(line.c_str(), "lba %lx, len %lx %7s", &r.lba, &r.count, word) != 3) continue;
        r.ok = std::string(word) == "OK";
        reads.push_back(r);
    }
    return reads;
}

class SweepScenario : public ScenarioTest {
protected:
    SweepScenario()
    {
        settings.strategy = kStrategySweep;
        settings.debugLevel = 4;  // the drive's READ lines
    }
    ~SweepScenario() override
    {
        settings.strategy = kStrategyCareful;
        settings.debugLevel = 0;
        settings.giveUpLevel = 0;
    }

    // Sum of the errors of every phase and pass line.
    unsigned long LoggedErrors() const
    {
        unsigned long sum = 0;
        for (const auto& line : fe.poster.LogLines()) {
            char name[8] = "";
            unsigned long n = 0, read = 0, errors = 0;
            if (std::sscanf(line.c_str(), "%7s %lu Read %lu Errors %lu", name, &n, &read, &errors) == 4) sum += errors;
        }
        return sum;
    }

    std::vector<uint32_t> Range(uint32_t first, uint32_t last) const
    {
        std::vector<uint32_t> out;
        for (uint32_t lba = first; lba <= last; ++lba) out.push_back(lba);
        return out;
    }
};

// Given a dead area that starts and ends inside blocks, then the sweep reads only
// aligned blocks, the edges bring back everything on both sides of it, and
// the careful passes, which follow with drive care, find nothing more.
TEST_F(SweepScenario, AlignedSweepEdgesOnBothSidesThenCarefulPasses)
{
    SimProfile p = Disc(4000, 100);
    AddBad(p, 1000, 1030);
    AddBad(p, 2500, 2500);
    Attach({p});
    settings.giveUpLevel = 4;
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    EXPECT_TRUE(Logged("Exit 0x7: Give Up"));

    for (const Read& r : Reads(poster.timedLog, 0, "Sweep 1 ")) {
        EXPECT_EQ(0u, r.lba % 16) << r.lba;
        EXPECT_EQ(16u, r.count) << r.lba;
    }
    std::vector<uint32_t> dead = Range(1000, 1030);
    dead.push_back(2500);
    EXPECT_EQ(dead, MissingSectors());
    ExpectImageConsistent();

    // No drive care before the careful passes, and those read nothing more.
    size_t lastEdges = 0;
    for (size_t i = 0; i < poster.timedLog.size(); ++i)
        if (poster.timedLog[i].second.rfind("Edges ", 0) == 0) lastEdges = i;
    ASSERT_GT(lastEdges, 0u);
    for (size_t i = 0; i < lastEdges; ++i) EXPECT_NE(0u, poster.timedLog[i].second.rfind("Pause ", 0));
    auto loops = LinesWith("Loop ");
    ASSERT_FALSE(loops.empty());
    for (const auto& line : loops) EXPECT_NE(std::string::npos, line.find(" Read 0 ")) << line;
    ASSERT_TRUE(LoggedPrefix("Edges 1 Read "));
    FlagHeader h;
    h.Decode(Flags().data());
    EXPECT_EQ(h.readErrors, LoggedErrors());
}

// A scratch: dead blocks, each with a flaky sector in the block behind it, and
// a long dead stretch. The retry rounds, before any careful pass and with no
// drive care, read the flaky blocks back a block at a time, and in the long
// stretch try only blocks that the sweep tried there.
TEST_F(SweepScenario, RetryRoundsReadFlakyBlocksBehindDeadOnesNotLongStretches)
{
    SimProfile p = Disc(4000, 100);
    std::vector<uint32_t> dead;
    for (uint32_t first = 1600; first < 2560; first += 48) {
        AddBad(p, first, first + 15);
        AddFlaky(p, first + 31, first + 31, 0.5);
        for (uint32_t lba = first; lba < first + 16; ++lba) dead.push_back(lba);
    }
    AddBad(p, 3200, 3711);
    for (uint32_t lba = 3200; lba <= 3711; ++lba) dead.push_back(lba);
    Attach({p});
    settings.giveUpLevel = 4;
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    EXPECT_EQ(dead, MissingSectors());
    ExpectImageConsistent();

    // The retry rounds run from the last edges line to the last retry line.
    size_t lastEdges = 0, lastRetry = 0, firstLoop = 0;
    unsigned long retried = 0, rounds = 0, lastRead = 0;
    for (size_t i = 0; i < poster.timedLog.size(); ++i) {
        const std::string& line = poster.timedLog[i].second;
        if (line.rfind("Edges ", 0) == 0) lastEdges = i;
        if (line.rfind("Loop ", 0) == 0 && firstLoop == 0) firstLoop = i;
        unsigned long n = 0, errors = 0;
        if (std::sscanf(line.c_str(), "Retry %lu Read %lu Errors %lu", &n, &lastRead, &errors) == 3) {
            EXPECT_EQ(++rounds, n);
            EXPECT_EQ(0u, firstLoop) << "a retry round after a careful pass";
            lastRetry = i;
            retried += lastRead;
        }
    }
    ASSERT_GT(lastRetry, lastEdges);
    EXPECT_GT(retried, 0u);
    for (size_t i = lastEdges; i < lastRetry; ++i) EXPECT_NE(0u, poster.timedLog[i].second.rfind("Pause ", 0));
    std::vector<unsigned long> metInStretch;
    const std::vector<std::pair<uint32_t, std::string>> beforeRetry(poster.timedLog.begin(),
                                                                      poster.timedLog.begin() + lastEdges);
    for (const Read& r : Reads(beforeRetry, 0))
        if (r.lba >= 3200) metInStretch.push_back(r.lba / 16);
    bool readInRetry = false;
    for (const Read& r : Reads(poster.timedLog, lastEdges, "Retry " + std::to_string(rounds) + " ")) {
        if (r.lba >= 3200) {
            EXPECT_NE(metInStretch.end(), std::find(metInStretch.begin(), metInStretch.end(), r.lba / 16)) << r.lba;
        }
        EXPECT_LE(r.lba % 16 + r.count, 16u) << r.lba;
        readInRetry = readInRetry || r.ok;
    }
    EXPECT_TRUE(readInRetry);
}

// A scratch that leaves one good block in three: the stretches jumped over
// where a sweep round ends in failures lie inside readable damage and are
// swept again, so every readable sector is in before the careful passes.
TEST_F(SweepScenario, ScratchIsReadBetweenItsDeadBlocksBeforeTheCarefulPasses)
{
    SimProfile p = Disc(8000, 100);
    unsigned long dead = 0;
    for (uint32_t first = 1600; first < 5000; first += 48, dead += 32) AddBad(p, first, first + 31);
    Attach({p});
    settings.giveUpLevel = 4;
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    unsigned long before = 0;
    for (const auto& line : fe.poster.LogLines()) {
        char name[8] = "";
        unsigned long n = 0, read = 0;
        if (std::sscanf(line.c_str(), "%7s %lu Read %lu", name, &n, &read) == 3 && std::string(name) != "Loop")
            before += read;
    }
    EXPECT_EQ(8000u - dead, before);
    EXPECT_EQ(dead, MissingSectors().size());
}

// Pause in the sweep, in the edges and in the careful passes: each copy ends
// "User Break", and the resumed copy reads only what is still missing.
TEST_F(SweepScenario, PauseInEachPhaseThenResume)
{
    SimProfile p = Disc(4000, 100);  // too small for spin-up reads, which read sectors again
    AddBad(p, 2000, 2100);
    Attach({p});
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Edges "}, {"Sweep 1 ", "Loop "}, {"Edges ", "Loop 2 "}};
    for (const auto& [after, absent] : cases) {
        SCOPED_TRACE(after);
        CTempDir here;
        engine.destFolder = here.Path();
        size_t mark = poster.timedLog.size();
        bool armed = after.empty();
        poster.onLog = [&, after = after](const std::string& line) {
            if (!after.empty() && line.rfind(after, 0) == 0) armed = true;
            unsigned long lba = 0, count = 0;
            if (!armed || std::sscanf(line.c_str(), "lba %lx, len %lx", &lba, &count) != 2) return;
            if (!after.empty() || lba >= 1280) engine.runRequested = false;
        };
        settings.giveUpLevel = 0;
        fe.prompt.ChooseFileAnswer(here.File("Disc"));
        engine.runRequested = true;
        EXPECT_EQ(OUTCOME_USER_BREAK, engine.RunCopy());
        poster.onLog = nullptr;
        bool sawAbsent = false;
        for (size_t i = mark; i < poster.timedLog.size(); ++i)
            sawAbsent = sawAbsent || poster.timedLog[i].second.rfind(absent, 0) == 0;
        EXPECT_FALSE(sawAbsent) << absent;

        size_t resume = poster.timedLog.size();
        settings.giveUpLevel = 4;
        fe.prompt.ChooseFileAnswer(here.File("Disc"));
        engine.runRequested = true;
        EXPECT_EQ(OUTCOME_GIVE_UP, engine.RunCopy());
        std::map<unsigned long, int> good;
        for (const Read& r : Reads(poster.timedLog, mark))
            for (unsigned long i = 0; r.ok && i < r.count; ++i) ++good[r.lba + i];
        // Once each, but for the held sectors the resume reads again to prove the disc.
        int again = 0;
        for (const auto& [lba, times] : good) {
            ASSERT_LE(times, 2) << lba;
            again += times - 1;
        }
        EXPECT_LE(again, 9);
        EXPECT_EQ(4000u - 101u, good.size());
        bool resumedSweep = false;
        for (size_t i = resume; i < poster.timedLog.size(); ++i)
            resumedSweep = resumedSweep || poster.timedLog[i].second.rfind("Sweep 1 ", 0) == 0;
        EXPECT_TRUE(resumedSweep);
    }
}

// Failures with no good read count towards the give-up time in the sweep
// and in the edges as in the careful passes.
TEST_F(SweepScenario, GivesUpInTheSweepAndInTheEdges)
{
    settings.giveUpLevel = 4;
    SimProfile dead = Disc(20000, 25000);
    AddBad(dead, 0, 19999);
    SimProfile end = Disc(20000, 25000);
    AddBad(end, 19968, 19999);
    Attach({dead, end});
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    EXPECT_TRUE(LoggedPrefix("Sweep 1 Read 0 Errors 3"));
    EXPECT_FALSE(LoggedPrefix("Edges "));
    EXPECT_EQ(20000u, MissingSectors().size());
    ExpectHeaderSound();

    ASSERT_TRUE(engine.drive.SelectDrive(1));
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy("Edge"));
    EXPECT_TRUE(LoggedPrefix("Sweep 1 Read 19968 Errors 2"));
    EXPECT_TRUE(LoggedPrefix("Edges 1 Read 0 Errors 1"));
    EXPECT_FALSE(LoggedPrefix("Loop "));
    EXPECT_EQ(Range(19968, 19999), MissingSectors("Edge"));
    ExpectImageConsistent("Edge", 1);
}

// A ring of weak blocks (one flaky sector each, read once in six or seven
// tries) among dead ones. The retry rounds go on while the failures leave a
// block likely to read, and end on their own before the give-up time: every
// weak block is in before the careful passes, and the last rounds no longer
// try every dead block.
TEST_F(SweepScenario, RetryReadsWeakBlocksAmongDeadOnesAndStopsWhenTriesNoLongerPay)
{
    SimProfile p = Disc(8000, 100);
    std::vector<uint32_t> dead;
    for (uint32_t block = 100; block < 180; block += 4) {
        AddBad(p, block * 16, block * 16 + 31);
        AddFlaky(p, block * 16 + 37, block * 16 + 37, 0.15);
        AddFlaky(p, block * 16 + 53, block * 16 + 53, 0.15);
        for (uint32_t lba = block * 16; lba < block * 16 + 32; ++lba) dead.push_back(lba);
    }
    Attach({p});
    settings.giveUpLevel = 3;
    EXPECT_EQ(OUTCOME_GIVE_UP, Copy());
    ExpectImageConsistent();
    EXPECT_EQ(dead, MissingSectors());

    unsigned long rounds = 0, firstErrors = 0, lastErrors = 0, readBeforeLoops = 0;
    bool loop = false;
    for (const auto& line : fe.poster.LogLines()) {
        char name[8] = "";
        unsigned long n = 0, read = 0, errors = 0;
        if (std::sscanf(line.c_str(), "%7s %lu Read %lu Errors %lu", name, &n, &read, &errors) != 4) continue;
        loop = loop || std::string(name) == "Loop";
        if (!loop) readBeforeLoops += read;
        if (std::string(name) != "Retry") continue;
        EXPECT_FALSE(loop) << line;
        (++rounds == 1 ? firstErrors : lastErrors) = errors;
    }
    EXPECT_TRUE(loop);
    EXPECT_EQ(8000u - dead.size(), readBeforeLoops);
    ASSERT_GT(rounds, 1u);
    EXPECT_LT(lastErrors, dead.size() / 16) << "the last round still tried every dead block";
    EXPECT_GE(firstErrors, dead.size() / 16);
}

// Paused after a retry round, the copy resumed in the same drive sweeps
// without reading again the blocks that failed before; resumed in another
// drive, it reads them again.
TEST_F(SweepScenario, ResumeInTheSameDriveSkipsTheBlocksThatFailedAnotherDriveStartsFresh)
{
    SimProfile p = Disc(4000, 100);
    for (uint32_t first = 1600; first < 2400; first += 64) AddBad(p, first, first + 15);
    Attach({p, p});
    auto copyUntil = [&](const std::string& pauseAt) {
        size_t mark = poster.timedLog.size();
        poster.onLog = [&](const std::string& line) {
            if (!pauseAt.empty() && line.rfind(pauseAt, 0) == 0) engine.runRequested = false;
        };
        settings.giveUpLevel = 4;
        Copy();
        poster.onLog = nullptr;
        return Reads(poster.timedLog, mark, "Sweep 1 ");
    };
    auto failed = [](const std::vector<Read>& reads) {
        unsigned long n = 0;
        for (const Read& r : reads) n += !r.ok;
        return n;
    };
    EXPECT_EQ(13u, failed(copyUntil("Retry 1 ")));
    EXPECT_TRUE(ReadFileBytes(Path("tries")).size() > 0);
    EXPECT_EQ(0u, failed(copyUntil("Retry 1 ")));  // the same drive
    ASSERT_TRUE(engine.drive.SelectDrive(1));
    EXPECT_LT(0u, failed(copyUntil("")));          // another drive
    ExpectImageConsistent("Disc", 1);
}

}  // namespace
