// The seconds an hour's index database holds for one profile, read through
// the engine's own index file object; empty when the file is not there.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "recorder/storage/FolderInUseContainer.h"
#include "recorder/store/IndexFile.h"
#include "recorder/store/RecordFileInfo.h"

namespace orvale::test {

inline std::vector<int64_t> IndexedSeconds(const std::filesystem::path& index,
                                           int32_t profile = recorder::kProfileNormal) {
    std::vector<int64_t> seconds;
    if (!std::filesystem::exists(index)) return seconds;
    recorder::IndexFile file(index, recorder::FolderInUseContainer::Create());
    std::vector<std::string> names;
    file.ListDataFileNames(profile, names);
    for (const auto& name : names) {
        std::vector<recorder::index_row_s> rows;
        file.ReadIndexRowsByName(profile, rows, name);
        for (const auto& row : rows) seconds.push_back(row.keyTime);
    }
    return seconds;
}

}  // namespace orvale::test
