#include "platform/MountTable.h"

#include <charconv>
#include <map>
#include <set>
#include <utility>

namespace orvale::platform {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return parts;
        text.remove_prefix(end + 1);
    }
}

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// The kernel writes space, tab, newline and backslash in paths as "\ooo".
std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && IsOctal(text[i + 1]) &&
            IsOctal(text[i + 2]) && IsOctal(text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ParseDevice(std::string_view text, unsigned& major, unsigned& minor) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const auto parse = [](std::string_view digits, unsigned& value) {
        const auto* end = digits.data() + digits.size();
        const auto result = std::from_chars(digits.data(), end, value);
        return !digits.empty() && result.ec == std::errc() && result.ptr == end;
    };
    return parse(text.substr(0, colon), major) && parse(text.substr(colon + 1), minor);
}

bool HasReadOnly(std::string_view options) {
    for (const auto option : Split(options, ',')) {
        if (option == "ro") return true;
    }
    return false;
}

bool Under(const std::string& folder, const std::string& mountPoint) {
    if (mountPoint == "/") return !folder.empty() && folder.front() == '/';
    return folder == mountPoint || (folder.size() > mountPoint.size() &&
                                    folder.compare(0, mountPoint.size(), mountPoint) == 0 &&
                                    folder[mountPoint.size()] == '/');
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// A local, writable filesystem of its own on a block device, outside /boot.
bool Discoverable(const MountEntry& mount, const std::string& point) {
    return StartsWith(mount.source, "/dev/") && !mount.readOnly && mount.root == "/" &&
           point != "/boot" && !StartsWith(point, "/boot/");
}

VolumeKind KindOf(const MountEntry& mount, const RemovableProbe& isRemovable) {
    if (mount.fsType == "iso9660" || mount.fsType == "udf") return VolumeKind::kCdrom;
    if (StartsWith(mount.source, "/dev/ram") || StartsWith(mount.source, "/dev/zram")) {
        return VolumeKind::kRamdisk;
    }
    if (isRemovable && isRemovable(mount)) return VolumeKind::kRemovable;
    return VolumeKind::kFixed;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    for (auto line : Split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto fields = Split(line, ' ');
        // id parent major:minor root point options [optional...] - type source [super]
        size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-") ++separator;
        if (separator + 2 >= fields.size()) continue;
        MountEntry mount;
        if (!ParseDevice(fields[2], mount.major, mount.minor)) continue;
        mount.root = Unescape(fields[3]);
        mount.mountPoint = Unescape(fields[4]);
        mount.fsType = Unescape(fields[separator + 1]);
        mount.source = Unescape(fields[separator + 2]);
        const bool superReadOnly =
            separator + 3 < fields.size() && HasReadOnly(fields[separator + 3]);
        mount.readOnly = HasReadOnly(fields[5]) || superReadOnly;
        if (mount.mountPoint.empty() || mount.mountPoint.front() != '/') continue;
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

const MountEntry* MountOf(const std::vector<MountEntry>& mounts, const std::string& folder) {
    const MountEntry* best = nullptr;
    for (const auto& mount : mounts) {
        if (!Under(folder, mount.mountPoint)) continue;
        if (best == nullptr || mount.mountPoint.size() >= best->mountPoint.size()) best = &mount;
    }
    return best;
}

std::vector<DriveMapping> DiscoverDrives(const std::vector<MountEntry>& mounts,
                                         const RemovableProbe& isRemovable) {
    // A later mount on the same point hides the earlier one.
    std::map<std::string, const MountEntry*> visible;
    for (const auto& mount : mounts) {
        const std::string point = NormalRoot(mount.mountPoint);
        if (!point.empty()) visible[point] = &mount;
    }
    std::vector<DriveMapping> drives = {{'C', VolumeKind::kFixed, "/"}};
    std::set<std::pair<unsigned, unsigned>> devices;
    if (const auto root = visible.find("/"); root != visible.end()) {
        devices.emplace(root->second->major, root->second->minor);
    }
    char letter = 'D';
    for (const auto& [point, mount] : visible) {
        if (letter > 'Z') break;
        if (point == "/" || !Discoverable(*mount, point)) continue;
        if (!devices.emplace(mount->major, mount->minor).second) continue;
        drives.push_back({letter++, KindOf(*mount, isRemovable), point});
    }
    return drives;
}

}  // namespace orvale::platform
