// Renders the converter's main window and its progress window during a
// conversion into PNG files, offscreen, against a fake engine and fake drives:
//
//   QT_QPA_PLATFORM=offscreen zolvane_screenshots <folder>
//
// writes <folder>/zolvane-main.png and <folder>/zolvane-progress.png.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>

#include "converter/InstallChecks.h"
#include "converter/app/MainDialog.h"
#include "converter/app/ProgressDialog.h"
#include "tests/converter/DialogTestSupport.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace orvale;

void MakeDate(const fs::path& drive, const std::string& channelAndDate, int files) {
    const fs::path folder = drive / "ZERoza" / channelAndDate;
    fs::create_directories(folder);
    for (int f = 1; f <= files; ++f) {
        oldformat::test_second_s second;
        for (int i = 0; i < 2; ++i) {
            oldformat::test_frame_s frame;
            frame.seconds = 1700000000;
            frame.milliseconds = 100 * i;
            frame.width = 320;
            frame.height = 240;
            frame.frameType = i == 0 ? 1 : 0;
            frame.payload = std::string(64, 'v');
            second.frames.push_back(frame);
        }
        oldformat::OldMediaWriter({{second}})
            .Save(folder / ("000" + std::to_string(f) + "_0100.nmd"));
    }
}

bool Save(QWidget& widget, const fs::path& file) {
    const bool saved = widget.grab().save(QString::fromStdString(file.string()), "PNG");
    std::cout << (saved ? "wrote " : "could not write ") << file.string() << "\n";
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zolvane_screenshots <folder>\n";
        return 2;
    }
    const fs::path out = argv[1];
    test::QtApp();

    test::TempDir d, e, host;
    const std::string registry = (host.Path() / "registry.ini").string();
    test::WriteFile(registry, std::string("[") + converter::kHostProductKey +
                                  "]\nVersionMajor=2\nVersionMinor=10\n");
    setenv("OSTREL_REGISTRY_FILE", registry.c_str(), 1);
    test::InstalledFakeVolumes volumes;
    volumes->AddFixed('D', d.Str(), 2000 * test::kGiB, 900 * test::kGiB);
    volumes->AddFixed('E', e.Str(), 2000 * test::kGiB, 700 * test::kGiB);
    for (const char* date : {"cam1/20231229", "cam1/20231230", "cam2/20231231", "cam1/20240101"}) {
        MakeDate(d.Path(), date, 1);
    }
    MakeDate(d.Path(), "cam1/20231228", 2);
    MakeDate(e.Path(), "cam3/20231228", 1);
    MakeDate(e.Path(), "cam3/20240102", 1);

    test::FakeConversionEngine engine({{"C", 3, recorder::MEDIA_DRIVE_STATUS_SYSTEM_DISK, 11},
                                       {"D", 3, recorder::MEDIA_DRIVE_STATUS_NONE, 11},
                                       {"E", 3, recorder::MEDIA_DRIVE_STATUS_NONE, 11}});
    // The run holds inside the second file until its picture is taken.
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    engine.onNewRecorder = [&](test::FakeRecorder& recorder) {
        recorder.onVideoFrame = [&] {
            if (recorder.videoFrames != 3) return;
            held = true;
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
    };

    converter::main_dialog_options_s options;
    options.settings.showDeleteCheck = true;
    options.progressTickMs = 100;
    converter::MainDialog dialog(engine, options);
    dialog.show();
    dialog.SetRowChecked(0, true);

    bool progressSaved = false;
    QTimer poll;
    int heldTicks = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* progress =
            qobject_cast<converter::ProgressDialog*>(QApplication::activeModalWidget());
        if (progress == nullptr || !held || ++heldTicks < 40) return;
        progressSaved = Save(*progress, out / "zolvane-progress.png");
        poll.stop();
        release = true;
    });
    poll.start(10);
    dialog.OnStart();
    release = true;

    QElapsedTimer waited;
    waited.start();
    while (dialog.WorkerAlive() && waited.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::processEvents();
    dialog.SetRowChecked(1, true);
    dialog.SetRowChecked(3, true);
    const bool mainSaved = Save(dialog, out / "zolvane-main.png");
    return progressSaved && mainSaved ? 0 : 1;
}
