// The settings file: keys per user, defaults, the level rules, and the text
// form of the 8-byte record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/rawio.h"
#include "support/fakes.h"
#include "ui/logic/settings_file.h"

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { settings.SetDefaults(); }
    void TearDown() override
    {
        settings.SetDefaults();
        settings.spare = 0;
    }
    // Lines of the file, each ended by CR LF.
    void WriteIni(std::initializer_list<std::string> lines)
    {
        std::ofstream out(path, std::ios::binary);
        for (const auto& line : lines) out << line << "\r\n";
    }
    std::string ReadIni()
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::string Record(int32_t level, uint8_t cycle, uint8_t cool, uint8_t eject, uint8_t spare = 0)
    {
        uint8_t b[8] = {uint8_t(level), uint8_t(level >> 8), uint8_t(level >> 16), uint8_t(level >> 24),
                        cycle, cool, eject, spare};
        return EncodeStructText(b, 8);
    }
    CTempDir dir;
    std::string path = dir.File("Gleanor.ini");
    CIniTextProfile store{path};
    SettingRecord record;
};

TEST_F(SettingsFile, MissingFileGivesTheDefaults)
{
    record.debugLevel = 3;
    record.cycleTray = 1;
    record.allowCooldown = 0;
    record.ejectOnCompletion = 1;
    EXPECT_EQ("C:\\", ReadSettings(store, "ann", record));
    EXPECT_EQ(0, record.debugLevel);
    EXPECT_EQ(0, record.cycleTray);
    EXPECT_EQ(1, record.allowCooldown);
    EXPECT_EQ(0, record.ejectOnCompletion);
}

TEST_F(SettingsFile, LevelComesBackAsVerboseAtMostUnlessDebugLevelIsSet)
{
    WriteIni({"[Gleanor]", "annSetting=" + Record(4, 1, 0, 1, 0x5A)});
    ReadSettings(store, "ann", record);
    EXPECT_EQ(1, record.debugLevel);  // "Verbose"
    EXPECT_EQ(1, record.cycleTray);
    EXPECT_EQ(0, record.allowCooldown);
    EXPECT_EQ(1, record.ejectOnCompletion);
    EXPECT_EQ(0x5A, record.spare);  // saved back as it was read

    WriteIni({"[Gleanor]", "annSetting=" + Record(0, 0, 1, 0), "DebugLevel=3"});
    ReadSettings(store, "ann", record);
    EXPECT_EQ(3, record.debugLevel);  // "Detail+" wins over the record

    WriteIni({"[Gleanor]", "annSetting=" + Record(-5, 0, 1, 0)});
    ReadSettings(store, "ann", record);
    EXPECT_EQ(0, record.debugLevel);

    // A hand-set level beyond "Debug" is held at "Debug", so it has a name.
    WriteIni({"[Gleanor]", "DebugLevel=9"});
    ReadSettings(store, "ann", record);
    EXPECT_EQ(4, record.debugLevel);
}

TEST_F(SettingsFile, DamagedRecordGivesTheDefaultsButKeepsSpare)
{
    std::string damaged = Record(1, 1, 0, 1);
    damaged[damaged.size() - 1] = damaged.back() == '0' ? '1' : '0';  // checksum off by some
    record.spare = 7;
    WriteIni({"[Gleanor]", "annSetting=" + damaged});
    ReadSettings(store, "ann", record);
    EXPECT_EQ(0, record.cycleTray);
    EXPECT_EQ(1, record.allowCooldown);
    EXPECT_EQ(7, record.spare);

    WriteIni({"[Gleanor]", "annSetting=" + Record(1, 1, 0, 1).substr(2)});  // short
    ReadSettings(store, "ann", record);
    EXPECT_EQ(0, record.cycleTray);
}

TEST_F(SettingsFile, UsersKeepSeparateKeysAndShareDebugLevel)
{
    SettingRecord ann, bob;
    ann.cycleTray = 1;
    ann.debugLevel = 4;
    WriteSettings(store, "ann", "D:\\ann\\", ann);
    bob.ejectOnCompletion = 1;
    WriteSettings(store, "bob", "E:\\", bob);
    // Writing again replaces the values, it does not add keys.
    WriteSettings(store, "ann", "D:\\ann2\\", ann);

    EXPECT_EQ("D:\\ann2\\", ReadSettings(store, "ann", record));
    EXPECT_EQ(1, record.cycleTray);
    EXPECT_EQ(1, record.debugLevel);
    EXPECT_EQ("E:\\", ReadSettings(store, "bob", record));
    EXPECT_EQ(0, record.cycleTray);
    EXPECT_EQ(1, record.ejectOnCompletion);

    std::string ini = ReadIni();
    EXPECT_EQ(1u, std::count(ini.begin(), ini.end(), '['));
    EXPECT_NE(std::string::npos, ini.find("annFolder=D:\\ann2\\"));
    EXPECT_EQ(std::string::npos, ini.find("D:\\ann\\\r"));
    EXPECT_EQ(std::string::npos, ini.find("DebugLevel"));  // never written
}

// The strategy has a key of its own: the careful passes unless it says 1,
// and the 8-byte record stays as it was.
TEST_F(SettingsFile, StrategyKeyOfItsOwn)
{
    record.strategy = kStrategySweep;
    ReadSettings(store, "ann", record);
    EXPECT_EQ(kStrategyCareful, record.strategy);
    record.strategy = kStrategySweep;
    WriteSettings(store, "ann", "D:\\", record);
    EXPECT_NE(std::string::npos, ReadIni().find("annStrategy=1\r\n"));
    EXPECT_NE(std::string::npos, ReadIni().find("annSetting=" + Record(0, 0, 1, 0) + "\r\n"));
    record.strategy = kStrategyCareful;
    ReadSettings(store, "ann", record);
    EXPECT_EQ(kStrategySweep, record.strategy);
    WriteIni({"[Gleanor]", "annStrategy=7"});
    ReadSettings(store, "ann", record);
    EXPECT_EQ(kStrategyCareful, record.strategy);
}

TEST_F(SettingsFile, NoUserNameMeansBareKeys)
{
    WriteSettings(store, "", "F:\\x\\", record);
    EXPECT_NE(std::string::npos, ReadIni().find("\nFolder=F:\\x\\"));
    EXPECT_EQ("F:\\x\\", ReadSettings(store, "", record));
}

TEST_F(SettingsFile, KeysAndSectionCompareWithoutCase)
{
    WriteIni({"[gleanor]", "ANNFOLDER=G:\\"});
    EXPECT_EQ("G:\\", ReadSettings(store, "ann", record));
}

TEST(RecordText, RoundTripsAndRejectsDamage)
{
    const uint8_t bytes[8] = {4, 0, 0, 0, 1, 0, 1, 0xFF};
    std::string text = EncodeStructText(bytes, 8);
    EXPECT_EQ("04000000010001FF05", text);  // sum 0x105 mod 256
    uint8_t back[8] = {};
    ASSERT_TRUE(DecodeStructText(text, back, 8));
    EXPECT_EQ(0, std::memcmp(bytes, back, 8));
    EXPECT_FALSE(DecodeStructText(text, back, 7));
    EXPECT_FALSE(DecodeStructText("04000000010001FF06", back, 8));
    EXPECT_FALSE(DecodeStructText("0400000001000GFF05", back, 8));
    EXPECT_FALSE(DecodeStructText("040000000100010005", back, 8));
    EXPECT_TRUE(DecodeStructText("04000000010001ff05", back, 8));
}

TEST(IniPath, LiesBesideTheProgram)
{
    auto native = [](std::string p) {
        for (char& c : p)
            if (c == '\\') c = rawio::kSep;
        return p;
    };
    EXPECT_EQ(native("D:\\Tools\\Gleanor.ini"), IniPathFromModule(native("D:\\Tools\\Gleanor.exe")));
    EXPECT_EQ(native("C:\\a.b\\Tool.ini"), IniPathFromModule(native("C:\\a.b\\Tool")));
    EXPECT_EQ("Gleanor.ini", IniPathFromModule("Gleanor.exe"));
}

}  // namespace
