// The crash-consistency test: runs `gleanor copy` (normal and export mode) and
// `gleanor import` on simulated damaged discs with the virtual clock, kills
// them with SIGKILL at random moments, at chosen log lines and at chosen file
// writes, and after every kill checks the image set. A chain of kills on one
// image set ends with a copy (or merge) that runs to its end and must leave an
// image correct for every sector marked read.
//
//   crash_check --gleanor BIN --shim SO --profiles DIR [--seed N] [--kills N]
// Prints the seed, one line per kill point that failed, and
// "kill points N, inconsistent N". Exit 0 only when nothing was inconsistent.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "crash/process_posix.h"
#include "crash/verify.h"
#include "engine/recovery_engine.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPaceMicros = 1500;      // per file write, when a kill waits for a moment or a line
constexpr int kMaxDelayMs = 900;       // random kill moments fall in 30 .. this
constexpr int kMaxWriteKill = 700;     // kills at a file write choose 1 .. this
constexpr int kKillsPerChain = 5;
constexpr int kBudgetSeconds = 150;    // the whole test stays under three minutes

struct Config {
    std::string gleanor, shim, profiles, work;
    unsigned seed = 0;
    int kills = 60;
};

enum class KillMode { Delay, Line, Write, TornWrite };

struct Tally {
    int killPoints = 0;
    int byMode[4] = {};
    int inconsistent = 0;
    int hung = 0;
    std::map<std::string, int> lines;  // kills at a log line, by its first word
};

class CCrashTest {
public:
    CCrashTest(const Config& c) : cfg_(c), rng_(c.seed) {}
    int Run();

private:
    // One copy, killed as `mode` says; false when it ended by itself first.
    bool KilledCopy(const std::string& dir, const std::string& profile, const std::vector<std::string>& extra,
                    KillMode mode, const std::vector<std::string>& lines, ChildResult* out);
    ChildResult Gleanor(std::vector<std::string> args, KillMode mode, const std::vector<std::string>& lines, bool kill,
                        const std::vector<std::pair<std::string, std::string>>& env = {});
    bool SelfTest();
    void Check(const char* where, CSimulatedAspi& disc, const std::string& dir, const std::string& importFile,
               const std::vector<uint8_t>& startFlags, const ChildResult& r, bool normalEnd);

    void CopyChain(const std::string& profile, const std::vector<std::string>& extra,
                   const std::vector<std::string>& lines);
    void ExportAndMergeChain();
    void MapImportChain();
    KillMode PickMode(bool withLines);
    bool OutOfTime() const;
    std::string FreshDir(const char* name);
    std::string Profile(const char* name) const { return cfg_.profiles + "/" + name; }
    std::vector<std::string> CopyArgs(const std::string& dir, const std::string& profile,
                                      const std::vector<std::string>& extra) const;

    Config cfg_;
    std::mt19937 rng_;
    Tally tally_;
    int dirs_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

bool LoadDisc(const std::string& profile, CSimulatedAspi* disc)
{
    std::string error;
    if (!disc->AddProfileFile(profile, &error)) {
        std::fprintf(stderr, "crash: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool CopyFile(const std::string& from, const std::string& to)
{
    std::error_code ec;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
}

void WriteFile(const std::string& path, const void* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
}

bool OutcomeOfCopy(int code)
{
    return code == 0 || code == 7;  // done, or given up on the damaged zones
}

}  // namespace

bool CCrashTest::OutOfTime() const
{
    return std::chrono::steady_clock::now() - start_ > std::chrono::seconds(kBudgetSeconds);
}

std::string CCrashTest::FreshDir(const char* name)
{
    std::string dir = cfg_.work + "/" + std::to_string(++dirs_) + "-" + name + "/";
    fs::create_directories(dir);
    return dir;
}

KillMode CCrashTest::PickMode(bool withLines)
{
    int n = std::uniform_int_distribution<int>(0, withLines ? 3 : 2)(rng_);
    static const KillMode kModes[] = {KillMode::Delay, KillMode::Write, KillMode::TornWrite, KillMode::Line};
    return kModes[n];
}

std::vector<std::string> CCrashTest::CopyArgs(const std::string& dir, const std::string& profile,
                                              const std::vector<std::string>& extra) const
{
    std::vector<std::string> a{"copy", "--sim", profile, "--sim-clock", "virtual", "--dest", dir,
                               "--image", "disc.iso", "--yes", "--log-level", "2"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

ChildResult CCrashTest::Gleanor(std::vector<std::string> args, KillMode mode, const std::vector<std::string>& lines,
                                bool kill, const std::vector<std::pair<std::string, std::string>>& env)
{
    ChildPlan plan;
    plan.args = std::move(args);
    plan.env = env;
    if (kill) {
        switch (mode) {
        case KillMode::Delay:
            plan.env.push_back({"GLEANOR_SHIM_PACE_US", std::to_string(kPaceMicros)});
            plan.killAfterMs = std::uniform_int_distribution<int>(30, kMaxDelayMs)(rng_);
            break;
        case KillMode::Line:
            plan.env.push_back({"GLEANOR_SHIM_PACE_US", std::to_string(kPaceMicros)});
            plan.killOnLines = lines;
            break;
        case KillMode::TornWrite:
            plan.env.push_back({"GLEANOR_SHIM_TEAR", "1"});
            [[fallthrough]];
        case KillMode::Write:
            plan.env.push_back({"GLEANOR_SHIM_KILL_AT",
                                std::to_string(std::uniform_int_distribution<int>(1, kMaxWriteKill)(rng_))});
            break;
        }
    }
    bool hung = false;
    ChildResult r = RunChild(cfg_.gleanor, cfg_.shim, plan, &hung);
    r.mode = kill ? int(mode) : -1;
    if (hung) {
        ++tally_.hung;
        std::printf("crash: a run did not end within its time-out: %s\n", plan.args[0].c_str());
    }
    return r;
}

void CCrashTest::Check(const char* where, CSimulatedAspi& disc, const std::string& dir, const std::string& importFile,
                       const std::vector<uint8_t>& startFlags, const ChildResult& r, bool normalEnd)
{
    SetReport rep = VerifySet(disc, dir + "disc.flg", dir + "disc.iso", importFile, startFlags);
    std::string problem = rep.problem;
    if (rep.ok && !rep.headerSums) problem = "the flag header does not sum to zero";
    if (problem.empty() && normalEnd && rep.headerRead > rep.markedRead)
        problem = "the header counts more sectors read than the bitmap marks";
    if (r.killed) ++tally_.killPoints;  // a run that ended by itself is no kill point
    if (r.killed && r.mode >= 0) ++tally_.byMode[r.mode];
    if (!r.killedAt.empty()) ++tally_.lines[r.killedAt.substr(0, r.killedAt.find(' '))];
    if (problem.empty()) return;
    ++tally_.inconsistent;
    std::printf("INCONSISTENT after %s%s%s in %s: %s\n", where, r.killedAt.empty() ? "" : " at line '",
                r.killedAt.empty() ? "" : (r.killedAt + "'").c_str(), dir.c_str(), problem.c_str());
}

// Copies of one disc into one image set: killed again and again, each resumed
// copy starting from what the killed one left, then one copy to its end.
void CCrashTest::CopyChain(const std::string& profile, const std::vector<std::string>& extra,
                           const std::vector<std::string>& lines)
{
    CSimulatedAspi disc;
    if (!LoadDisc(profile, &disc)) {
        ++tally_.inconsistent;
        return;
    }
    std::string dir = FreshDir("copy");
    for (int k = 0; k < kKillsPerChain && !OutOfTime(); ++k) {
        ChildResult r = Gleanor(CopyArgs(dir, profile, extra), PickMode(!lines.empty()), lines, true);
        Check(r.killed ? "a kill" : "a copy that ended first", disc, dir, "", {}, r, !r.killed);
    }
    ChildResult last = Gleanor(CopyArgs(dir, profile, extra), KillMode::Delay, lines, false);
    if (!OutcomeOfCopy(last.exitCode)) {
        ++tally_.inconsistent;
        std::printf("INCONSISTENT: the resumed copy in %s ended with status %d\n", dir.c_str(), last.exitCode);
    }
    Check("the resumed copy", disc, dir, "", {}, last, true);
}

// The two-machine workflow under kills: machine A copies and gives up; only
// its flag file goes to B, whose export copy is killed and continued; then
// the import file is merged on A, killed mid-merge and merged again.
void CCrashTest::ExportAndMergeChain()
{
    CSimulatedAspi discA, discB;
    if (!LoadDisc(Profile("damaged.sim"), &discA) || !LoadDisc(Profile("second.sim"), &discB)) {
        ++tally_.inconsistent;
        return;
    }
    std::string a = FreshDir("machine-a");
    ChildResult first = Gleanor(CopyArgs(a, Profile("damaged.sim"), {"--give-up", "1m"}), KillMode::Delay, {}, false);
    Check("machine A's copy", discA, a, "", {}, first, true);
    std::string b = FreshDir("machine-b");
    CopyFile(a + "disc.flg", b + "disc.flg");
    const std::vector<uint8_t> startFlags = ReadAll(a + "disc.flg");

    std::vector<std::string> exportArgs = CopyArgs(b, Profile("second.sim"), {"--give-up", "1m"});
    for (int k = 0; k < kKillsPerChain && !OutOfTime(); ++k) {
        ChildResult r = Gleanor(exportArgs, PickMode(true), {"Loop ", "Pause ", "Spinup "}, true);
        Check(r.killed ? "a kill in export mode" : "an export that ended first", discB, b, b + "disc.imp", startFlags,
              r, !r.killed);
    }
    ChildResult exported = Gleanor(exportArgs, KillMode::Delay, {}, false);
    Check("the continued export", discB, b, b + "disc.imp", startFlags, exported, true);

    std::vector<std::string> importArgs{"import", b + "disc.imp", "--dest", a, "--log-level", "2"};
    for (int k = 0; k < kKillsPerChain && !OutOfTime(); ++k) {
        ChildResult r = Gleanor(importArgs, PickMode(false), {}, true);
        Check(r.killed ? "a kill mid-merge" : "a merge that ended first", discA, a, "", {}, r, !r.killed);
    }
    ChildResult merged = Gleanor(importArgs, KillMode::Delay, {}, false);
    // 1 is what the merge answers when it passed over a torn record on its way to the end.
    if (merged.exitCode != 0 && merged.exitCode != 1) {
        ++tally_.inconsistent;
        std::printf("INCONSISTENT: the repeated merge into %s ended with status %d\n", a.c_str(), merged.exitCode);
    }
    Check("the repeated merge", discA, a, "", {}, merged, true);
    // After a whole merge every sector the import file holds is marked read.
    std::vector<uint8_t> flg = ReadAll(a + "disc.flg");
    if (flg.size() >= kFlagHeaderSize) {
        FlagHeader h;
        h.Decode(flg.data());
        CSimulatedAspi& disc = discB;
        std::vector<uint8_t> want(kSimSectorSize);
        for (const auto& [lba, copies] : ImportRecords(ReadAll(b + "disc.imp"), h.sectorCount, h.sectorSize)) {
            bool good = disc.DiscContent(0, lba, want.data()) && std::find(copies.begin(), copies.end(), want) != copies.end();
            if (good && lba < h.sectorCount && FlagMissing(flg, lba)) {
                ++tally_.inconsistent;
                std::printf("INCONSISTENT: LBA %u is in the import file but still missing after the merge\n", lba);
                break;
            }
        }
    }
}

// A rescue by ddrescue elsewhere brought in: an image set with random runs
// read, ddrescue's output (the whole disc here) and a map of random finished
// and untried runs, one sector longer than the flag file counts, imported
// with `import --mapfile`, killed mid-merge and imported again.
void CCrashTest::MapImportChain()
{
    CSimulatedAspi disc;
    SimProfile profile;
    std::string error;
    if (!LoadDisc(Profile("damaged.sim"), &disc) || !LoadSimProfile(Profile("damaged.sim"), &profile, &error)) {
        ++tally_.inconsistent;
        return;
    }
    std::string a = FreshDir("map-import");
    FlagHeader h;
    h.sectorCount = profile.sectors - 1;  // the last block address, as a copy counts
    h.sectorSize = kSimSectorSize;
    std::vector<uint8_t> flg(kFlagHeaderSize + 4 * (h.sectorCount / 32 + 3), 0xFF);
    std::vector<uint8_t> iso(size_t(h.sectorCount) * kSimSectorSize);
    for (uint32_t lba = 0; lba < h.sectorCount; ++lba) {
        if (std::uniform_int_distribution<int>(0, 3)(rng_) != 0 || (lba / 200) % 2 == 0) continue;
        flg[kFlagHeaderSize + lba / 8] &= uint8_t(~(1u << (lba % 8)));
        disc.DiscContent(0, lba, iso.data() + size_t(lba) * kSimSectorSize);
        ++h.sectorsRead;
    }
    h.checksum = 0u - h.Sum();
    h.Encode(flg.data());

    const uint32_t sectors = h.sectorCount + 1;
    std::vector<bool> finished(sectors);
    std::string map = "0x0 ? 1\n";
    std::vector<uint8_t> data(size_t(sectors) * kSimSectorSize);
    for (uint32_t lba = 0; lba < sectors; ++lba) disc.DiscContent(0, lba, data.data() + size_t(lba) * kSimSectorSize);
    for (uint32_t lba = 0; lba < sectors;) {
        uint32_t run = std::min(sectors - lba, std::uniform_int_distribution<uint32_t>(1, 300)(rng_));
        bool plus = std::uniform_int_distribution<int>(0, 2)(rng_) != 0;
        char line[80];
        std::snprintf(line, sizeof line, "0x%llX 0x%llX %c\n", (unsigned long long)lba * kSimSectorSize,
                      (unsigned long long)run * kSimSectorSize, plus ? '+' : '?');
        map += line;
        for (uint32_t k = 0; k < run; ++k) finished[lba + k] = plus;
        lba += run;
    }
    WriteFile(a + "dd.img", data.data(), data.size());
    WriteFile(a + "dd.map", map.data(), map.size());
    WriteFile(a + "disc.flg", flg.data(), flg.size());
    WriteFile(a + "disc.iso", iso.data(), iso.size());

    std::vector<std::string> args{"import", "--mapfile", a + "dd.map", "--from", a + "dd.img", "--dest", a,
                                  "--image",  "disc.iso",  "--log-level", "2"};
    for (int k = 0; k < kKillsPerChain && !OutOfTime(); ++k) {
        ChildResult r = Gleanor(args, PickMode(false), {}, true);
        Check(r.killed ? "a kill mid-map-import" : "a map import that ended first", disc, a, "", {}, r, !r.killed);
    }
    ChildResult merged = Gleanor(args, KillMode::Delay, {}, false);
    if (merged.exitCode != 0) {
        ++tally_.inconsistent;
        std::printf("INCONSISTENT: the repeated map import into %s ended with status %d\n", a.c_str(), merged.exitCode);
    }
    Check("the repeated map import", disc, a, "", {}, merged, true);
    flg = ReadAll(a + "disc.flg");
    for (uint32_t lba = 0; lba < h.sectorCount; ++lba) {
        if (finished[lba] && FlagMissing(flg, lba)) {
            ++tally_.inconsistent;
            std::printf("INCONSISTENT: LBA %u is finished in the map but still missing after the import\n", lba);
            break;
        }
    }
}

// The checks must be able to fail: a program that loses every 7th sector
// write while marking it read has to be caught.
bool CCrashTest::SelfTest()
{
    CSimulatedAspi disc;
    if (!LoadDisc(Profile("damaged.sim"), &disc)) return false;
    std::string dir = FreshDir("self-test");
    Gleanor(CopyArgs(dir, Profile("damaged.sim"), {"--give-up", "1m"}), KillMode::Delay, {}, false,
            {{"GLEANOR_SHIM_DROP_EVERY", "7"}});
    SetReport rep = VerifySet(disc, dir + "disc.flg", dir + "disc.iso", "", {});
    std::printf("crash: self-test with lost sector writes: %s\n", rep.ok ? "NOT noticed" : rep.problem.c_str());
    return !rep.ok;
}

int CCrashTest::Run()
{
    std::printf("crash: seed %u, work folder %s\n", cfg_.seed, cfg_.work.c_str());
    if (!SelfTest()) return 1;
    const std::vector<std::string> careLines{"Loop ", "Pause ", "Spinup ", "Cycle Tray "};
    int round = 0;
    while (tally_.killPoints < cfg_.kills && !OutOfTime()) {
        switch (round++ % 5) {
        case 0:
            CopyChain(Profile("damaged.sim"), {"--give-up", "1m", "--cycle-tray", "--strategy", "careful"}, careLines);
            break;
        case 1: ExportAndMergeChain(); break;
        // The sweep, the edges and the retry rounds: killed where a phase
        // ends, and at random moments and file writes inside them. The retry
        // runs on weak blocks among dead ones, and each resumed copy in the
        // same drive skips the blocks that failed before.
        case 2: {
            static const char* const phases[] = {"Retry ", "Edges ", "Sweep "};
            const char* phase = phases[round / 5 % 3];
            CopyChain(Profile(phase == phases[0] ? "ring.sim" : "damaged.sim"), {"--give-up", "1m", "--strategy", "sweep"},
                      {phase});
            break;
        }
        case 3: MapImportChain(); break;
        default: CopyChain(Profile("cooldown.sim"), {"--give-up", "1h"}, {"Cooldown "}); break;
        }
        std::fflush(stdout);
    }
    if (tally_.hung) std::printf("crash: %d runs hung\n", tally_.hung);
    std::printf("crash: kills at a random moment %d, at a log line %d, at a file write %d, tearing a write %d\n",
                tally_.byMode[0], tally_.byMode[1], tally_.byMode[2], tally_.byMode[3]);
    for (const auto& [word, n] : tally_.lines) std::printf("crash: kills at a \"%s\" line: %d\n", word.c_str(), n);
    std::printf("kill points %d, inconsistent %d\n", tally_.killPoints, tally_.inconsistent);
    bool enough = tally_.killPoints >= cfg_.kills;
    if (!enough) std::printf("crash: fewer kill points than the %d asked for\n", cfg_.kills);
    return tally_.inconsistent == 0 && tally_.hung == 0 && enough ? 0 : 1;
}

int main(int argc, char** argv)
{
    Config cfg;
    cfg.seed = unsigned(std::random_device{}());
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i], v = argv[i + 1];
        if (k == "--gleanor") cfg.gleanor = v;
        else if (k == "--shim") cfg.shim = v;
        else if (k == "--profiles") cfg.profiles = v;
        else if (k == "--work") cfg.work = v;
        else if (k == "--seed") cfg.seed = unsigned(std::strtoul(v.c_str(), nullptr, 10));
        else if (k == "--kills") cfg.kills = std::atoi(v.c_str());
    }
    if (cfg.gleanor.empty() || cfg.shim.empty() || cfg.profiles.empty()) {
        std::fprintf(stderr, "usage: crash_check --gleanor BIN --shim SO --profiles DIR [--seed N] [--kills N]\n");
        return 64;
    }
    bool ownWork = cfg.work.empty();
    if (ownWork) {
        char templ[] = "/tmp/gleanor-crash-XXXXXX";
        if (!mkdtemp(templ)) return 1;
        cfg.work = templ;
    }
    int rc = CCrashTest(cfg).Run();
    if (ownWork && rc == 0) fs::remove_all(cfg.work);
    return rc;
}
