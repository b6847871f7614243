// Every file below a root with its size and time of last change, and every
// folder by name, to show that something left a tree as it found it. Folder
// times are left out: reading an SQLite database in write-ahead mode adds
// and removes its log files beside it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "tests/support/WaitFor.h"

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

// The tree once every database below the root has been let go: a recorder
// closes its hour files on a job of its own after StopRecording returns, and
// the last connection to a file takes its write-ahead log and shared-memory
// file away (and may write the file once more). Waits up to 10 s.
inline TreeSnapshot SettledTree(const std::filesystem::path& root) {
    const auto open = [](const TreeSnapshot& tree) {
        for (const auto& [name, file] : tree) {
            const std::filesystem::path path(name);
            if (path.extension().string().find("-wal") != std::string::npos ||
                path.extension().string().find("-shm") != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    TreeSnapshot tree;
    WaitFor(
        [&] {
            tree = SnapshotTree(root);
            return !open(tree);
        },
        std::chrono::seconds(10));
    return tree;
}

}  // namespace orvale::test
