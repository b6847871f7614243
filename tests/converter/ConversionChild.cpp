// conversion_child <drive folder> <host folder> <pause ms> [<index> <metadata>]
//
// Converts the old recordings under <drive folder>/ZERoza through the real
// engine, with the folder as fake drive D, pausing <pause ms> after every
// MiB of video; the old files are kept. A test runs it as a process of its
// own, to kill it half-way or to run two at once. With the paths of an hour's
// index and metadata files, it prints "stored <video rows> <metadata rows>"
// of them at every pause: while it runs, only this process may open
// them. Exits 0 when every file converted, else 1.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "converter/ConversionWorker.h"
#include "converter/OldFolders.h"
#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/HourDatabase.h"

int main(int argc, char** argv) {
    using namespace orvale;
    if (argc != 4 && argc != 6) return 2;
    const std::filesystem::path drive = argv[1];
    platform::SetHostFolder(argv[2]);
    const std::chrono::milliseconds pause(std::atoi(argv[3]));
    test::InstalledFakeVolumes volumes;
    volumes->AddFixed('D', drive.string(), 500 * test::kGiB, 200 * test::kGiB);

    recorder::MediaRecorder engine;
    engine.Initialize();
    converter::MediaRecorderEngine adapter(engine);
    converter::ConversionWorker worker(adapter, [](const std::string&) {});
    // Told at the start and again at the end of a pause: what was still on
    // its way at the start is stored by the end.
    const auto tell = [&] {
        if (argc != 6) return;
        std::printf(
            "stored %lld %lld\n",
            static_cast<long long>(test::CountHourRows(argv[4], "SELECT count(*) FROM T_INDEX")),
            static_cast<long long>(
                test::CountHourRows(argv[5], "SELECT count(*) FROM T_METADATA")));
        std::fflush(stdout);
    };
    worker.SetSleeper([&](std::chrono::milliseconds) {
        tell();
        std::this_thread::sleep_for(pause);
        tell();
    });
    converter::conversion_plan_s plan;
    std::error_code error;
    plan.folders = converter::ListDateFolders('D', drive, error);
    plan.delayTimeMs = 1;
    const converter::conversion_result_s result = worker.Run(plan);
    engine.Finalize(false);
    const bool failed = result.failedFiles + result.failedFolders + result.keptFiles > 0 ||
                        result.cancelled || result.files == 0;
    return failed ? 1 : 0;
}
