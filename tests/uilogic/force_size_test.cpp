// The Force Volume Size fields: sources, and the two number fields that follow
// each other through the master field.
#include <gtest/gtest.h>

#include "ui/logic/force_size_fields.h"

namespace {

struct Source {
    std::vector<int> asked;
    uint32_t answer[3] = {333215, 1000, 400000};
    std::string flagName = "DISC.flg";
    CForceSizeFields::SourceQuery Query()
    {
        return [this](int choice, std::string* detail) {
            asked.push_back(choice);
            if (choice == kSourceFlagFile) *detail = flagName;
            return answer[choice];
        };
    }
};

TEST(ForceSize, OpensWithTheDrivesValue)
{
    CForceSizeFields f(333215);
    EXPECT_EQ("333215", f.SectorsText());
    EXPECT_EQ("650", f.MegabytesText());
    EXPECT_EQ("Drive Reported", f.sourceText);
    EXPECT_EQ(MasterEdit::Sectors, f.master);
}

TEST(ForceSize, SourcesSetSectorsAndDetail)
{
    Source src;
    CForceSizeFields f(10);
    EXPECT_FALSE(f.ChooseSource(kSourceFlagFile, src.Query()));
    EXPECT_EQ(1000u, f.sectors);
    EXPECT_EQ("DISC.flg", f.detail);
    EXPECT_EQ("Existing Flagfile", f.sourceText);
    // The next source empties the detail again.
    EXPECT_FALSE(f.ChooseSource(kSourceEstimated, src.Query()));
    EXPECT_EQ(400000u, f.sectors);
    EXPECT_EQ("", f.detail);
    // "-- Free --" asks nothing and keeps the value and the detail.
    f.detail = "kept";
    EXPECT_TRUE(f.ChooseSource(kSourceFree, src.Query()));
    EXPECT_EQ(400000u, f.sectors);
    EXPECT_EQ("kept", f.detail);
    EXPECT_EQ("-- Free --", f.sourceText);
    EXPECT_EQ((std::vector<int>{1, 2}), src.asked);
}

TEST(ForceSize, TypingInEitherFieldUpdatesTheOther)
{
    Source src;
    CForceSizeFields f(333215);
    f.ChooseSource(kSourceFree, src.Query());
    f.FocusMegabytes();
    ASSERT_TRUE(f.MegabytesTextChanged("700"));
    EXPECT_EQ("358400", f.SectorsText());
    // The update that this causes in the sectors field is not the master's.
    EXPECT_FALSE(f.SectorsTextChanged("358400"));
    f.FocusSectors();
    ASSERT_TRUE(f.SectorsTextChanged("1234567"));
    EXPECT_EQ("2411", f.MegabytesText());
    EXPECT_FALSE(f.MegabytesTextChanged("2411"));
    EXPECT_EQ(1234567u, f.sectors);
    // A cleared master field is 0.
    ASSERT_TRUE(f.SectorsTextChanged(""));
    EXPECT_EQ("0", f.SectorsText());
    EXPECT_EQ("0", f.MegabytesText());
    // The largest megabytes the field holds.
    f.FocusMegabytes();
    f.MegabytesTextChanged("9999");
    EXPECT_EQ(5119488u, f.sectors);
}

TEST(ForceSize, ChoosingASourceAfterTypingMegabytesKeepsTheSourcesValue)
{
    // Given the megabytes field as master, the dialog's own update of that
    // field after a source choice must not round the source's value to whole MB.
    Source src;
    CForceSizeFields f(0);
    f.ChooseSource(kSourceFree, src.Query());
    f.FocusMegabytes();
    f.MegabytesTextChanged("700");
    f.ChooseSource(kSourceDriveReported, src.Query());
    // The dialog shows both fields; each update comes back as a text change.
    f.SectorsTextChanged(f.SectorsText());
    EXPECT_FALSE(f.MegabytesTextChanged(f.MegabytesText()));
    EXPECT_EQ(333215u, f.sectors);
}

TEST(ForceSize, FieldTextsParseAsTheFieldsAllow)
{
    EXPECT_EQ(0u, ParseSizeField(""));
    EXPECT_EQ(42u, ParseSizeField("42"));
    EXPECT_EQ(12u, ParseSizeField("12x5"));
    // Only the first 14 characters count; beyond 32 bits the value stays at the top.
    EXPECT_EQ(1u, ParseSizeField("000000000000015"));
    EXPECT_EQ(4294967295u, ParseSizeField("99999999999"));
}

}  // namespace
