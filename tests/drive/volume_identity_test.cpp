// Volume label, size estimate and the drive chosen at start-up.
#include <algorithm>
#include <string>

#include "drive/drive_fixture.h"
#include "drive/drive_list.h"

namespace {

class DiscTest : public DriveTest {
protected:
    DiscTest()
    {
        disc = &manager.Device(0, 0, 0);
        InitAndForget();
        drive.SelectDrive(0);
        manager.log.clear();
        fe.poster.Clear();
    }
    // The LBAs of the block reads sent, in order.
    std::vector<uint32_t> ReadLbas() const
    {
        std::vector<uint32_t> lbas;
        for (const auto& line : manager.log) {
            auto at = line.find(" 28 00 ");  // READ(10): the LBA's four bytes follow
            if (at == std::string::npos) continue;
            std::string hex = line.substr(at + 7, 11);
            hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
            lbas.push_back(uint32_t(std::stoul(hex, nullptr, 16)));
        }
        return lbas;
    }
    size_t LinesStartingWith(const std::string& prefix, bool withLength) const
    {
        auto lines = LogLines();
        return size_t(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.rfind(prefix, 0) == 0 && (l.find(", len ") != std::string::npos) == withLength;
        }));
    }
    FakeDevice* disc;
};

struct LabelCase {
    std::string volumeId;  // space padded to 32 on the disc
    const char* label;
};
void PrintTo(const LabelCase& c, std::ostream* os) { *os << '"' << c.volumeId << '"'; }

class LabelTest : public DiscTest, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(LabelTest, FirstWordOfTheVolumeIdentifier)
{
    disc->volumeId = GetParam().volumeId;
    EXPECT_TRUE(drive.ReadVolumeLabel());
    EXPECT_STREQ(GetParam().label, drive.VolumeLabel());
    EXPECT_EQ((std::vector<std::string>{At("0:0:0", kTur), At("0:0:0", "48 65536 28 00 00 00 00 10 00 00 01 00")}),
              manager.log);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, LabelTest,
    ::testing::Values(LabelCase{"BACKUP" + std::string(26, ' '), "BACKUP"},
                      LabelCase{" LEADING", "UNNAMED_VOLUME"}, LabelCase{std::string(32, ' '), "UNNAMED_VOLUME"},
                      LabelCase{"MY DISC", "MY"},
                      LabelCase{"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
                      LabelCase{"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
                      LabelCase{std::string("NUL\0AFTER", 9), "NUL"}, LabelCase{"TAB\tX", "TAB"},
                      LabelCase{"CR\rX", "CR"}, LabelCase{"VT\vX", "VT"}));

TEST_F(DiscTest, LabelWithoutDiscIsEmptyAndUnreadableDescriptorIsUnnamed)
{
    EXPECT_STREQ("UNNAMED_VOLUME", CCdDrive().VolumeLabel());
    disc->ready = false;
    EXPECT_FALSE(drive.ReadVolumeLabel());
    EXPECT_STREQ("", drive.VolumeLabel());
    EXPECT_EQ(0, manager.BlockReads());

    disc->ready = true;
    disc->unreadable.insert(16);
    EXPECT_FALSE(drive.ReadVolumeLabel());
    EXPECT_STREQ("UNNAMED_VOLUME", drive.VolumeLabel());
}

TEST_F(DriveTest, LabelWithoutDrivesSendsNothing)
{
    InitAndForget();
    EXPECT_FALSE(drive.ReadVolumeLabel());
    EXPECT_STREQ("", drive.VolumeLabel());
    EXPECT_EQ(0, manager.execCount);
    EXPECT_EQ(std::vector<std::string>{}, LogLines());  // not even a failed command
}

TEST_F(DiscTest, EstimateOfADiscReadableTo299999)
{
    disc->readableTo = 299999;
    disc->capacity[7] = 0x30;  // block length 0x830, to see the estimate reset it
    drive.DrvCap();
    fe.poster.Clear();
    manager.log.clear();

    EXPECT_EQ(299999u, drive.EstimateSize());
    EXPECT_EQ(299999u, drive.estimatedLastLba.load());
    EXPECT_EQ(2048u, drive.BlockLength());
    EXPECT_EQ(39, manager.BlockReads());
    auto lbas = ReadLbas();
    EXPECT_EQ(0, std::count(lbas.begin(), lbas.end(), 0u));
    EXPECT_EQ(524288u, lbas[19]);  // the probe's first failure
    EXPECT_EQ(19u, LinesStartingWith("top ", false));
    EXPECT_EQ(19u, LinesStartingWith("lba ", false));
    auto lines = LogLines();
    EXPECT_EQ("top 1", lines[1]);
    EXPECT_EQ("lba 299999", lines.back());
    EXPECT_EQ("lba 299999", lines[lines.size() - 3]);  // the last round reads the result again
}

TEST_F(DiscTest, EstimateWhenSectorOneDoesNotRead)
{
    disc->readableTo = 0;
    EXPECT_EQ(0u, drive.EstimateSize());
    EXPECT_EQ(std::vector<uint32_t>{1}, ReadLbas());
    EXPECT_EQ(0u, LinesStartingWith("lba ", false));
    EXPECT_EQ(0u, drive.estimatedLastLba.load());
}

TEST_F(DiscTest, EstimateOfADiscReadableThroughSectorOneOnly)
{
    disc->readableTo = 1;
    EXPECT_EQ(1u, drive.EstimateSize());
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 1}), ReadLbas());
    EXPECT_EQ((std::vector<std::string>{"lba 1, len 1 OK", "top 1", "SCSI DrvBlkRead 4", "lba 2, len 1 RdErr",
                                        "lba 1, len 1 OK", "lba 1"}),
              LogLines());
}

TEST_F(DiscTest, EstimateFindsTheLastReadableSectorOfAnyRun)
{
    for (uint32_t last : {2u, 3u, 4u, 5u, 1000u, 65535u, 65536u, 286719u, 2295103u, 0x7FFFFFFFu}) {
        disc->readableTo = last;
        EXPECT_EQ(last, drive.EstimateSize()) << last;
    }
    // Every power of two reads: the doubling wraps and the estimate gives 0.
    disc->readableTo = 0xFFFFFFFF;
    EXPECT_EQ(0u, drive.EstimateSize());
}

TEST_F(DriveTest, PreselectionTakesTheLastReadyDriveElseTheFirst)
{
    FakeDevice& first = manager.Device(0, 0, 0);
    FakeDevice& second = manager.Device(0, 1, 0);
    first.product = "FIRST";
    second.product = "SECOND";
    InitAndForget();
    std::vector<std::string> names;
    auto add = [&](const char* name) { names.push_back(name); };

    EXPECT_EQ(1, PreselectDrive(drive, add));
    EXPECT_EQ((std::vector<std::string>{"VENDOR  FIRST", "VENDOR  SECOND"}), names);
    EXPECT_EQ((std::vector<std::string>{"timeout 0:0:0 10 30", At("0:0:0", kTur), At("0:0:0", kTur),
                                        At("0:0:0", kCapacity), At("0:0:0", kTur), "timeout 0:1:0 10 30",
                                        At("0:1:0", kTur), At("0:1:0", kTur), At("0:1:0", kCapacity),
                                        At("0:1:0", kTur)}),
              manager.log);

    first.ready = second.ready = false;
    EXPECT_EQ(0, PreselectDrive(drive, add));
}

TEST_F(DriveTest, PreselectionOfThreeDrivesTakesTheLastReadyOne)
{
    FakeDevice* d[3] = {&manager.Device(0, 0, 0), &manager.Device(0, 1, 0), &manager.Device(0, 2, 0)};
    InitAndForget();
    struct Case {
        bool ready[3];
        int chosen;
    };
    for (const Case& c : {Case{{true, true, true}, 2}, Case{{true, true, false}, 1}, Case{{false, true, false}, 1},
                          Case{{true, false, false}, 0}, Case{{false, false, false}, 0}}) {
        for (int i = 0; i < 3; ++i) d[i]->ready = c.ready[i];
        EXPECT_EQ(c.chosen, PreselectDrive(drive, nullptr))
            << c.ready[0] << c.ready[1] << c.ready[2];
    }
}

TEST_F(DriveTest, PreselectionWithoutDrivesListsNothing)
{
    InitAndForget();
    int calls = 0;
    EXPECT_EQ(0, PreselectDrive(drive, [&](const char*) { ++calls; }));
    EXPECT_EQ(0, calls);
}

}  // namespace
