// How the SG_IO manager finds devices and gives them ASPI addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "aspi/sgio/sgio_aspi.h"
#include "sgio/fake_sg_system.h"

using namespace sgio;

namespace {

struct Found {
    int adapter, target, lun, type;
    std::string path;
    bool operator==(const Found&) const = default;
};

std::vector<Found> Addresses(CSgioAspi& manager)
{
    std::vector<Found> out;
    for (const SgDevice& d : manager.Devices()) out.push_back({d.adapter, d.target, d.lun, d.type, d.path});
    return out;
}

aspi::SRB_GDEVBlock DeviceType(CSgioAspi& manager, uint8_t ha, uint8_t target, uint8_t lun)
{
    aspi::SRB_GDEVBlock srb{};
    srb.SRB_Cmd = aspi::SC_GET_DEV_TYPE;
    srb.SRB_HaId = ha;
    srb.SRB_Target = target;
    srb.SRB_Lun = lun;
    manager.SendASPI32Command(&srb);
    return srb;
}

aspi::SRB_HAInquiry Inquire(CSgioAspi& manager, uint8_t ha)
{
    aspi::SRB_HAInquiry srb{};
    srb.SRB_Cmd = aspi::SC_HA_INQUIRY;
    srb.SRB_HaId = ha;
    manager.SendASPI32Command(&srb);
    return srb;
}

std::string Text16(const uint8_t (&field)[16])
{
    return std::string(reinterpret_cast<const char*>(field), strnlen(reinterpret_cast<const char*>(field), 16));
}

}  // namespace

TEST(SgioScan, ParsesSysfsAddressNames)
{
    ScsiAddress a;
    ASSERT_TRUE(ParseScsiAddress("2:0:11:3", &a));
    EXPECT_EQ((ScsiAddress{2, 0, 11, 3}), a);
    for (const char* bad : {"2:0:1", "2:0:1:", "a:0:0:0", "1:2:3:4:5", "1::3:4", "-1:0:0:0", "99999999999:0:0:0", ""})
        EXPECT_FALSE(ParseScsiAddress(bad, &a)) << bad;
}

// Given devices on Linux hosts 2 and 5 only, then they are adapters 0 and 1,
// so the scan over 0..count-1 reaches both.
TEST(SgioScan, NumbersSparseHostsDenselyInHostOrder)
{
    CFakeSgSystem os;
    os.AddSg("sg3", 5, 0, 0, 0);
    os.AddSg("sg0", 2, 0, 1, 0, 0);  // a hard disk: listed with its own type
    os.AddSg("sg1", 2, 0, 3, 2);
    os.dev.push_back("sda");
    os.dev.push_back("sgx");
    os.texts["/sys/class/scsi_host/host2/proc_name"] = "virtio_scsi\n";
    CSgioAspi manager(os);

    EXPECT_EQ(0x0102u, manager.GetASPI32SupportInfo());
    EXPECT_EQ((std::vector<Found>{{0, 1, 0, 0, "/dev/sg0"}, {0, 3, 2, 5, "/dev/sg1"}, {1, 0, 0, 5, "/dev/sg3"}}),
              Addresses(manager));
    // The scan closed every node it opened.
    EXPECT_EQ(3, os.closes);
    EXPECT_TRUE(os.fds.empty());

    auto hd = DeviceType(manager, 0, 1, 0);
    EXPECT_EQ(aspi::SS_COMP, hd.SRB_Status);
    EXPECT_EQ(0, hd.SRB_DeviceType);
    auto cd = DeviceType(manager, 1, 0, 0);
    EXPECT_EQ(aspi::SS_COMP, cd.SRB_Status);
    EXPECT_EQ(aspi::DTYPE_CDROM, cd.SRB_DeviceType);
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(manager, 0, 0, 0).SRB_Status);
    EXPECT_EQ(aspi::SS_INVALID_HA, DeviceType(manager, 2, 0, 0).SRB_Status);

    auto ha0 = Inquire(manager, 0);
    EXPECT_EQ(aspi::SS_COMP, ha0.SRB_Status);
    EXPECT_EQ(2, ha0.HA_Count);
    EXPECT_EQ(kManagerId, Text16(ha0.HA_ManagerId));
    EXPECT_EQ("virtio_scsi", Text16(ha0.HA_Identifier));
    auto ha1 = Inquire(manager, 1);  // host 5 has no proc_name
    EXPECT_EQ(aspi::SS_COMP, ha1.SRB_Status);
    EXPECT_EQ("", Text16(ha1.HA_Identifier));
    EXPECT_EQ(aspi::SS_INVALID_HA, Inquire(manager, 2).SRB_Status);
}

TEST(SgioScan, LongAdapterIdentifierIsCutAt16)
{
    CFakeSgSystem os;
    os.AddSg("sg0", 0, 0, 0, 0);
    os.texts["/sys/class/scsi_host/host0/proc_name"] = "a_driver_with_a_long_name\n";
    CSgioAspi manager(os);
    auto ha = Inquire(manager, 0);
    EXPECT_EQ(0, std::memcmp(ha.HA_Identifier, "a_driver_with_a_", 16));
}

// target = channel * 8 + id: channel 1 and SCSI ids or LUNs of 8 and more fall
// outside the 0..7 scan and are not reported; a host left without devices
// gets no adapter number.
TEST(SgioScan, FoldsChannelIntoTargetAndDropsWhatTheScanCannotReach)
{
    CFakeSgSystem os;
    os.AddSg("sg0", 0, 1, 0, 0);   // channel 1 -> target 8
    os.AddSg("sg1", 1, 0, 10, 0);  // SCSI id 10
    os.AddSg("sg2", 1, 0, 2, 8);   // LUN 8
    os.AddSg("sg3", 4, 0, 7, 7);
    CSgioAspi manager(os);
    EXPECT_EQ(0x0101u, manager.GetASPI32SupportInfo());
    EXPECT_EQ((std::vector<Found>{{0, 7, 7, 5, "/dev/sg3"}}), Addresses(manager));
}

TEST(SgioScan, NoDevicesMeansNoAdaptersNotAMissingManager)
{
    CFakeSgSystem os;
    CSgioAspi manager(os);
    EXPECT_EQ(0x0100u, manager.GetASPI32SupportInfo());
    EXPECT_EQ(aspi::SS_INVALID_HA, Inquire(manager, 0).SRB_Status);
}

// Without sg nodes (or with one that does not open) the address of a CD block
// node comes from the sysfs device it links to; a device that has a working
// sg node is not listed twice.
TEST(SgioScan, FallsBackToSrNodesThroughSysfs)
{
    CFakeSgSystem os;
    os.AddSr("sr0", "3:0:1:0");
    os.AddSr("sr1", "0:0:0:0");
    os.AddSg("sg0", 0, 0, 0, 0);
    os.AddSg("sg5", 6, 0, 2, 0);
    os.nodes["/dev/sg5"].opens = false;  // no permission on the sg node
    os.AddSr("sr2", "6:0:2:0");
    os.AddSr("sr3", "garbage");
    os.AddSr("sr4", "7:0:0:0");
    os.texts["/sys/class/block/sr4/device/type"] = "0\n";
    os.dev.push_back("sr9");  // no sysfs entry at all
    CSgioAspi manager(os);
    EXPECT_EQ(0x0104u, manager.GetASPI32SupportInfo());
    EXPECT_EQ((std::vector<Found>{{0, 0, 0, 5, "/dev/sg0"},
                                  {1, 1, 0, 5, "/dev/sr0"},
                                  {2, 2, 0, 5, "/dev/sr2"},
                                  {3, 0, 0, 0, "/dev/sr4"}}),
              Addresses(manager));
}

TEST(SgioScan, ScansOnceForTheWholeRun)
{
    CFakeSgSystem os;
    os.AddSg("sg0", 0, 0, 0, 0);
    CSgioAspi manager(os);
    manager.GetASPI32SupportInfo();
    os.AddSg("sg1", 0, 0, 1, 0);
    EXPECT_EQ(0x0101u, manager.GetASPI32SupportInfo());
    EXPECT_EQ(aspi::SS_NO_DEVICE, DeviceType(manager, 0, 1, 0).SRB_Status);
}

// Given a USB drive that drops out and comes back under another sg node and
// host, then a rescan request finds it at its new ASPI address, closes the
// dead node, and keeps the time-out of the device that stayed.
TEST(SgioScan, RescanFollowsADriveThatComesBackUnderAnotherNode)
{
    CFakeSgSystem os;
    os.AddSg("sg0", 0, 0, 1, 0);
    os.AddSg("sg1", 2, 0, 0, 0);
    CSgioAspi manager(os);
    ASSERT_EQ(0x0102u, manager.GetASPI32SupportInfo());
    aspi::SRB_GetSetTimeouts timeout{};
    timeout.SRB_Cmd = aspi::SC_GETSET_TIMEOUTS;
    timeout.SRB_Flags = aspi::SRB_DIR_OUT;
    timeout.SRB_HaId = timeout.SRB_Target = timeout.SRB_Lun = kAspiWildcard;
    timeout.SRB_Timeout = 30;
    ASSERT_EQ(aspi::SS_COMP, manager.SendASPI32Command(&timeout));
    aspi::SRB_ExecSCSICmd ready{};
    ready.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    ready.SRB_HaId = 1;
    ready.SRB_CDBLen = 6;
    ASSERT_EQ(aspi::SS_COMP, manager.SendASPI32Command(&ready));  // opens sg1

    os.dev.erase(std::find(os.dev.begin(), os.dev.end(), "sg1"));
    os.nodes.erase("/dev/sg1");
    os.AddSg("sg2", 6, 0, 0, 0);
    aspi::SRB_Header rescan{};
    rescan.SRB_Cmd = aspi::SC_RESCAN_SCSI_BUS;
    EXPECT_EQ(aspi::SS_COMP, manager.SendASPI32Command(&rescan));
    EXPECT_EQ((std::vector<Found>{{0, 1, 0, 5, "/dev/sg0"}, {1, 0, 0, 5, "/dev/sg2"}}), Addresses(manager));
    EXPECT_TRUE(os.fds.empty());
    std::vector<SgDevice> devices = manager.Devices();
    EXPECT_EQ(30u, devices[0].timeoutHalfSeconds);
    EXPECT_EQ(kDefaultTimeoutHalfSeconds, devices[1].timeoutHalfSeconds);
}
