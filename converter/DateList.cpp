#include "converter/DateList.h"

#include <algorithm>
#include <system_error>

namespace orvale::converter {
namespace fs = std::filesystem;

DateList DateList::Scan(const std::vector<drive_root_s>& drives) {
    DateList list;
    for (const drive_root_s& drive : drives) {
        std::error_code error;
        for (date_folder_s& folder : ListDateFolders(drive.letter, drive.root, error)) {
            if (folder.date == kEpochDateFolder) {
                DeleteFolderRecursive(folder.path);
                continue;
            }
            list.dates_[folder.date].push_back(std::move(folder));
        }
    }
    return list;
}

std::vector<std::string> DateList::Dates(bool ascending) const {
    std::vector<std::string> dates;
    dates.reserve(dates_.size());
    for (const auto& [date, folders] : dates_) dates.push_back(date);
    if (!ascending) std::reverse(dates.begin(), dates.end());
    return dates;
}

const std::vector<date_folder_s>& DateList::FoldersOf(const std::string& date) const {
    static const std::vector<date_folder_s> kNone;
    const auto it = dates_.find(date);
    return it == dates_.end() ? kNone : it->second;
}

bool DeleteFolderRecursive(const fs::path& folder) {
    if (folder.empty()) return false;
    std::error_code error;
    if (fs::symlink_status(folder, error).type() != fs::file_type::directory) return false;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        entries.push_back(it->path());
    }
    for (const fs::path& entry : entries) {
        std::error_code entryError;
        if (fs::symlink_status(entry, entryError).type() == fs::file_type::directory) {
            DeleteFolderRecursive(entry);
        } else {
            fs::remove(entry, entryError);  // a link goes, never its target
        }
    }
    return fs::remove(folder, error) && !error;
}

}  // namespace orvale::converter
