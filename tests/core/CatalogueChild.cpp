// catalogue_child <host folder> <drive folder> <channel> <hold ms>
//
// Starts an engine in <host folder>, stores three bookmarks of <channel>,
// prints "stored <n>" (those whose row id came back above zero), holds the
// engine open for <hold ms> and ends it without removing anything. A test
// runs it as a process of its own to share one host folder with others.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/HostFolder.h"
#include "recorder/api/MediaRecorder.h"
#include "tests/storage/FakeVolumeProvider.h"

int main(int argc, char** argv) {
    using namespace orvale;
    using namespace orvale::recorder;
    if (argc != 5) return 2;
    platform::SetHostFolder(argv[1]);
    test::InstalledFakeVolumes volumes;
    volumes->AddFixed('D', argv[2], 500 * test::kGiB, 200 * test::kGiB);
    recorder::MediaRecorder engine;
    engine.Initialize();
    int stored = 0;
    for (int i = 0; i < 3; ++i) {
        media_bookmark_s bookmark;
        bookmark.guid = argv[3];
        bookmark.startTime = 100 + i;
        bookmark.endTime = 200 + i;
        bookmark.description = "mark";
        engine.RequestBookmark(bookmark, REQUEST_BOOKMARK_TYPE_INSERT);
        if (engine.InsertLastRowId() > 0) ++stored;
    }
    std::printf("stored %d\n", stored);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[4])));
    engine.Finalize(false);
    return 0;
}
