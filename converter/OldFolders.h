// Finding old recordings: the date folders `<root>/ZERoza/<channel>/<date>`
// of a drive, and the files of one date folder. Each date folder carries the
// drive letter and the channel name it was found under, so nothing is ever
// parsed back out of its path. Listings are sorted by name, so the order is
// the same on every filesystem; symbolic links are never followed.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace orvale::converter {

inline constexpr char kOldRecordFolder[] = "ZERoza";

struct date_folder_s {
    char drive = 0;       // the drive letter the folder was found on
    std::string channel;  // the channel folder's name
    std::string date;     // the date folder's name, taken as it stands
    std::filesystem::path path;

    std::filesystem::path ChannelPath() const { return path.parent_path(); }
};

// The date folders under `driveRoot`/ZERoza, by channel and then date. A
// drive without the folder has none (no error); a folder that cannot be
// listed sets `error` and yields what was found before it.
std::vector<date_folder_s> ListDateFolders(char drive, const std::filesystem::path& driveRoot,
                                           std::error_code& error);

enum class OldFileKind { kMedia, kMetadata, kOther };

// ".nmt" anywhere in the name makes a metadata file, else ".nmd" or ".nmb"
// anywhere a media file. Case does not matter: a copy from a volume that
// ignores case may name a recording "0002_20240315110000.NMD".
OldFileKind ClassifyOldFile(const std::string& name);

// The regular files of a date folder (no links, no "Thumbs.db"), by name.
std::vector<std::filesystem::path> ListDateFiles(const std::filesystem::path& folder,
                                                 std::error_code& error);

}  // namespace orvale::converter
