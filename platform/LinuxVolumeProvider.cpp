#include "platform/LinuxVolumeProvider.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "platform/BlockDevice.h"
#include "platform/HostFolder.h"
#include "platform/MountTable.h"

namespace orvale::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDrivesVariable = "OSTREL_DRIVES";
constexpr const char* kIniFileName = "ostrel.ini";

std::optional<std::string> ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces the file whole, so that a reader never sees half of it.
void WriteText(const std::string& path, const std::string& text) {
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) fs::remove(temporary, error);
}

std::string ReadMountInfo() {
    return ReadText("/proc/self/mountinfo").value_or(std::string());
}

std::string IniPath() {
    const std::string host = HostFolder();
    if (host.empty()) return {};
    return host == "/" ? std::string("/") + kIniFileName : host + "/" + kIniFileName;
}

}  // namespace

RootIdentity IdentifyRoot(const std::string& root) {
    RootIdentity identity;
    struct stat self {};
    if (::stat(root.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return identity;
    identity.exists = true;
    identity.device = self.st_dev;
    struct stat parent {};
    const std::string up = root == "/" ? root : root + "/..";
    identity.mountPoint =
        root == "/" || ::stat(up.c_str(), &parent) != 0 || parent.st_dev != self.st_dev;
    return identity;
}

bool StillPresent(const RootIdentity& first, const RootIdentity& now) {
    return now.exists && !(first.mountPoint && !now.mountPoint);
}

LinuxVolumeProvider::LinuxVolumeProvider(TextSource mountTable)
    : mountTable_(mountTable ? std::move(mountTable) : TextSource(ReadMountInfo)) {}

std::vector<DriveMapping> LinuxVolumeProvider::Mapping() {
    if (const char* list = std::getenv(kDrivesVariable); list != nullptr && *list != '\0') {
        return ParseDriveList(list);
    }
    const std::string iniPath = IniPath();
    if (!iniPath.empty()) {
        if (auto drives = ParseIniDrives(ReadText(iniPath).value_or(std::string()))) {
            return std::move(*drives);
        }
    }
    return Discover(iniPath);
}

std::vector<DriveMapping> LinuxVolumeProvider::Discover(const std::string& iniPath) {
    auto drives = DiscoverDrives(ParseMountInfo(mountTable_()), [](const MountEntry& mount) {
        return ProbeMount(mount).removable;
    });
    if (iniPath.empty()) return drives;
    std::lock_guard lock(mutex_);
    // Another thread may have recorded its discovery meanwhile; that one holds.
    const std::string text = ReadText(iniPath).value_or(std::string());
    if (auto recorded = ParseIniDrives(text)) return std::move(*recorded);
    WriteText(iniPath, WithIniDrives(text, drives));
    return drives;
}

std::optional<DriveMapping> LinuxVolumeProvider::Find(char letter) {
    for (auto& mapping : Mapping()) {
        if (mapping.letter == letter) return std::move(mapping);
    }
    return std::nullopt;
}

bool LinuxVolumeProvider::Present(const DriveMapping& mapping) {
    const RootIdentity now = IdentifyRoot(mapping.root);
    if (!now.exists) return false;
    std::lock_guard lock(mutex_);
    auto [seen, first] = firstSeen_.try_emplace(mapping.letter, Sighting{mapping.root, now});
    if (!first && seen->second.root != mapping.root) seen->second = Sighting{mapping.root, now};
    return StillPresent(seen->second.identity, now);
}

std::vector<VolumeInfo> LinuxVolumeProvider::ListVolumes() {
    const auto mounts = ParseMountInfo(mountTable_());
    std::vector<VolumeInfo> volumes;
    for (const auto& mapping : Mapping()) {
        if (!Present(mapping)) continue;
        VolumeInfo info;
        info.letter = mapping.letter;
        info.root = mapping.root;
        info.kind = mapping.kind;
        info.busType = ProbeFolder(mapping.root, mounts).busType;
        info.systemDisk = mapping.root == "/";
        volumes.push_back(std::move(info));
    }
    return volumes;
}

std::string LinuxVolumeProvider::RootFolder(char letter) {
    const auto mapping = Find(letter);
    return mapping ? mapping->root : std::string();
}

bool LinuxVolumeProvider::IsPresent(char letter) {
    const auto mapping = Find(letter);
    return mapping && Present(*mapping);
}

int LinuxVolumeProvider::GetSpace(char letter, VolumeSpace& space) {
    const auto mapping = Find(letter);
    if (!mapping || !Present(*mapping)) return ENODEV;
    struct statvfs figures {};
    if (::statvfs(mapping->root.c_str(), &figures) != 0) return errno;
    space.total = static_cast<uint64_t>(figures.f_blocks) * figures.f_frsize;
    space.available = static_cast<uint64_t>(figures.f_bavail) * figures.f_frsize;
    space.free = static_cast<uint64_t>(figures.f_bfree) * figures.f_frsize;
    return 0;
}

}  // namespace orvale::platform
