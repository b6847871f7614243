// Every file and folder below a root with its size and time of last change,
// to show that something left a tree as it found it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace orvale::test {

using TreeSnapshot = std::map<std::string, std::pair<uintmax_t, std::filesystem::file_time_type>>;

inline TreeSnapshot SnapshotTree(const std::filesystem::path& root) {
    TreeSnapshot tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const uintmax_t size = entry.is_regular_file() ? entry.file_size() : 0;
        tree[entry.path().lexically_relative(root).string()] = {size, entry.last_write_time()};
    }
    return tree;
}

}  // namespace orvale::test
