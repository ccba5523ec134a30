// The system's private-profile functions and the INI text form agree: a record
// written by one is read by the other, and damage is refused by both.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "support/fakes.h"
#include "ui/logic/profile_store.h"
#include "ui/logic/settings_file.h"

namespace {

TEST(PrivateProfile, SharesTheRecordFormWithTheTextProfile)
{
    CTempDir dir;
    std::string path = dir.File("Gleanor.ini");
    CPrivateProfile system(path);
    CIniTextProfile text(path);
    const uint8_t record[8] = {3, 0, 0, 0, 1, 0, 1, 0x42};

    ASSERT_TRUE(system.WriteStruct(kProfileSection, "annSetting", record, 8));
    uint8_t back[8] = {};
    ASSERT_TRUE(text.GetStruct(kProfileSection, "annSetting", back, 8));
    EXPECT_EQ(0, std::memcmp(record, back, 8));

    ASSERT_TRUE(text.WriteStruct(kProfileSection, "bobSetting", record, 8));
    std::memset(back, 0, 8);
    ASSERT_TRUE(system.GetStruct(kProfileSection, "bobSetting", back, 8));
    EXPECT_EQ(0, std::memcmp(record, back, 8));
    EXPECT_FALSE(system.GetStruct(kProfileSection, "bobSetting", back, 7));

    ASSERT_TRUE(text.WriteString(kProfileSection, "bobSetting", "0300000001000142FF"));
    EXPECT_FALSE(system.GetStruct(kProfileSection, "bobSetting", back, 8));

    ASSERT_TRUE(system.WriteString(kProfileSection, "annFolder", "D:\\data\\"));
    EXPECT_EQ("D:\\data\\", text.GetString(kProfileSection, "annFolder", "C:\\", kFolderValueMax));
    EXPECT_EQ("C:\\", system.GetString(kProfileSection, "nobodyFolder", "C:\\", kFolderValueMax));
    EXPECT_EQ(7, system.GetInt(kProfileSection, kDebugLevelKey, 7));
}

}  // namespace
