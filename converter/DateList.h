// The recording dates found on the converter's drives: every date folder
// name under <root>/ZERoza/<channel>/ with the folders that carry it, in
// drive order and then channel order. Folder names are taken as they stand.
//
// A scan deletes every "19700101" date folder it meets (such folders hold
// nothing a conversion could place) and never lists it. Neither the scan nor
// the deletion follows a symbolic link: a linked channel or date folder is
// not part of the tree, and a link inside a deleted folder goes, its target
// stays.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "converter/OldFolders.h"

namespace orvale::converter {

inline constexpr char kEpochDateFolder[] = "19700101";

struct drive_root_s {
    char letter = 0;
    std::filesystem::path root;
};

class DateList {
  public:
    static DateList Scan(const std::vector<drive_root_s>& drives);

    size_t Size() const { return dates_.size(); }
    // The dates in list order: ascending text order, or its reverse.
    std::vector<std::string> Dates(bool ascending) const;
    // The folders of `date` (none for an unknown date).
    const std::vector<date_folder_s>& FoldersOf(const std::string& date) const;

  private:
    std::map<std::string, std::vector<date_folder_s>> dates_;
};

// Removes the folder with everything in it; goes on past entries that cannot
// be removed. True when the folder itself is gone at the end; false for an
// empty path, a missing folder or a link (which stays untouched).
bool DeleteFolderRecursive(const std::filesystem::path& folder);

}  // namespace orvale::converter
