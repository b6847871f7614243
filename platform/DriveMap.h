// The written forms of the letter-to-folder map: the OSTREL_DRIVES variable
// ("D=/srv/rec1;E=removable:/media/usb") and the [drives] section of
// ostrel.ini ("D = /srv/rec1"). A target may carry a kind before its folder
// ("removable:", "remote:", "cdrom:", "ramdisk:"); without one the volume is
// fixed. Folders must be absolute; they are kept in normal form without a
// trailing '/'.
//
// Entries that do not parse (not a single letter, an unknown kind, a relative
// or empty folder) are skipped, and a letter given twice keeps its first
// folder, so one bad line never moves the other letters. Results are in
// letter order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/VolumeProvider.h"

namespace orvale::platform {

struct DriveMapping {
    char letter = 0;
    VolumeKind kind = VolumeKind::kFixed;
    std::string root;

    bool operator==(const DriveMapping&) const = default;
};

// Entries of the OSTREL_DRIVES form, separated by ';'.
std::vector<DriveMapping> ParseDriveList(std::string_view text);

// The entries of the [drives] section of an INI text (section names compare
// without regard to case); nullopt when the text has no such section.
std::optional<std::vector<DriveMapping>> ParseIniDrives(std::string_view text);

// `text` with its [drives] section replaced by `drives`, or with the section
// appended when it has none. Every other line is kept as it stands.
std::string WithIniDrives(std::string_view text, const std::vector<DriveMapping>& drives);

// A root folder in normal form ("/srv/rec1/" -> "/srv/rec1"); empty when the
// folder is not absolute.
std::string NormalRoot(std::string_view folder);

}  // namespace orvale::platform
