#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <thread>

#include "converter/InstallChecks.h"
#include "converter/app/EngineLines.h"
#include "converter/app/EngineSession.h"
#include "converter/app/MainDialog.h"
#include "converter/app/ProgressDialog.h"
#include "platform/HostFolder.h"
#include "recorder/api/Logging.h"
#include "tests/converter/DialogTestSupport.h"
#include "tests/storage/FakeVolumeProvider.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitFor.h"
#include "tools/oldformat/OldFormatWriter.h"

namespace orvale::converter {
namespace {

namespace fs = std::filesystem;
using recorder::MEDIA_DRIVE_STATUS_ALLOCATE;
using recorder::MEDIA_DRIVE_STATUS_NONE;
using recorder::MEDIA_DRIVE_STATUS_SYSTEM_DISK;

constexpr int kFastTickMs = 5;

// Waits for `done` while letting the UI thread work; gives up after 10 s.
bool SpinUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 10000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QCoreApplication::processEvents();
    return true;
}

class MainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::QtApp();
        setenv("OSTREL_REGISTRY_FILE", registry_.c_str(), 1);
        SetVersion("2", "10");
        volumes_->AddFixed('C', c_.Str(), 1000 * test::kGiB, 500 * test::kGiB);
        volumes_->AddFixed('D', d_.Str(), 1000 * test::kGiB, 100 * test::kGiB);
        volumes_->AddFixed('E', e_.Str(), 1000 * test::kGiB, 100 * test::kGiB);
    }

    void SetVersion(const std::string& major, const std::string& minor) {
        test::WriteFile(registry_, std::string("[") + kHostProductKey + "]\nVersionMajor=" + major +
                                       "\nVersionMinor=" + minor + "\n");
    }

    // A date folder with one old media file of `frames` video frames per file.
    static fs::path MakeDate(const test::TempDir& drive, const std::string& channelAndDate,
                             int files = 1, int frames = 2) {
        const fs::path folder = drive.Path() / "ZERoza" / channelAndDate;
        fs::create_directories(folder);
        for (int f = 1; f <= files; ++f) {
            oldformat::test_second_s second;
            for (int i = 0; i < frames; ++i) {
                oldformat::test_frame_s frame;
                frame.seconds = 1700000000;
                frame.milliseconds = 100 * i;
                frame.width = 320;
                frame.height = 240;
                frame.frameType = i == 0 ? 1 : 0;
                frame.payload = std::string(64, static_cast<char>('a' + i));
                second.frames.push_back(frame);
            }
            oldformat::OldMediaWriter writer({{second}});
            writer.Save(folder / ("000" + std::to_string(f) + "_0100.nmd"));
        }
        return folder;
    }

    std::unique_ptr<MainDialog> MakeDialog(bool ascending = true) {
        main_dialog_options_s options;
        options.settings.ascending = ascending;
        options.messageBox = boxes_.Fn();
        options.progressTickMs = kFastTickMs;
        return std::make_unique<MainDialog>(engine_, std::move(options));
    }

    static void TickAll(MainDialog& dialog) {
        dialog.SelectAllBox()->click();
        ASSERT_TRUE(dialog.SelectAllBox()->isChecked());
    }

    static QStringList LogLines(const MainDialog& dialog) {
        return dialog.LogText().split(QLatin1Char('\n'));
    }

    test::TempDir c_, d_, e_, host_;
    std::string registry_ = (host_.Path() / "registry.ini").string();
    test::InstalledFakeVolumes volumes_;
    test::FakeConversionEngine engine_{{{"C", 3, MEDIA_DRIVE_STATUS_SYSTEM_DISK, 11},
                                        {"D", 3, MEDIA_DRIVE_STATUS_NONE, 11},
                                        {"E", 3, MEDIA_DRIVE_STATUS_NONE, 11}}};
    test::ScriptedBoxes boxes_;
};

TEST_F(MainDialogTest, ListsTheDatesOfTheEngineDrivesInSettingsOrder) {
    MakeDate(d_, "cam1/20240103");
    MakeDate(d_, "cam1/20240101");
    MakeDate(e_, "cam2/20240102");
    MakeDate(e_, "cam2/20240103");
    MakeDate(d_, "cam1/19700101");
    MakeDate(c_, "cam9/20200101");  // the system disk is never scanned

    {
        const auto dialog = MakeDialog(true);
        EXPECT_EQ(dialog->RowDates(), (QStringList{"20240101", "20240102", "20240103"}));
        EXPECT_EQ(dialog->DriveNames(), (std::vector<std::string>{"D", "E"}));
        EXPECT_FALSE(fs::exists(d_.Path() / "ZERoza/cam1/19700101"));
        EXPECT_EQ(dialog->windowTitle(), "Converter");
        EXPECT_EQ(dialog->size(), QSize(MainDialog::kWidth, MainDialog::kHeight));
    }
    const auto descending = MakeDialog(false);
    EXPECT_EQ(descending->RowDates(), (QStringList{"20240103", "20240102", "20240101"}));
    const std::vector<std::pair<std::string, recorder::media_drive_status_e>> allocated = {
        {"D", MEDIA_DRIVE_STATUS_ALLOCATE}, {"E", MEDIA_DRIVE_STATUS_ALLOCATE}};
    EXPECT_EQ(std::vector(engine_.driveChanges.begin(), engine_.driveChanges.begin() + 2),
              allocated);
}

TEST_F(MainDialogTest, SelectAllTicksAndClearsEveryRow) {
    MakeDate(d_, "cam1/20240101");
    MakeDate(d_, "cam1/20240102");
    MakeDate(e_, "cam2/20240103");
    const auto dialog = MakeDialog();
    dialog->SetRowChecked(1, true);

    dialog->SelectAllBox()->click();
    for (int row = 0; row < 3; ++row) EXPECT_TRUE(dialog->RowChecked(row)) << row;
    dialog->SelectAllBox()->click();
    for (int row = 0; row < 3; ++row) EXPECT_FALSE(dialog->RowChecked(row)) << row;
}

TEST_F(MainDialogTest, DeleteFileBoxIsTickedAndShownOnlyWhenTheSettingSaysSo) {
    for (const bool show : {false, true}) {
        main_dialog_options_s options;
        options.settings.showDeleteCheck = show;
        MainDialog dialog(engine_, options);
        EXPECT_TRUE(dialog.DeleteFileBox()->isChecked());
        EXPECT_EQ(dialog.DeleteFileBox()->isVisibleTo(&dialog), show);
    }
}

TEST_F(MainDialogTest, StartIsRefusedBelowVersionTwoTen) {
    MakeDate(d_, "cam1/20240101");
    // Too little space, so an accepted version ends at the space question.
    volumes_->SetAvailable('D', 10 * test::kGiB);
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"2", "9", false}, {"2", "10", true}, {"3", "0", true}, {"1", "20", false}};
    for (const auto& [major, minor, accepted] : cases) {
        SetVersion(major, minor);
        boxes_.shown.clear();
        boxes_.answers = {QMessageBox::No};
        const auto dialog = MakeDialog();
        TickAll(*dialog);
        dialog->OnStart();
        ASSERT_EQ(boxes_.shown.size(), 1u) << major << "." << minor;
        EXPECT_EQ(boxes_.shown[0].text,
                  accepted ? "There is not enough free space. Do you want to continue?"
                           : "Please update to KVT v2.10")
            << major << "." << minor;
    }
    EXPECT_EQ(engine_.VideoFrames(), 0);
}

TEST_F(MainDialogTest, TooLittleFreeSpaceAsksBeforeConverting) {
    MakeDate(d_, "cam1/20240101");
    volumes_->SetAvailable('D', 75 * test::kGiB);
    volumes_->SetAvailable('E', 74 * test::kGiB + test::kGiB / 2);  // 149 GiB in whole GiB
    boxes_.answers = {QMessageBox::No};
    const auto dialog = MakeDialog();
    TickAll(*dialog);

    dialog->OnStart();

    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].caption, "Converter");
    EXPECT_EQ(boxes_.shown[0].icon, QMessageBox::Warning);
    EXPECT_EQ(boxes_.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(engine_.VideoFrames(), 0);
    EXPECT_TRUE(dialog->LogText().isEmpty());
}

TEST_F(MainDialogTest, ConversionRunsToSuccessAndRefreshesTheList) {
    MakeDate(d_, "cam1/20240101", 2);
    MakeDate(e_, "cam2/20240102");
    volumes_->SetAvailable('D', 10 * test::kGiB);  // answered Yes
    const auto dialog = MakeDialog();
    dialog->SetRowChecked(0, true);

    dialog->OnStart();

    ASSERT_EQ(boxes_.shown.size(), 1u);
    // The worker's own lines came through the queue before the verdict.
    EXPECT_EQ(LogLines(*dialog), (QStringList{"- File Count = 2", "- Convert Success!"}));
    ASSERT_TRUE(SpinUntil([&] { return !dialog->WorkerAlive(); }));
    EXPECT_EQ(engine_.VideoFrames(), 4);
    // The hidden "Delete file" box stays ticked: the converted date is gone.
    EXPECT_TRUE(SpinUntil([&] { return dialog->RowDates() == QStringList{"20240102"}; }))
        << dialog->RowDates().join(',').toStdString();
    EXPECT_TRUE(dialog->StartButton()->isEnabled());
    EXPECT_TRUE(dialog->DeleteDataButton()->isEnabled());
}

TEST_F(MainDialogTest, CancelStopsTheRunBetweenFiles) {
    MakeDate(d_, "cam1/20240101", 2);
    const auto dialog = MakeDialog();
    std::atomic<bool> inFrame{false};
    engine_.onNewRecorder = [&](test::FakeRecorder& recorder) {
        recorder.onVideoFrame = [&] {
            inFrame = true;
            test::WaitFor([&] { return !dialog->Worker().IsRunning(); }, std::chrono::seconds(10));
        };
    };
    TickAll(*dialog);
    bool clicked = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(test::WaitFor([&] { return inFrame.load(); }, std::chrono::seconds(10)));
        auto* progress = qobject_cast<ProgressDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(progress, nullptr);
        for (auto* button : progress->findChildren<QPushButton*>()) {
            if (button->text() == "Cancel") {
                button->click();
                clicked = true;
            }
        }
    });

    dialog->OnStart();

    EXPECT_TRUE(clicked);
    EXPECT_TRUE(LogLines(*dialog).contains("- Convert Cancel!")) << dialog->LogText().toStdString();
    ASSERT_TRUE(SpinUntil([&] { return !dialog->WorkerAlive(); }));
    EXPECT_EQ(engine_.VideoFrames(), 2);  // the second file was never begun
    EXPECT_TRUE(SpinUntil([&] { return dialog->RowDates() == QStringList{"20240101"}; }));
}

// A ticked date folder moved away while an earlier one converts: the run
// names it, converts the rest and ends with the failure, not a cancel.
TEST_F(MainDialogTest, AFolderGoneMidRunIsNamedAndEndsTheRunAsAFailure) {
    MakeDate(d_, "cam1/20240101", 2);
    const fs::path gone = MakeDate(e_, "cam2/20240102");
    MakeDate(d_, "cam3/20240103");
    const fs::path moved = e_.Path() / "moved";
    engine_.onNewRecorder = [&](test::FakeRecorder& recorder) {
        recorder.onVideoFrame = [&] {
            std::error_code ignored;  // gone already after the first frame
            fs::rename(gone, moved, ignored);
        };
    };
    const auto dialog = MakeDialog();
    TickAll(*dialog);

    dialog->OnStart();

    const QStringList lines = LogLines(*dialog);
    EXPECT_FALSE(lines.contains("- Convert Cancel!")) << dialog->LogText().toStdString();
    EXPECT_FALSE(lines.contains("- Convert Success!"));
    EXPECT_EQ(lines.back(), "- Convert Failed! Failed files = 0, failed folders = 1");
    EXPECT_EQ(
        lines.filter(QString::fromStdString("- Folder missing: " + gone.string() + " (")).size(),
        1);
    ASSERT_TRUE(SpinUntil([&] { return !dialog->WorkerAlive(); }));
    EXPECT_EQ(engine_.VideoFrames(), 2 * 2 + 2);
    EXPECT_TRUE(fs::exists(moved / "0001_0100.nmd"));
}

TEST_F(MainDialogTest, DeleteDataRemovesTheTickedDateFromEveryDrive) {
    MakeDate(d_, "cam1/20240101");
    const fs::path onD = MakeDate(d_, "cam1/20240102");
    const fs::path onE = MakeDate(e_, "cam2/20240102");
    MakeDate(e_, "cam2/20240103");
    const auto dialog = MakeDialog();
    dialog->SetRowChecked(1, true);

    dialog->OnDeleteData();

    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, "Are you sure you want to delete the data?");
    EXPECT_EQ(boxes_.shown[0].caption, "Converter");
    EXPECT_EQ(boxes_.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_FALSE(fs::exists(onD));
    EXPECT_FALSE(fs::exists(onE));
    EXPECT_EQ(dialog->RowDates(), (QStringList{"20240101", "20240103"}));
    EXPECT_EQ(LogLines(*dialog), QStringList{"- Delete data. Date=20240102"});
}

TEST_F(MainDialogTest, DeleteDataWarnsWhenSpaceStaysShortAndKeepsDataOnNo) {
    MakeDate(d_, "cam1/20240101");
    MakeDate(d_, "cam1/20240102");
    volumes_->SetAvailable('D', 10 * test::kGiB);
    const auto dialog = MakeDialog();
    TickAll(*dialog);

    boxes_.answers = {QMessageBox::No};
    dialog->OnDeleteData();
    EXPECT_EQ(dialog->RowDates().size(), 2);

    dialog->OnDeleteData();
    ASSERT_EQ(boxes_.shown.size(), 3u);
    EXPECT_EQ(boxes_.shown[2].text,
              "There is not enough free space. Please click the [Delete Oldest data] button once!");
    EXPECT_EQ(boxes_.shown[2].buttons, QMessageBox::Ok);
    EXPECT_TRUE(dialog->RowDates().isEmpty());
}

TEST_F(MainDialogTest, DeleteDataNeedsTwoDates) {
    const fs::path only = MakeDate(d_, "cam1/20240101");
    const auto dialog = MakeDialog();
    TickAll(*dialog);

    dialog->OnDeleteData();

    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_TRUE(fs::exists(only));
    EXPECT_EQ(LogLines(*dialog), QStringList{"- Not enough data"});
}

TEST_F(MainDialogTest, TheAboutEntryIsInTheWindowMenu) {
    const auto dialog = MakeDialog();
    QStringList entries;
    for (const QAction* action : dialog->actions()) entries << action->text();
    EXPECT_EQ(dialog->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(entries, (QStringList{"", "zolvane 정보(&A)..."}));
}

// A drive below the engine's smallest drive shows no dates; the engine's
// line about it says why in the log box.
TEST_F(MainDialogTest, ADriveTheEngineLeavesOutSaysWhyInTheLog) {
    platform::SetHostFolder(host_.Str());
    test::TempDir small;
    volumes_->AddFixed('F', small.Str(), test::kGiB, test::kGiB);
    MakeDate(small, "cam9/20240101");
    HookEngineLines(0);
    {
        EngineSession session(std::chrono::milliseconds(0));
        main_dialog_options_s options;
        options.messageBox = boxes_.Fn();
        MainDialog dialog(session.Engine(), options);
        EXPECT_EQ(dialog.DriveNames(), (std::vector<std::string>{"C", "D", "E"}));
        EXPECT_TRUE(dialog.RowDates().isEmpty());
        const QStringList why =
            LogLines(dialog).filter(QString::fromStdString("- Drive[" + small.Str() + "]"));
        ASSERT_EQ(why.size(), 1) << dialog.LogText().toStdString();
        EXPECT_TRUE(why[0].endsWith("(minFreeBytes)" + QString::number(test::kGiB)))
            << why[0].toStdString();
    }
    // Back to a setting that passes errors only, as without one.
    recorder::LOG_INIT();
    recorder::LOG_SET_LEVEL(4);
    platform::SetHostFolder("");
}

// The whole way with the real engine: its drive list, a conversion that
// stores the old frames as the engine's recordings, and its shut-down.
TEST_F(MainDialogTest, ConvertsIntoTheRealEngine) {
    platform::SetHostFolder(host_.Str());
    const fs::path folder = MakeDate(d_, "cam1/20240101");
    {
        EngineSession session(std::chrono::milliseconds(0));
        main_dialog_options_s options;
        options.messageBox = boxes_.Fn();
        options.progressTickMs = kFastTickMs;
        MainDialog dialog(session.Engine(), options);
        EXPECT_EQ(dialog.DriveNames(), (std::vector<std::string>{"C", "D", "E"}));
        ASSERT_EQ(dialog.RowDates(), QStringList{"20240101"});
        dialog.SetRowChecked(0, true);

        dialog.OnStart();

        EXPECT_TRUE(LogLines(dialog).contains("- Convert Success!"))
            << dialog.LogText().toStdString();
        ASSERT_TRUE(SpinUntil([&] { return !dialog.WorkerAlive(); }));
        EXPECT_TRUE(dialog.RowDates().isEmpty());
    }
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::is_directory(d_.Path() / "KVTRecordData" / "cam1"));
    platform::SetHostFolder("");
}

// A run of the test's own, for the progress window alone.
class FakeControl final : public ConversionControl {
  public:
    bool StartWorker() override { return started = marked = true; }
    bool WorkerMarkedRunning() const override { return marked; }
    int Percent() const override { return percent; }
    double TimeRemaining() const override { return remaining; }
    void StopWorker(int) override {
        marked = false;
        ++stops;
    }
    bool started = false;
    bool marked = false;
    int percent = 0;
    double remaining = 0;
    int stops = 0;
};

TEST(ProgressDialogTest, TicksShowTimeAndEndAsTheRunDoes) {
    test::QtApp();
    FakeControl control;
    ProgressDialog progress(control, 60000);
    EXPECT_TRUE(control.started);
    EXPECT_EQ(progress.TakenText(), "Time taken : Calculating");
    EXPECT_EQ(progress.RemainingText(), "Time remaining : Calculating");

    control.percent = 40;
    control.remaining = 3661.5;
    progress.OnTick();
    EXPECT_EQ(progress.TakenText(), "Time taken : 0day 00:00:01");
    EXPECT_EQ(progress.RemainingText(), "Time remaining : 0day 01:01:01");
    EXPECT_EQ(progress.Progress(), 40);

    control.percent = 100;  // reached while the thread is still marked: it is stopped
    progress.OnTick();
    EXPECT_EQ(progress.result(), QDialog::Accepted);
    EXPECT_EQ(control.stops, 1);
}

TEST(ProgressDialogTest, ARunEndingShortOfAHundredPercentIsACancel) {
    test::QtApp();
    FakeControl control;
    ProgressDialog progress(control, 60000);
    control.percent = 0;
    control.marked = false;  // the thread ended without any file
    progress.OnTick();
    EXPECT_EQ(progress.result(), QDialog::Rejected);
    EXPECT_EQ(control.stops, 0);
}

}  // namespace
}  // namespace orvale::converter
