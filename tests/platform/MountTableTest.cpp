#include "platform/MountTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/BlockDevice.h"
#include "platform/LinuxVolumeProvider.h"

namespace orvale::platform {
namespace {

using Kind = VolumeKind;

TEST(MountTableTest, ParsesMountInfoLines) {
    const std::string text =
        "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw,discard\n"
        "40 28 8:17 / /srv/rec\\040one rw,noatime master:3 shared:7 - xfs /dev/sdb1 rw\n"
        "41 28 8:33 /sub /srv/bind rw - ext4 /dev/sdc1 ro,errors=remount-ro\n"
        "42 28 0:50 / /mnt/ro ro,nosuid - tmpfs tmpfs rw\n"
        "not a mount line\n"
        "43 28 x:y / /bad rw - ext4 /dev/sdd1 rw\n"
        "44 28 8:49 / /no/separator rw ext4 /dev/sdd1 rw\n";
    const auto mounts = ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 4U);

    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].fsType, "ext4");
    EXPECT_EQ(mounts[0].source, "/dev/vda");
    EXPECT_EQ(mounts[0].major, 254U);
    EXPECT_FALSE(mounts[0].readOnly);

    EXPECT_EQ(mounts[1].mountPoint, "/srv/rec one");
    EXPECT_EQ(mounts[1].fsType, "xfs");
    EXPECT_EQ(mounts[1].source, "/dev/sdb1");
    EXPECT_EQ(mounts[1].major, 8U);
    EXPECT_EQ(mounts[1].minor, 17U);

    EXPECT_EQ(mounts[2].root, "/sub");
    EXPECT_TRUE(mounts[2].readOnly);  // read-only superblock
    EXPECT_TRUE(mounts[3].readOnly);  // read-only mount
}

TEST(MountTableTest, FindsTheMountThatHoldsAFolder) {
    const auto mounts = ParseMountInfo(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "2 1 8:17 / /srv rw - ext4 /dev/sdb1 rw\n"
        "3 2 8:33 / /srv/rec rw - ext4 /dev/sdc1 rw\n"
        "4 2 8:49 / /srv/rec rw - ext4 /dev/sdd1 rw\n");
    EXPECT_EQ(MountOf(mounts, "/srv/rec/cam1")->source, "/dev/sdd1");  // the later mount hides
    EXPECT_EQ(MountOf(mounts, "/srv/record")->source, "/dev/sdb1");
    EXPECT_EQ(MountOf(mounts, "/srv")->source, "/dev/sdb1");
    EXPECT_EQ(MountOf(mounts, "/home")->source, "/dev/sda1");
    EXPECT_EQ(MountOf({}, "/home"), nullptr);
}

TEST(MountTableTest, DiscoveryLettersLocalWritableBlockFilesystemsInMountPointOrder) {
    const auto mounts = ParseMountInfo(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "2 1 0:5 / /proc rw - proc proc rw\n"
        "3 1 8:2 / /boot rw - ext4 /dev/sda2 rw\n"
        "4 3 8:3 / /boot/efi rw - vfat /dev/sda3 rw\n"
        "5 1 8:33 / /srv/zeta rw - xfs /dev/sdc1 rw\n"
        "6 1 8:17 / /srv/alpha rw - ext4 /dev/sdb1 rw\n"
        "7 1 8:49 / /srv/readonly ro - ext4 /dev/sdd1 rw\n"
        "8 1 0:40 / /srv/nfs rw - nfs4 server:/export rw\n"
        "9 1 0:41 / /srv/tmp rw - tmpfs tmpfs rw\n"
        "10 1 8:17 /cams /srv/bind rw - ext4 /dev/sdb1 rw\n"
        "11 1 8:17 / /srv/beta rw - ext4 /dev/sdb1 rw\n"
        "12 1 8:1 / /srv/rootagain rw - ext4 /dev/sda1 rw\n"
        "13 1 11:0 / /media/dvd rw - udf /dev/sr0 rw\n"
        "14 1 252:0 / /srv/zram rw - ext4 /dev/zram0 rw\n"
        "15 1 8:65 / /media/stick rw - vfat /dev/sde1 rw\n");
    const auto drives =
        DiscoverDrives(mounts, [](const MountEntry& mount) { return mount.source == "/dev/sde1"; });
    EXPECT_EQ(drives, (std::vector<DriveMapping>{
                          {'C', Kind::kFixed, "/"},
                          {'D', Kind::kCdrom, "/media/dvd"},
                          {'E', Kind::kRemovable, "/media/stick"},
                          {'F', Kind::kFixed, "/srv/alpha"},
                          {'G', Kind::kFixed, "/srv/zeta"},
                          {'H', Kind::kRamdisk, "/srv/zram"},
                      }));
}

TEST(MountTableTest, DiscoveryAlwaysNamesTheRootAndStopsAtZ) {
    EXPECT_EQ(DiscoverDrives({}, {}), (std::vector<DriveMapping>{{'C', Kind::kFixed, "/"}}));

    std::string text = "1 0 0:20 / / rw - overlay overlay rw\n";
    for (int i = 0; i < 30; ++i) {
        const std::string n = std::to_string(100 + i);
        text.append(n).append(" 1 8:").append(n).append(" / /srv/d").append(n);
        text.append(" rw - ext4 /dev/sd").append(n).append(" rw\n");
    }
    const auto drives = DiscoverDrives(ParseMountInfo(text), {});
    ASSERT_EQ(drives.size(), 24U);  // C, then D to Z
    EXPECT_EQ(drives.back().letter, 'Z');
    EXPECT_EQ(drives.back().root, "/srv/d122");
}

TEST(MountTableTest, BusTypesFromUdevAndSysfs) {
    const struct {
        const char* idBus;
        const char* idPath;
        const char* sysfs;
        uint32_t bus;
    } cases[] = {
        {"usb", "pci-0000:00:14.0-usb-0:2:1.0-scsi-0:0:0:0", "", kBusUsb},
        {"", "",
         "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-2/2-2:1.0/host4/target4:0:0/4:0:0:0/block/"
         "sdb",
         kBusUsb},
        {"ata", "pci-0000:00:17.0-ata-1", "", kBusSata},
        {"", "", "/sys/devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda",
         kBusSata},
        {"nvme", "", "", kBusNvme},
        {"", "", "/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1", kBusNvme},
        {"scsi", "pci-0000:02:00.0-sas-phy0-lun-0", "", kBusSas},
        {"", "",
         "/sys/devices/pci0000:00/0000:02:00.0/host0/port-0:0/end_device-0:0/target0:0:0/0:0:0:0/"
         "block/sdc",
         kBusSas},
        {"scsi", "ip-10.0.0.5:3260-iscsi-iqn.2004-01.com.example:disk-lun-0", "", kBusIscsi},
        {"", "", "/sys/devices/platform/host3/session1/target3:0:0/3:0:0:0/block/sdd", kBusIscsi},
        {"scsi", "", "", kBusScsi},
        {"", "", "/sys/devices/pci0000:00/0000:00:10.0/host2/target2:0:0/2:0:0:0/block/sde",
         kBusScsi},
        {"", "", "/sys/devices/pci0000:00/0000:00:02.0/virtio1/block/vda", kBusUnknown},
        {"", "", "/sys/devices/virtual/block/loop0", kBusUnknown},
        {"", "", "", kBusUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.idBus) + " | " + c.idPath + " | " + c.sysfs);
        EXPECT_EQ(BusTypeOf(c.idBus, c.idPath, c.sysfs), c.bus);
    }
}

TEST(MountTableTest, AFormerMountPointIsNoLongerPresent) {
    const RootIdentity missing{};
    const RootIdentity folder{true, false, 10};
    const RootIdentity mounted{true, true, 20};
    const RootIdentity remounted{true, true, 30};
    const struct {
        RootIdentity first;
        RootIdentity now;
        bool present = false;
    } cases[] = {
        {folder, folder, true},      // a plain folder stays present
        {folder, mounted, true},     // a disk mounted later over it
        {mounted, mounted, true},    // still mounted
        {mounted, remounted, true},  // another disk mounted there: still not the system disk
        {mounted, folder, false},    // the empty mount-point folder left behind
        {mounted, missing, false},  {folder, missing, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StillPresent(c.first, c.now), c.present)
            << c.first.mountPoint << " -> " << c.now.exists << c.now.mountPoint;
    }
}

}  // namespace
}  // namespace orvale::platform
