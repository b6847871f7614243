#include "platform/BlockDevice.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

namespace orvale::platform {
namespace {

namespace fs = std::filesystem;

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The value of property `key` in a udev database file ("E:ID_BUS=usb").
std::string UdevProperty(const std::string& database, std::string_view key) {
    const std::string prefix = "E:" + std::string(key) + "=";
    std::ifstream in(database);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    }
    return {};
}

}  // namespace

uint32_t BusTypeOf(std::string_view idBus, std::string_view idPath, std::string_view sysfsPath) {
    // iSCSI and USB disks are SCSI disks too, and SAS disks show the SCSI
    // target in their path: the specific buses are tested first.
    if (Contains(idPath, "-iscsi-") || Contains(sysfsPath, "/session")) return kBusIscsi;
    if (idBus == "usb" || Contains(sysfsPath, "/usb")) return kBusUsb;
    if (idBus == "nvme" || Contains(sysfsPath, "/nvme")) return kBusNvme;
    if (Contains(idPath, "-sas-") || Contains(sysfsPath, "/end_device-")) return kBusSas;
    if (idBus == "ata" || Contains(sysfsPath, "/ata")) return kBusSata;
    if (idBus == "scsi" || Contains(sysfsPath, "/target")) return kBusScsi;
    return kBusUnknown;
}

BlockDeviceFacts ProbeBlockDevice(unsigned major, unsigned minor) {
    const std::string number = std::to_string(major) + ":" + std::to_string(minor);
    std::error_code error;
    const fs::path device = fs::canonical(fs::path("/sys/dev/block") / number, error);
    const std::string database = "/run/udev/data/b" + number;
    BlockDeviceFacts facts;
    if (!error) {
        const fs::path disk =
            fs::exists(device / "partition", error) ? device.parent_path() : device;
        facts.removable = FirstLine(disk / "removable") == "1";
    }
    facts.busType = BusTypeOf(UdevProperty(database, "ID_BUS"), UdevProperty(database, "ID_PATH"),
                              error ? std::string() : device.string());
    return facts;
}

BlockDeviceFacts ProbeMount(const MountEntry& mount) {
    unsigned major = mount.major;
    unsigned minor = mount.minor;
    // Some filesystems (btrfs) report an anonymous device number; the source
    // names the real one.
    struct stat source {};
    if (mount.source.compare(0, 5, "/dev/") == 0 && ::stat(mount.source.c_str(), &source) == 0 &&
        S_ISBLK(source.st_mode)) {
        major = ::major(source.st_rdev);
        minor = ::minor(source.st_rdev);
    }
    if (major == 0) return {};  // tmpfs, overlay and other filesystems without a device
    return ProbeBlockDevice(major, minor);
}

BlockDeviceFacts ProbeFolder(const std::string& folder, const std::vector<MountEntry>& mounts) {
    std::error_code error;
    const std::string resolved = fs::weakly_canonical(folder, error).string();
    if (const MountEntry* mount = MountOf(mounts, error ? folder : resolved)) {
        return ProbeMount(*mount);
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || ::major(status.st_dev) == 0) return {};
    return ProbeBlockDevice(::major(status.st_dev), ::minor(status.st_dev));
}

}  // namespace orvale::platform
