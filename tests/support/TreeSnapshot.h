// Every file below a root with its size and time of last change, and every
// folder by name, to show that something left a tree as it found it. Folder
// times are left out: reading an SQLite database in write-ahead mode adds
// and removes its log files beside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace orvale::test {

using TreeSnapshot = std::map<std::string, std::pair<uintmax_t, std::filesystem::file_time_type>>;

inline TreeSnapshot SnapshotTree(const std::filesystem::path& root) {
    TreeSnapshot tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = entry.path().lexically_relative(root).string();
        if (entry.is_regular_file()) {
            tree[name] = {entry.file_size(), entry.last_write_time()};
        } else {
            tree[name] = {};
        }
    }
    return tree;
}

}  // namespace orvale::test
