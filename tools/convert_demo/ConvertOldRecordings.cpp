// convert_old_recordings [folder]
//
// Converts an old recording tree, <folder>/ZERoza/<channel>/<yyyymmdd>/...,
// into the engine's recordings under <folder>/KVTRecordData, with <folder>
// mapped as drive D for the run. Without a folder it first writes a small
// synthetic tree into ./demo-data and converts that. The old files are kept.
// Exits 1 when a file or a folder could not be converted, 2 on bad usage.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "converter/ConversionWorker.h"
#include "converter/OldFolders.h"
#include "platform/Environment.h"
#include "recorder/api/Logging.h"
#include "recorder/api/MediaRecorder.h"
#include "tools/convert_demo/DemoTree.h"

namespace {

namespace fs = std::filesystem;
using orvale::converter::conversion_plan_s;
using orvale::converter::conversion_result_s;

constexpr char kDemoFolder[] = "demo-data";

// A fresh demo tree: what an earlier run left (its tree, recordings and
// catalogue) goes first, so every run converts the same thing anew.
bool PrepareDemoFolder(const fs::path& folder, orvale::tools::demo_tree_s& tree) {
    std::error_code error;
    for (const char* leftover : {"ZERoza", "KVTRecordData", "DB", "DBTemp"}) {
        fs::remove_all(folder / leftover, error);
    }
    fs::create_directories(folder, error);
    if (error) {
        std::cerr << "cannot create " << folder << ": " << error.message() << "\n";
        return false;
    }
    tree = orvale::tools::WriteDemoTree(folder, orvale::tools::demo_tree_options_s{});
    std::cout << "Wrote a demo tree of " << tree.files.size() << " old files (" << tree.videoFrames
              << " video, " << tree.audioFrames << " audio, " << tree.metaFrames
              << " metadata frames) to " << (folder / "ZERoza") << "\n";
    return true;
}

// The engine reads its drive map and host folder from the environment: the
// folder is drive D, and the engine's catalogue lives beside the tree unless
// the caller chose a host folder.
bool MapFolder(const fs::path& folder) {
    bool ok = orvale::platform::SetEnvironmentVariable("OSTREL_DRIVES", "D=" + folder.string());
    if (orvale::platform::EnvironmentVariable("OSTREL_HOST_DIR").empty()) {
        ok = orvale::platform::SetEnvironmentVariable("OSTREL_HOST_DIR", folder.string()) && ok;
    }
    return ok;
}

// Hourly index databases of the converted recordings, one per channel and hour.
int CountStoredHours(const fs::path& folder) {
    int hours = 0;
    std::error_code error;
    fs::recursive_directory_iterator it(folder / "KVTRecordData", error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error) && it->path().extension() == ".kvtidx") ++hours;
    }
    return hours;
}

void PrintSummary(const conversion_result_s& result, const fs::path& folder, double seconds) {
    const double megabytes = static_cast<double>(result.videoBytes) / (1024.0 * 1024.0);
    // Files of a failed folder were read but are not safely stored.
    std::cout << "Converted " << (result.files - result.failedFiles - result.keptFiles) << " of "
              << result.files << " files";
    if (result.failedFolders > 0) std::cout << " (" << result.failedFolders << " folders failed)";
    if (result.cancelled) std::cout << " (cancelled)";
    std::cout << "\n  frames: " << result.videoFrames << " video, " << result.audioFrames
              << " audio, " << result.metaFrames << " metadata (" << result.refusedFrames
              << " refused)\n"
              << "  hours: " << CountStoredHours(folder) << " channel hours in "
              << (folder / "KVTRecordData") << "\n"
              << "  bytes: " << result.videoBytes << " payload bytes in " << seconds << " s";
    if (seconds > 0) std::cout << " (" << megabytes / seconds << " MB/s)";
    std::cout << "\n";
}

// The demo knows what it wrote: every frame must have been taken, and the
// recordings must be there.
bool DemoArrived(const orvale::tools::demo_tree_s& tree, const conversion_result_s& result,
                 const fs::path& folder) {
    const bool arrived =
        result.files == tree.files.size() && result.videoFrames == tree.videoFrames &&
        result.audioFrames == tree.audioFrames && result.metaFrames == tree.metaFrames &&
        result.refusedFrames == 0 && CountStoredHours(folder) > 0;
    if (!arrived) std::cerr << "the demo tree did not arrive whole\n";
    return arrived;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: " << argv[0] << " [folder holding ZERoza/<channel>/<yyyymmdd>]\n";
        return 2;
    }
    std::error_code error;
    const fs::path folder =
        fs::absolute(argc == 2 ? fs::path(argv[1]) : fs::path(kDemoFolder), error);
    if (error) {
        std::cerr << "bad folder: " << error.message() << "\n";
        return 2;
    }
    orvale::tools::demo_tree_s tree;
    if (argc == 1 && !PrepareDemoFolder(folder, tree)) return 1;
    if (!fs::is_directory(folder / "ZERoza", error)) {
        std::cerr << "no old recordings: " << (folder / "ZERoza") << " is not a folder\n";
        return 2;
    }
    if (!MapFolder(folder)) {
        std::cerr << "cannot set the engine's drive map\n";
        return 1;
    }

    conversion_plan_s plan;
    plan.folders = orvale::converter::ListDateFolders('D', folder, error);
    if (error) std::cerr << "some old folders could not be listed: " << error.message() << "\n";

    // The engine's lines go to the console in its own layout, at the level
    // they would pass without a set-up: errors and worse.
    orvale::recorder::LOG_INIT();
    orvale::recorder::LOG_SET_LEVEL(4);
    orvale::recorder::LOG_ADD_CONSOLE_OUT();
    orvale::recorder::MediaRecorder engine;
    engine.Initialize();
    orvale::converter::MediaRecorderEngine adapter(engine);
    orvale::converter::ConversionWorker worker(
        adapter, [](const std::string& line) { std::cout << "- " << line << "\n"; });
    const auto start = std::chrono::steady_clock::now();
    const conversion_result_s result = worker.Run(plan);
    engine.Finalize(false);
    const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;

    PrintSummary(result, folder, taken.count());
    const bool failed = result.failedFiles > 0 || result.failedFolders > 0 ||
                        result.keptFiles > 0 || result.cancelled;
    if (argc == 1 && !DemoArrived(tree, result, folder)) return 1;
    return failed ? 1 : 0;
}
