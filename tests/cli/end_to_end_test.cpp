// The built `gleanor` run as a user runs it, on simulated discs: exit
// statuses, the log on stderr, the files it leaves, Ctrl-C, questions,
// the import round trip and the demo.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "aspi/sim/sim_drive.h"
#include "cli/rescue_check.h"
#include "engine/recovery_engine.h"
#include "process.h"
#include "support/fakes.h"

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string WriteProfile(const CTempDir& dir, const std::string& name, const std::string& text)
{
    std::string path = dir.File(name);
    std::ofstream(path) << text;
    return path;
}

ChildRun Gleanor(const std::vector<std::string>& args, const ChildControl& control = ChildControl())
{
    return RunChild(GleanorPath(), args, control);
}

// Every sector the flag file marks read holds the simulated disc's content.
RescueCheck CheckAgainstProfile(const std::string& base, const std::string& profilePath)
{
    SimProfile profile;
    std::string error;
    EXPECT_TRUE(LoadSimProfile(profilePath, &profile, &error)) << error;
    return CheckRescue(base + ".flg", base + ".iso", [&](uint32_t lba, uint8_t* out) {
        if (lba >= profile.sectors) return false;
        GenerateSector(profile, lba, out);
        return true;
    });
}

FlagHeader ReadHeader(const std::string& path)
{
    uint8_t raw[kFlagHeaderSize] = {};
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(raw), sizeof raw);
    FlagHeader h;
    h.Decode(raw);
    return h;
}

class EndToEnd : public ::testing::Test {
protected:
    CTempDir dir;
    std::string Clean() { return WriteProfile(dir, "clean.sim", "sectors 20000\nlabel CLEANDISC\n"); }
    std::string Damaged()
    {
        return WriteProfile(dir, "damaged.sim",
                            "sectors 20000\nlabel SCRATCHED\nbad 5000-5063\nflaky 9000-9200 0.3\nerror_ms 200\n");
    }
};

TEST_F(EndToEnd, UsageErrorsExit64WithTheReason)
{
    ChildRun r = Gleanor({"copy", "--bogus"});
    EXPECT_EQ(64, r.status);
    EXPECT_EQ("gleanor: unknown option '--bogus' (see gleanor --help)\n", r.err);
    EXPECT_EQ(64, Gleanor({}).status);
    EXPECT_EQ(64, Gleanor({"copy", "--give-up", "5m"}).status);
    ChildRun missing = Gleanor({"drives", "--sim", dir.File("nothing.sim")});
    EXPECT_EQ(64, missing.status);
    EXPECT_TRUE(Has(missing.err, "nothing.sim")) << missing.err;
    // A destination that cannot be made as a folder (it would lie inside a file).
    std::string file = WriteProfile(dir, "plain", "");
    ChildRun noFolder = Gleanor({"copy", "--sim", Clean(), "--sim-clock", "virtual", "--dest", file + "/sub"});
    EXPECT_EQ(64, noFolder.status);
    EXPECT_TRUE(Has(noFolder.err, "/plain/sub/: the folder cannot be created: ")) << noFolder.err;
    ChildRun help = Gleanor({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_TRUE(Has(help.out, "Usage: gleanor COMMAND"));
}

TEST_F(EndToEnd, DrivesAndEstimateOnSimulatedDiscs)
{
    std::string empty = WriteProfile(dir, "empty.sim", "disc no\n");
    ChildRun list = Gleanor({"drives", "--sim", Clean(), "--sim", empty});
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_EQ("* 0  [0:0:0]  GLEANOR SIMULATED DVD  ready  CLEANDISC  39 MB\n"
              "  1  [0:1:0]  GLEANOR SIMULATED DVD  not ready\n",
              list.out);
    ChildRun estimate = Gleanor({"estimate", "--sim", Clean()});
    EXPECT_EQ(0, estimate.status) << estimate.err;
    EXPECT_EQ("19999\n", estimate.out);
    ChildRun notReady = Gleanor({"estimate", "--sim", Clean(), "--sim", empty, "--drive", "1", "--sim-clock", "virtual"});
    EXPECT_EQ(1, notReady.status);
    EXPECT_TRUE(Has(notReady.err, "Drive Not Ready")) << notReady.err;
}

// Into a destination folder that does not exist yet: it is made, and no
// question about its free space comes up.
TEST_F(EndToEnd, CleanDiscCopiesInOnePass)
{
    std::string dest = dir.File("new/folder/");
    ChildRun r = Gleanor({"copy", "--sim", Clean(), "--sim-clock", "virtual", "--dest", dest, "--log-level", "1"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_FALSE(Has(r.err, "Low Disk Space")) << r.err;
    EXPECT_TRUE(Has(r.err, "Create CLEANDISC.iso\n")) << r.err;
    // The sweep reads it all; the careful pass after it finds nothing left.
    EXPECT_TRUE(Has(r.err, "Sweep 1 Read 19999 Errors 0\nEdges 1 Read 0 Errors 0\nLoop 1 Read 0 Errors 0\n")) << r.err;
    EXPECT_TRUE(Has(r.err, "\nExit 0x0: Ok\n")) << r.err;
    // The last counters line for scripts.
    EXPECT_TRUE(Has(r.out, "sectors 19999 current 19999 read 19999 missing 0 ")) << r.out;
    RescueCheck check = CheckAgainstProfile(dest + "CLEANDISC", dir.File("clean.sim"));
    EXPECT_EQ(19999u, check.marked);
    EXPECT_EQ(0u, check.wrong);
    EXPECT_TRUE(check.headerValid);
}

TEST_F(EndToEnd, DamagedDiscGivesUpWithOutcome7)
{
    ChildRun r = Gleanor({"copy", "--sim", Damaged(), "--sim-clock", "virtual", "--dest", dir.Path(), "--give-up",
                          "1m", "--image", "rescued"});
    EXPECT_EQ(7, r.status) << r.err;
    EXPECT_TRUE(Has(r.err, "Exit 0x7: Give Up")) << r.err;
    RescueCheck check = CheckAgainstProfile(dir.File("rescued"), dir.File("damaged.sim"));
    EXPECT_EQ(0u, check.wrong);
    EXPECT_LE(check.marked, 19999u - 64u);  // the bad zone never reads
    EXPECT_GT(check.marked, 19000u);
    EXPECT_EQ(check.marked, check.headerRead);
}

TEST_F(EndToEnd, CtrlCPausesWithUserBreakAndTheCopyResumes)
{
    // Real time: about 4 s of reading, so that Ctrl-C lands mid-copy.
    std::string slow = WriteProfile(dir, "slow.sim", "sectors 20000\nlabel SLOWDISC\nsector_us 200\n");
    // A logout (SIGHUP) and a plain kill (SIGTERM) pause as Ctrl-C does,
    // and the header is written.
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        std::filesystem::remove_all(dir.File("SLOWDISC.flg"));
        std::filesystem::remove_all(dir.File("SLOWDISC.iso"));
        ChildControl c;
        c.interruptWhen = "Create SLOWDISC.iso";
        c.signal = sig;
        ChildRun paused = Gleanor({"copy", "--sim", slow, "--dest", dir.Path()}, c);
        EXPECT_EQ(3, paused.status) << sig << paused.err;
        EXPECT_TRUE(Has(paused.err, "Exit 0x3: User Break")) << paused.err;
        RescueCheck first = CheckAgainstProfile(dir.File("SLOWDISC"), slow);
        EXPECT_EQ(0u, first.wrong);
        EXPECT_TRUE(first.headerValid) << sig;
        EXPECT_EQ(first.marked, ReadHeader(dir.File("SLOWDISC.flg")).sectorsRead) << sig;
        ASSERT_LT(first.marked, 19999u);
    }
    RescueCheck first = CheckAgainstProfile(dir.File("SLOWDISC"), slow);

    ChildRun resumed = Gleanor({"copy", "--sim", slow, "--sim-clock", "virtual", "--dest", dir.Path(), "--log-level", "1"});
    EXPECT_EQ(0, resumed.status) << resumed.err;
    EXPECT_TRUE(Has(resumed.err, "Continue SLOWDISC.iso")) << resumed.err;
    // Only what the first copy left is read again.
    EXPECT_TRUE(Has(resumed.err, "Sweep 1 Read " + std::to_string(19999 - first.marked) + " Errors 0"))
        << resumed.err;
    RescueCheck second = CheckAgainstProfile(dir.File("SLOWDISC"), slow);
    EXPECT_EQ(19999u, second.marked);
    EXPECT_EQ(0u, second.wrong);
}

TEST_F(EndToEnd, SecondCtrlCEndsAtOnceWith130)
{
    std::string slow = WriteProfile(dir, "slow.sim", "sectors 20000\nlabel SLOWDISC\nsector_us 500\n");
    ChildControl c;
    c.interruptWhen = "Create SLOWDISC.iso";
    // Close together, so that the main loop may not have shown the pause yet.
    // Signals of one kind do not queue: two sent at once may arrive as one,
    // so more follow until the program has ended.
    c.interrupts = 20;
    c.gap = std::chrono::milliseconds(0);
    ChildRun r = Gleanor({"copy", "--sim", slow, "--dest", dir.Path()}, c);
    EXPECT_EQ(130, r.status) << r.err;
    EXPECT_TRUE(Has(r.err, "Pause: the copy ends after the current request")) << r.err;
    EXPECT_TRUE(Has(r.err, "the same command resumes the copy\n")) << r.err;
    // Whatever was marked is in the image.
    EXPECT_EQ(0u, CheckAgainstProfile(dir.File("SLOWDISC"), slow).wrong);
}

TEST_F(EndToEnd, QuestionsAreDeclinedUnlessAnswered)
{
    std::string clean = Clean();
    ASSERT_EQ(0, Gleanor({"copy", "--sim", clean, "--sim-clock", "virtual", "--dest", dir.Path()}).status);
    // Damage a reserved word of the header: its checksum fails.
    std::string flg = dir.File("CLEANDISC.flg");
    {
        std::fstream f(flg, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(24);
        f.put(char(0x5A));
    }
    FlagHeader damaged = ReadHeader(flg);
    ASSERT_NE(0u, damaged.Sum());

    ChildRun declined = Gleanor({"copy", "--sim", clean, "--sim-clock", "virtual", "--dest", dir.Path()});
    EXPECT_EQ(9, declined.status) << declined.err;
    EXPECT_TRUE(Has(declined.err, "[Failed Header Check!] Ignore Checksum Error ?")) << declined.err;
    EXPECT_TRUE(Has(declined.err, "Declined \"Failed Header Check!\" with No")) << declined.err;
    EXPECT_EQ(damaged.Sum(), ReadHeader(flg).Sum());  // the refused header stays as it was

    ChildRun yes = Gleanor({"copy", "--sim", clean, "--sim-clock", "virtual", "--dest", dir.Path(), "--answer",
                            "Failed Header Check!=yes"});
    EXPECT_EQ(0, yes.status) << yes.err;
    EXPECT_TRUE(Has(yes.err, "Answered \"Failed Header Check!\" with Yes (--answer)")) << yes.err;
    EXPECT_EQ(0u, ReadHeader(flg).Sum());
}

TEST_F(EndToEnd, ImportRoundTripFromASecondMachine)
{
    // Machine A's drive cannot read sectors 100-163; machine B's can.
    std::string a = WriteProfile(dir, "a.sim", "sectors 3000\nlabel TWOPC\nbad 100-163\nerror_ms 10\n");
    std::string b = WriteProfile(dir, "b.sim", "sectors 3000\nlabel TWOPC\nbad 2000-2010\nerror_ms 10\n");
    std::filesystem::create_directory(dir.File("A"));
    std::filesystem::create_directory(dir.File("B"));
    std::filesystem::create_directory(dir.File("T"));
    std::string destA = dir.File("A/"), destB = dir.File("B/");
    ChildRun copyA = Gleanor({"copy", "--sim", a, "--sim-clock", "virtual", "--dest", destA, "--give-up", "1m"});
    ASSERT_EQ(7, copyA.status) << copyA.err;
    std::filesystem::copy_file(destA + "TWOPC.flg", destB + "TWOPC.flg");

    ChildRun copyB = Gleanor({"copy", "--sim", b, "--sim-clock", "virtual", "--dest", destB, "--give-up", "1m"});
    EXPECT_EQ(0, copyB.status) << copyB.err;  // B reads everything A missed
    EXPECT_TRUE(Has(copyB.err, "Create TWOPC.imp")) << copyB.err;
    EXPECT_FALSE(std::filesystem::exists(destB + "TWOPC.iso"));
    // The import file travels to another folder of machine A.
    std::filesystem::copy_file(destB + "TWOPC.imp", dir.File("T/TWOPC.imp"));

    ChildRun merge = Gleanor({"import", dir.File("T/TWOPC.imp"), "--dest", dir.File("A")});
    EXPECT_EQ(0, merge.status) << merge.err;
    EXPECT_TRUE(EndsWith(merge.err, "64 Sectors imported\n")) << merge.err;
    RescueCheck check = CheckAgainstProfile(destA + "TWOPC", a);
    EXPECT_EQ(2999u, check.marked);
    EXPECT_EQ(0u, check.wrong);
    EXPECT_EQ(2999u, check.headerRead);
    EXPECT_TRUE(check.headerValid);

    // A missing import file, beside a flag file without its image (machine
    // B's folder): refused before anything opens, so no empty image appears.
    ChildRun noImport = Gleanor({"import", dir.File("T/gone/TWOPC.imp"), "--dest", destB});
    EXPECT_EQ(1, noImport.status);
    EXPECT_TRUE(Has(noImport.err, "no such import file")) << noImport.err;
    EXPECT_FALSE(std::filesystem::exists(destB + "TWOPC.iso"));

    // A merge that cannot start (no flag file beside the image) exits 1.
    ChildRun noFlag = Gleanor({"import", dir.File("T/TWOPC.imp"), "--dest", dir.File("T")});
    EXPECT_EQ(1, noFlag.status);
    EXPECT_TRUE(Has(noFlag.err, "Cannot Import! - Missing *.FLG file:")) << noFlag.err;
}

std::vector<char> Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A disc of `sectors` sectors whose every byte depends on `seed`, as an image the simulator serves.
std::string DiscImage(const CTempDir& dir, const std::string& name, uint32_t sectors, unsigned seed)
{
    std::string path = dir.File(name);
    std::ofstream out(path, std::ios::binary);
    for (uint64_t i = 0; i < uint64_t(sectors) * 2048; ++i) out.put(char((i * 31 + seed * 7 + i / 2048) % 253));
    return path;
}

// Given an image set of one disc and another disc of the same size in the
// drive, a copy into that set is refused with 9 before anything is written;
// the right disc then resumes it to the end.
TEST_F(EndToEnd, AnotherDiscOfTheSameSizeIsRefused)
{
    std::string holiday = WriteProfile(dir, "holiday.sim", "sectors 3000\nlabel HOLIDAY\nbad 100-163\nerror_ms 10\n");
    std::string other = WriteProfile(dir, "other.sim", "sectors 3000\nlabel OTHER_DISC\n");
    std::string healed = WriteProfile(dir, "healed.sim", "sectors 3000\nlabel HOLIDAY\n");
    ASSERT_EQ(7, Gleanor({"copy", "--sim", holiday, "--sim-clock", "virtual", "--dest", dir.Path(), "--give-up",
                          "1m"}).status);
    std::vector<char> iso = Bytes(dir.File("HOLIDAY.iso")), flg = Bytes(dir.File("HOLIDAY.flg"));

    ChildRun wrong = Gleanor({"copy", "--sim", other, "--sim-clock", "virtual", "--dest", dir.Path(), "--image",
                              "HOLIDAY.iso"});
    EXPECT_EQ(9, wrong.status) << wrong.err;
    EXPECT_TRUE(Has(wrong.err, "Another disc: sector 16 differs from the image set's\nExit 0x9: CheckHeader *.flg\n"))
        << wrong.err;
    EXPECT_TRUE(iso == Bytes(dir.File("HOLIDAY.iso")));
    EXPECT_TRUE(flg == Bytes(dir.File("HOLIDAY.flg")));

    ChildRun right = Gleanor({"copy", "--sim", healed, "--sim-clock", "virtual", "--dest", dir.Path(), "--image",
                              "HOLIDAY.iso"});
    EXPECT_EQ(0, right.status) << right.err;
    RescueCheck check = CheckAgainstProfile(dir.File("HOLIDAY"), healed);
    EXPECT_EQ(2999u, check.marked);
    EXPECT_EQ(0u, check.wrong);
}

// Given a flag file carried to a second machine early, while the first went
// on reading, and another disc of the same size exported there: the merge at
// home finds its records differing from sectors the image holds by now and
// takes none of them.
TEST_F(EndToEnd, MergeRefusesRecordsThatDifferFromTheImage)
{
    std::string homeDisc = DiscImage(dir, "home.bin", 3000, 1);
    std::string otherDisc = DiscImage(dir, "other.bin", 3000, 2);
    std::string early = WriteProfile(dir, "early.sim", "image home.bin\nlabel TWOPC\nbad 100-2999\nerror_ms 10\n");
    std::string home = WriteProfile(dir, "home.sim", "image home.bin\nlabel TWOPC\nbad 2500-2999\nerror_ms 10\n");
    std::string away = WriteProfile(dir, "away.sim", "image other.bin\nlabel TWOPC\n");
    std::filesystem::create_directory(dir.File("A"));
    std::filesystem::create_directory(dir.File("B"));
    std::string destA = dir.File("A/"), destB = dir.File("B/");
    ASSERT_EQ(7, Gleanor({"copy", "--sim", early, "--sim-clock", "virtual", "--dest", destA, "--give-up", "1m",
                          "--image", "TWOPC"}).status);
    std::filesystem::copy_file(destA + "TWOPC.flg", destB + "TWOPC.flg");
    ASSERT_EQ(7, Gleanor({"copy", "--sim", home, "--sim-clock", "virtual", "--dest", destA, "--give-up", "1m",
                          "--image", "TWOPC"}).status);
    ChildRun export_ = Gleanor({"copy", "--sim", away, "--sim-clock", "virtual", "--dest", destB, "--image", "TWOPC"});
    ASSERT_EQ(0, export_.status) << export_.err;
    std::vector<char> iso = Bytes(destA + "TWOPC.iso"), flg = Bytes(destA + "TWOPC.flg");

    ChildRun merge = Gleanor({"import", destB + "TWOPC.imp", "--dest", destA});
    EXPECT_EQ(1, merge.status) << merge.err;
    EXPECT_TRUE(Has(merge.err, "Cannot Import! - Another disc: sector 100 differs from the image set's\n")) << merge.err;
    EXPECT_TRUE(iso == Bytes(destA + "TWOPC.iso"));
    EXPECT_TRUE(flg == Bytes(destA + "TWOPC.flg"));
}

TEST_F(EndToEnd, DemoRescuesAndChecksTheScratchedDisc)
{
    if (!std::filesystem::exists(SourceDir() + "/examples/scratched.sim"))
        GTEST_SKIP() << "examples/scratched.sim is not in the tree";
    auto start = std::chrono::steady_clock::now();
    ChildControl c;
    c.limit = std::chrono::seconds(120);
    ChildRun r = Gleanor({"demo", dir.File("demo")}, c);
    EXPECT_EQ(0, r.status) << r.err << r.out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(90));
    EXPECT_TRUE(Has(r.out, "rescued sectors are correct")) << r.out;
    EXPECT_TRUE(Has(r.err, "Loop 2 Read ")) << r.err;  // more than one pass
}

}  // namespace
