#include <random>

#include "sim_harness.h"

namespace {

bool Parse(const std::string& text, SimProfile* p, std::string* error, const std::string& base = "")
{
    return ParseSimProfile(text, "disc.sim", base, p, error);
}

std::string ErrorOf(const std::string& text)
{
    SimProfile p;
    std::string error;
    EXPECT_FALSE(Parse(text, &p, &error)) << text;
    return error;
}

}  // namespace

TEST(SimProfile, EmptyProfileHasTheDocumentedDefaults)
{
    SimProfile p;
    p.sectors = 7;  // parsing starts afresh, whatever the record held
    std::string error;
    ASSERT_TRUE(Parse("", &p, &error)) << error;
    EXPECT_EQ(20000u, p.sectors);
    EXPECT_EQ(19999u, p.capacity);
    EXPECT_EQ(2048u, p.blockLength);
    EXPECT_EQ("", p.image);
    EXPECT_EQ("SIMDISC", p.label);
    EXPECT_TRUE(p.ranges.empty());
    EXPECT_EQ(1u, p.seed);
    EXPECT_EQ(0u, p.sectorMicros);
    EXPECT_EQ(100u, p.errorMillis);
    EXPECT_EQ(0u, p.spinupMillis);
    EXPECT_EQ(SimTray::Closed, p.tray);
    EXPECT_TRUE(p.disc);
    EXPECT_EQ("GLEANOR", p.vendor);
    EXPECT_EQ("SIMULATED DVD", p.product);
    EXPECT_EQ(0u, p.vanishAfter);
    EXPECT_EQ(0u, p.stallMillis);
    EXPECT_EQ("disc.sim", p.path);
}

TEST(SimProfile, CapacityFollowsSectorsUnlessGiven)
{
    EXPECT_EQ(99u, Profile("sectors 100").capacity);
    EXPECT_EQ(0u, Profile("sectors 0").capacity);
    EXPECT_EQ(0u, Profile("sectors 1").capacity);
    // Given explicitly it wins, on either side of the sectors line.
    EXPECT_EQ(5u, Profile("capacity 5\nsectors 100").capacity);
    EXPECT_EQ(300000u, Profile("sectors 100\ncapacity 300000").capacity);
    EXPECT_EQ(4294967295u, Profile("sectors 4294967295").sectors);
}

TEST(SimProfile, ReadsEverySetting)
{
    SimProfile p = Profile(
        "# a disc\n"
        "\n"
        "sectors 40000   # trailing comment\n"
        "block_length 2352\n"
        "label  MY DISC \n"
        "bad 100-200\r\n"
        "flaky\t300-310\t0.25\n"
        "flaky 5-5 1\n"
        "flaky 6-6 .5\n"
        "seed 42\n"
        "sector_us 90\n"
        "error_ms 300\n"
        "spinup_ms 1500\n"
        "tray fixed\n"
        "disc no\n"
        "vendor ACME\n"
        "product FAST WRITER 16X\n"
        "vanish_after 12\n"
        "return_after 7\n"
        "new_address yes\n"
        "stall_ms 20000\n");
    EXPECT_EQ(40000u, p.sectors);
    EXPECT_EQ(39999u, p.capacity);
    EXPECT_EQ(2352u, p.blockLength);
    EXPECT_EQ("MY DISC", p.label);
    ASSERT_EQ(4u, p.ranges.size());
    EXPECT_FALSE(p.ranges[0].flaky);
    EXPECT_EQ(100u, p.ranges[0].first);
    EXPECT_EQ(200u, p.ranges[0].last);
    EXPECT_TRUE(p.ranges[1].flaky);
    EXPECT_EQ(300u, p.ranges[1].first);
    EXPECT_EQ(310u, p.ranges[1].last);
    EXPECT_DOUBLE_EQ(0.25, p.ranges[1].probability);
    EXPECT_DOUBLE_EQ(1.0, p.ranges[2].probability);
    EXPECT_DOUBLE_EQ(0.5, p.ranges[3].probability);
    EXPECT_EQ(42u, p.seed);
    EXPECT_EQ(90u, p.sectorMicros);
    EXPECT_EQ(300u, p.errorMillis);
    EXPECT_EQ(1500u, p.spinupMillis);
    EXPECT_EQ(SimTray::Fixed, p.tray);
    EXPECT_FALSE(p.disc);
    EXPECT_EQ("ACME", p.vendor);
    EXPECT_EQ("FAST WRITER 16X", p.product);
    EXPECT_EQ(12u, p.vanishAfter);
    EXPECT_EQ(7u, p.returnAfter);
    EXPECT_TRUE(p.newAddress);
    EXPECT_EQ(20000u, p.stallMillis);
    EXPECT_EQ(SimTray::Open, Profile("tray open").tray);
    EXPECT_TRUE(Profile("disc yes").disc);
}

TEST(SimProfile, ImageIsFoundBesideTheProfileAndSetsTheSectorCount)
{
    CTempDir dir;
    WriteFile(dir.File("disc.iso"), std::string(3 * 2048 + 100, 'x'));  // a partial fourth sector
    WriteFile(dir.File("disc.sim"), "image disc.iso\n");
    SimProfile p;
    std::string error;
    ASSERT_TRUE(LoadSimProfile(dir.File("disc.sim"), &p, &error)) << error;
    EXPECT_EQ(dir.File("disc.iso"), p.image);
    EXPECT_EQ(3u, p.sectors);
    EXPECT_EQ(2u, p.capacity);
    EXPECT_EQ(dir.File("disc.sim"), p.path);

    // An absolute path is taken as it is; sectors given explicitly win over the size.
    ASSERT_TRUE(Parse("sectors 10\nimage " + dir.File("disc.iso"), &p, &error, "/elsewhere/")) << error;
    EXPECT_EQ(dir.File("disc.iso"), p.image);
    EXPECT_EQ(10u, p.sectors);
}

TEST(SimProfile, ErrorsNameTheFileTheLineAndTheProblem)
{
    const std::pair<const char*, const char*> cases[] = {
        {"sector 5", "disc.sim:1: unknown setting \"sector\""},
        {"\n\nsectors -5", "disc.sim:3: sectors: bad number \"-5\""},
        {"sectors +5", "disc.sim:1: sectors: bad number \"+5\""},
        {"sectors 12abc", "disc.sim:1: sectors: bad number \"12abc\""},
        {"sectors 0x10", "disc.sim:1: sectors: bad number \"0x10\""},
        {"sectors 4294967296", "disc.sim:1: sectors: bad number \"4294967296\""},
        {"sectors 99999999999999999999", "disc.sim:1: sectors: bad number \"99999999999999999999\""},
        {"sectors 1 2", "disc.sim:1: sectors: unexpected text after \"1\""},
        {"sectors", "disc.sim:1: sectors: missing value"},
        {"seed   # no value", "disc.sim:1: seed: missing value"},
        {"bad 10-5", "disc.sim:1: bad: inverted range \"10-5\""},
        {"bad 5", "disc.sim:1: bad: expected a range A-B, got \"5\""},
        {"bad -5", "disc.sim:1: bad: bad range \"-5\""},
        {"bad 1-2-3", "disc.sim:1: bad: bad range \"1-2-3\""},
        {"bad 1-2 3", "disc.sim:1: bad: unexpected text after \"1-2\""},
        {"flaky 1-2 1.5", "disc.sim:1: flaky: probability 1.5 outside 0..1"},
        {"flaky 1-2 -0.1", "disc.sim:1: flaky: probability -0.1 outside 0..1"},
        {"flaky 1-2 2", "disc.sim:1: flaky: probability 2 outside 0..1"},
        {"flaky 1-2 abc", "disc.sim:1: flaky: bad probability \"abc\""},
        {"flaky 1-2 0.5e1", "disc.sim:1: flaky: bad probability \"0.5e1\""},
        {"flaky 1-2 .", "disc.sim:1: flaky: bad probability \".\""},
        {"flaky 1-2", "disc.sim:1: flaky: expected A-B P"},
        {"flaky 9-2 0.5", "disc.sim:1: flaky: inverted range \"9-2\""},
        {"flaky 1-2 0.5 x", "disc.sim:1: flaky: unexpected text after \"0.5\""},
        {"tray ajar", "disc.sim:1: tray: expected closed, open or fixed"},
        {"disc maybe", "disc.sim:1: disc: expected yes or no"},
        {"new_address 1", "disc.sim:1: new_address: expected yes or no"},
        {"vendor ABCDEFGHI", "disc.sim:1: vendor: longer than 8 characters"},
        {"product 12345678901234567", "disc.sim:1: product: longer than 16 characters"},
        {"label 123456789012345678901234567890123", "disc.sim:1: label: longer than 32 characters"},
        {"label A\x01", "disc.sim:1: unprintable character"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(expected, ErrorOf(text)) << text;
    }
    // A NUL inside a line is refused, not taken as the end of the text.
    EXPECT_EQ("disc.sim:2: unprintable character", ErrorOf(std::string("sectors 5\nlabel A\0B", 19)));
    // The first bad line is the one reported.
    EXPECT_EQ("disc.sim:2: seed: bad number \"x\"", ErrorOf("sectors 5\nseed x\nseed y"));
    EXPECT_EQ("disc.sim:1: image: image file not found: nothere.iso", ErrorOf("image nothere.iso"));
}

TEST(SimProfile, RefusedProfileLeavesTheRecordAlone)
{
    SimProfile p;
    p.label = "KEEP";
    std::string error;
    EXPECT_FALSE(Parse("label NEW\nbogus 1", &p, &error));
    EXPECT_EQ("KEEP", p.label);
}

TEST(SimProfile, LoadNamesAMissingProfile)
{
    CTempDir dir;
    SimProfile p;
    std::string error;
    EXPECT_FALSE(LoadSimProfile(dir.File("none.sim"), &p, &error));
    EXPECT_EQ(dir.File("none.sim") + ": cannot open the profile", error);
    WriteFile(dir.File("bad.sim"), "sectors 10\ntray sideways\n");
    EXPECT_FALSE(LoadSimProfile(dir.File("bad.sim"), &p, &error));
    EXPECT_EQ(dir.File("bad.sim") + ":2: tray: expected closed, open or fixed", error);
}

// Given random mixtures of setting names, numbers and junk, the parser either
// accepts or names the file and a line; it never crashes or accepts nonsense ranges.
TEST(SimProfile, SurvivesRandomInput)
{
    const char* pieces[] = {"sectors", "bad",  "flaky", "label", "tray",  "seed", " ",   "\t",  "\n",   "#",
                            "-",       "0",    "1",     "9",     "0.5",   ".",    "999999999999", "\r",  "\x01",
                            "open",    "yes",  "1-2",   "5-3",   "image", "x",    "4294967295",  "capacity"};
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        int n = int(rng() % 12);
        for (int i = 0; i < n; ++i) text += pieces[rng() % (sizeof pieces / sizeof *pieces)];
        SimProfile p;
        std::string error;
        if (Parse(text, &p, &error)) {
            for (const SimRange& r : p.ranges) {
                EXPECT_LE(r.first, r.last) << text;
                EXPECT_LE(r.probability, 1.0) << text;
            }
        } else {
            EXPECT_EQ(0u, error.rfind("disc.sim:", 0)) << text << " -> " << error;
        }
    }
}
