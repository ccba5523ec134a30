// The command line parser: every option reaches its field, and every kind of
// wrong input is refused with a message naming what is wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "platform/prompt.h"

namespace {

struct Parsed {
    bool ok;
    Options options;
    std::string error;
};

Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "gleanor");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    Parsed p;
    p.ok = ParseCommandLine(int(argv.size()), argv.data(), &p.options, &p.error);
    return p;
}

// Refused, with a message that contains `part`.
void ExpectRefused(const std::vector<std::string>& args, const std::string& part)
{
    Parsed p = Parse(args);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_FALSE(p.ok) << shown;
    EXPECT_NE(p.error.find(part), std::string::npos) << shown << "-> " << p.error;
}

TEST(CommandLine, CopyTakesEveryOption)
{
    Parsed p = Parse({"copy", "--sim", "a.sim", "--sim=b.sim", "--drive", "1", "--log-level", "3", "--dest", "out",
                      "--image", "disc", "--give-up", "10m", "--cycle-tray", "--no-cooldown", "--eject",
                      "--force-size", "flag:old/Disc.flg", "--sim-clock", "virtual", "--answer",
                      "Low Disk Space !=yes", "--answer=Failed Header Check!=NO", "--yes"});
    ASSERT_TRUE(p.ok) << p.error;
    const Options& o = p.options;
    EXPECT_EQ(Command::Copy, o.command);
    EXPECT_EQ((std::vector<std::string>{"a.sim", "b.sim"}), o.sims);
    EXPECT_EQ(1, o.drive);
    EXPECT_EQ(3, o.logLevel);
    EXPECT_EQ("out", o.dest);
    EXPECT_EQ("disc", o.image);
    EXPECT_EQ(3, o.giveUpLevel);
    EXPECT_TRUE(o.cycleTray && o.noCooldown && o.ejectOnCompletion && o.virtualClock && o.yesToAll);
    EXPECT_EQ(ForceSource::Flag, o.force);
    EXPECT_EQ("old/Disc.flg", o.forceFlagPath);
    ASSERT_EQ(2u, o.answers.size());
    EXPECT_EQ("Low Disk Space !", o.answers[0].caption);
    EXPECT_EQ(kIdYes, o.answers[0].answer);
    EXPECT_EQ("Failed Header Check!", o.answers[1].caption);
    EXPECT_EQ(kIdNo, o.answers[1].answer);
}

TEST(CommandLine, DefaultsWhenNothingIsGiven)
{
    Parsed p = Parse({"copy"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(-1, p.options.drive);
    EXPECT_EQ(0, p.options.logLevel);
    EXPECT_EQ(2, p.options.giveUpLevel);  // 1h: a copy from the command line ends
    EXPECT_FALSE(p.options.destSet);
    EXPECT_EQ(ForceSource::None, p.options.force);
    EXPECT_FALSE(p.options.virtualClock);
}

TEST(CommandLine, GiveUpWordsAreTheFiveLevels)
{
    const char* words[] = {"never", "10h", "1h", "10m", "1m"};
    for (int level = 0; level < 5; ++level) {
        Parsed p = Parse({"copy", "--give-up", words[level]});
        ASSERT_TRUE(p.ok) << words[level];
        EXPECT_EQ(level, p.options.giveUpLevel);
    }
    ExpectRefused({"copy", "--give-up", "2h"}, "--give-up");
    ExpectRefused({"copy", "--give-up", "1M"}, "--give-up");
}

TEST(CommandLine, StrategySweepByDefaultCarefulOnRequest)
{
    EXPECT_FALSE(Parse({"copy"}).options.carefulOnly);
    EXPECT_FALSE(Parse({"copy", "--strategy", "sweep"}).options.carefulOnly);
    EXPECT_TRUE(Parse({"copy", "--strategy=careful"}).options.carefulOnly);
    ExpectRefused({"copy", "--strategy", "fast"}, "--strategy");
    ExpectRefused({"import", "x.imp", "--strategy", "careful"}, "--strategy");
}

TEST(CommandLine, ForceSizeSources)
{
    EXPECT_EQ(ForceSource::Drive, Parse({"copy", "--force-size", "drive"}).options.force);
    EXPECT_EQ(ForceSource::Estimate, Parse({"copy", "--force-size", "estimate"}).options.force);
    Parsed p = Parse({"copy", "--force-size", "333000"});
    EXPECT_EQ(ForceSource::Sectors, p.options.force);
    EXPECT_EQ(333000u, p.options.forceSectors);
    EXPECT_EQ(4294967295u, Parse({"copy", "--force-size", "4294967295"}).options.forceSectors);
    ExpectRefused({"copy", "--force-size", "4294967296"}, "--force-size");
    ExpectRefused({"copy", "--force-size", "flag:"}, "flag file");
    ExpectRefused({"copy", "--force-size", "-5"}, "--force-size");
    ExpectRefused({"copy", "--force-size", "12k"}, "--force-size");
}

TEST(CommandLine, NumbersAreParsedStrictly)
{
    ExpectRefused({"copy", "--drive", "-1"}, "--drive");
    ExpectRefused({"copy", "--drive", "+1"}, "--drive");
    ExpectRefused({"copy", "--drive", " 1"}, "--drive");
    ExpectRefused({"copy", "--drive", "1x"}, "--drive");
    ExpectRefused({"copy", "--drive", ""}, "--drive");
    ExpectRefused({"copy", "--drive", "99999999999999999999999"}, "--drive");
    ExpectRefused({"copy", "--log-level", "5"}, "--log-level");
    ExpectRefused({"copy", "--log-level", "0x1"}, "--log-level");
    EXPECT_EQ(4, Parse({"drives", "--log-level", "004"}).options.logLevel);

    uint64_t v = 0;
    EXPECT_TRUE(ParseDecimal("18446744073709551615", UINT64_MAX, &v));
    EXPECT_EQ(UINT64_MAX, v);
    EXPECT_FALSE(ParseDecimal("18446744073709551616", UINT64_MAX, &v));
    EXPECT_FALSE(ParseDecimal("256", 255, &v));
    EXPECT_TRUE(ParseDecimal("255", 255, &v));
}

TEST(CommandLine, UsageErrorsNameTheProblem)
{
    ExpectRefused({}, "no command");
    ExpectRefused({"frobnicate"}, "unknown command 'frobnicate'");
    ExpectRefused({"copy", "--bogus"}, "unknown option '--bogus'");
    ExpectRefused({"copy", "-x"}, "unknown option '-x'");
    ExpectRefused({"copy", "--dest"}, "--dest needs a value");
    ExpectRefused({"copy", "--yes=1"}, "--yes takes no value");
    ExpectRefused({"copy", "extra"}, "unexpected argument 'extra'");
    ExpectRefused({"copy", "--drive", "1", "--drive", "2"}, "more than once");
    ExpectRefused({"drives", "--image", "x"}, "--image is not an option of 'drives'");
    ExpectRefused({"import"}, "import needs the import file");
    ExpectRefused({"import", "a.imp", "b.imp"}, "unexpected argument 'b.imp'");
    ExpectRefused({"import", "a.imp", "--sim", "x.sim"}, "--sim is not an option of 'import'");
    ExpectRefused({"demo", "a", "b"}, "unexpected argument 'b'");
    ExpectRefused({"copy", "--sim-clock", "virtual"}, "needs --sim");
    ExpectRefused({"copy", "--sim", "a.sim", "--sim-clock", "fast"}, "--sim-clock");
}

TEST(CommandLine, AnswersMustNameAQuestionAndAButton)
{
    ExpectRefused({"copy", "--answer", "Low Disk Space !"}, "CAPTION=BUTTON");
    ExpectRefused({"copy", "--answer", "Low Disk Space !=maybe"}, "yes, no, ok or cancel");
    ExpectRefused({"copy", "--answer", "Low Disk Space=yes"}, "no question has the caption 'Low Disk Space'");
    ExpectRefused({"copy", "--answer", "Low Disk Space !=yes", "--answer", "Low Disk Space !=no"}, "twice");
    for (const std::string& caption : KnownCaptions())
        EXPECT_TRUE(Parse({"copy", "--answer", caption + "=ok"}).ok) << caption;
}

TEST(CommandLine, PositionalsAndHelp)
{
    Parsed p = Parse({"--dest", "d", "import", "Disc.imp"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(Command::Import, p.options.command);
    EXPECT_EQ("Disc.imp", p.options.importFile);
    EXPECT_EQ("d", p.options.dest);

    // A file name that starts with a dash, after "--".
    p = Parse({"import", "--", "-odd.imp"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ("-odd.imp", p.options.importFile);

    EXPECT_EQ("", Parse({"demo"}).options.demoDir);
    EXPECT_EQ("here", Parse({"demo", "here"}).options.demoDir);
    EXPECT_EQ(Command::Help, Parse({"--help"}).options.command);
    EXPECT_EQ(Command::Help, Parse({"copy", "--drive", "x", "-h"}).options.command);
    EXPECT_EQ(Command::Help, Parse({"help"}).options.command);
}

TEST(CommandLine, NeverReadsNullOrMissingArguments)
{
    const char* withNull[] = {"gleanor", "copy", nullptr};
    Options o;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(3, withNull, &o, &error));
    EXPECT_FALSE(ParseCommandLine(0, withNull, &o, &error));
    EXPECT_FALSE(ParseCommandLine(1, nullptr, &o, &error));
    // An option whose value would be the null entry is missing its value.
    const char* valueNull[] = {"gleanor", "copy", "--dest", nullptr};
    EXPECT_FALSE(ParseCommandLine(4, valueNull, &o, &error));
}

}  // namespace

TEST(CommandLine, MapfileCommandsTakeTheirFilesAndRefuseHalfAnImport)
{
    Parsed imp = Parse({"import", "--mapfile", "dd.map", "--from", "dd.iso", "--dest", "set", "--image", "disc.iso"});
    ASSERT_TRUE(imp.ok) << imp.error;
    EXPECT_EQ("dd.map", imp.options.mapfile);
    EXPECT_EQ("dd.iso", imp.options.fromImage);
    EXPECT_EQ("disc.iso", imp.options.image);
    Parsed map = Parse({"mapfile", "disc.flg", "-o", "disc.map"});
    ASSERT_TRUE(map.ok) << map.error;
    EXPECT_EQ(Command::Mapfile, map.options.command);
    EXPECT_EQ("disc.flg", map.options.flagFile);
    EXPECT_EQ("disc.map", map.options.output);
    EXPECT_EQ(Command::Version, Parse({"copy", "--version"}).options.command);

    ExpectRefused({"import", "--mapfile", "dd.map"}, "needs --from");
    ExpectRefused({"import", "x.imp", "--from", "dd.iso"}, "needs --from");
    ExpectRefused({"import", "x.imp", "--mapfile", "dd.map", "--from", "dd.iso"}, "unexpected argument 'x.imp'");
    ExpectRefused({"import", "x.imp", "--image", "disc.iso"}, "--image is an option of 'import --mapfile'");
    ExpectRefused({"mapfile"}, "mapfile needs the flag file");
    ExpectRefused({"mapfile", "a.flg", "b.flg"}, "unexpected argument 'b.flg'");
    ExpectRefused({"copy", "-o", "x"}, "-o is not an option of 'copy'");

    Parsed ex = Parse({"extract", "HOLIDAY", "--to", "out", "/DCIM", "docs/a.txt", "--damaged", "--system", "udf"});
    ASSERT_TRUE(ex.ok) << ex.error;
    EXPECT_EQ("HOLIDAY", ex.options.filesFlag);
    EXPECT_EQ("out", ex.options.extractTo);
    EXPECT_EQ((std::vector<std::string>{"/DCIM", "docs/a.txt"}), ex.options.extractPaths);
    EXPECT_TRUE(ex.options.extractDamaged);
    ExpectRefused({"extract", "a.flg"}, "extract needs --to DIR");
    ExpectRefused({"extract", "--to", "out"}, "extract needs the image set");
    ExpectRefused({"files", "a.flg", "--to", "out"}, "--to is not an option of 'files'");
}
