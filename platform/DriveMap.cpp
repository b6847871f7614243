#include "platform/DriveMap.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <utility>

namespace orvale::platform {
namespace {

constexpr std::string_view kDrivesSection = "drives";

struct KindName {
    VolumeKind kind;
    std::string_view name;
};

constexpr std::array<KindName, 4> kKindNames = {{
    {VolumeKind::kRemovable, "removable"},
    {VolumeKind::kRemote, "remote"},
    {VolumeKind::kCdrom, "cdrom"},
    {VolumeKind::kRamdisk, "ramdisk"},
}};

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<char> ParseLetter(std::string_view key) {
    key = Trim(key);
    if (key.size() != 1 || std::isalpha(static_cast<unsigned char>(key[0])) == 0) {
        return std::nullopt;
    }
    return static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
}

// "removable:/media/usb" or "/srv/rec1".
std::optional<DriveMapping> ParseTarget(char letter, std::string_view target) {
    target = Trim(target);
    DriveMapping mapping;
    mapping.letter = letter;
    if (!target.empty() && target.front() != '/') {
        const auto colon = target.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        const std::string kind = Lower(Trim(target.substr(0, colon)));
        const auto known = std::find_if(kKindNames.begin(), kKindNames.end(),
                                        [&](const KindName& k) { return k.name == kind; });
        if (known == kKindNames.end()) return std::nullopt;
        mapping.kind = known->kind;
        target = Trim(target.substr(colon + 1));
    }
    mapping.root = NormalRoot(target);
    if (mapping.root.empty()) return std::nullopt;
    return mapping;
}

std::optional<DriveMapping> ParseEntry(std::string_view entry) {
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const auto letter = ParseLetter(entry.substr(0, equals));
    if (!letter) return std::nullopt;
    return ParseTarget(*letter, entry.substr(equals + 1));
}

// Adds `mapping` unless its letter is taken already.
void AddFirst(std::vector<DriveMapping>& drives, DriveMapping mapping) {
    const bool taken = std::any_of(drives.begin(), drives.end(), [&](const DriveMapping& d) {
        return d.letter == mapping.letter;
    });
    if (!taken) drives.push_back(std::move(mapping));
}

void SortByLetter(std::vector<DriveMapping>& drives) {
    std::sort(drives.begin(), drives.end(),
              [](const DriveMapping& a, const DriveMapping& b) { return a.letter < b.letter; });
}

std::string TargetText(const DriveMapping& mapping) {
    for (const auto& k : kKindNames) {
        if (k.kind == mapping.kind) return std::string(k.name) + ":" + mapping.root;
    }
    return mapping.root;
}

// Splits `text` into lines that keep their line ends.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto length = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return lines;
}

// The lower-case name of a section header line, nullopt for other lines.
std::optional<std::string> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
    return Lower(Trim(line.substr(1, line.size() - 2)));
}

bool IsComment(std::string_view line) {
    line = Trim(line);
    return line.empty() || line.front() == ';' || line.front() == '#';
}

}  // namespace

std::string NormalRoot(std::string_view folder) {
    folder = Trim(folder);
    if (folder.empty() || folder.front() != '/') return {};
    std::string root = std::filesystem::path(folder).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

std::vector<DriveMapping> ParseDriveList(std::string_view text) {
    std::vector<DriveMapping> drives;
    while (!text.empty()) {
        const auto end = text.find(';');
        const auto entry = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (auto mapping = ParseEntry(entry)) AddFirst(drives, std::move(*mapping));
    }
    SortByLetter(drives);
    return drives;
}

std::optional<std::vector<DriveMapping>> ParseIniDrives(std::string_view text) {
    std::optional<std::vector<DriveMapping>> drives;
    bool inside = false;
    for (const auto line : Lines(text)) {
        if (const auto section = SectionName(line)) {
            inside = *section == kDrivesSection;
            if (inside && !drives) drives.emplace();
            continue;
        }
        if (!inside || IsComment(line)) continue;
        if (auto mapping = ParseEntry(line)) AddFirst(*drives, std::move(*mapping));
    }
    if (drives) SortByLetter(*drives);
    return drives;
}

std::string WithIniDrives(std::string_view text, const std::vector<DriveMapping>& drives) {
    std::string section = "[drives]\n";
    for (const auto& mapping : drives) {
        section += std::string(1, mapping.letter) + " = " + TargetText(mapping) + "\n";
    }
    std::string out;
    bool inside = false;
    bool written = false;
    for (const auto line : Lines(text)) {
        if (const auto name = SectionName(line)) {
            inside = *name == kDrivesSection;
            if (inside && !written) {
                out += section;
                written = true;
            }
        }
        if (!inside) out += line;
    }
    if (!written) {
        if (!out.empty() && out.back() != '\n') out += '\n';
        out += section;
    }
    return out;
}

}  // namespace orvale::platform
