#include "converter/OldFolders.h"

#include <algorithm>
#include <cctype>

namespace orvale::converter {
namespace fs = std::filesystem;
namespace {

// Entries of `folder` of the given type (never through a link), sorted.
std::vector<fs::path> EntriesOf(const fs::path& folder, fs::file_type type,
                                std::error_code& error) {
    std::vector<fs::path> found;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code statusError;
        if (it->symlink_status(statusError).type() == type && !statusError) {
            found.push_back(it->path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::vector<date_folder_s> ListDateFolders(char drive, const fs::path& driveRoot,
                                           std::error_code& error) {
    error.clear();
    std::vector<date_folder_s> folders;
    const fs::path root = driveRoot / kOldRecordFolder;
    std::error_code rootError;
    if (fs::symlink_status(root, rootError).type() != fs::file_type::directory) return folders;
    const std::vector<fs::path> channels = EntriesOf(root, fs::file_type::directory, error);
    for (const fs::path& channel : channels) {
        if (error) break;
        for (const fs::path& date : EntriesOf(channel, fs::file_type::directory, error)) {
            folders.push_back({drive, channel.filename().string(), date.filename().string(), date});
        }
    }
    return folders;
}

OldFileKind ClassifyOldFile(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find(".nmt") != std::string::npos) return OldFileKind::kMetadata;
    if (lower.find(".nmd") != std::string::npos || lower.find(".nmb") != std::string::npos) {
        return OldFileKind::kMedia;
    }
    return OldFileKind::kOther;
}

std::vector<fs::path> ListDateFiles(const fs::path& folder, std::error_code& error) {
    error.clear();
    std::vector<fs::path> files = EntriesOf(folder, fs::file_type::regular, error);
    std::erase_if(files, [](const fs::path& file) { return file.filename() == "Thumbs.db"; });
    return files;
}

}  // namespace orvale::converter
