// The converter's main window: the list of recording dates on the engine's
// drives, "Select all", "Delete file", "Delete data", the log box and Start.
//
// The dialog borrows the engine (through ConversionEngine) from whoever made
// it and owns the conversion worker and its thread. A run works on a plan
// snapshotted from the ticked rows when Start is pressed; the worker never
// touches a widget: its log lines and its end reach the dialog as queued
// signals. Start and "Delete data" stay disabled while a worker thread is
// alive, and the dialog's destructor waits for that thread to end, so the
// engine is never destroyed under a running conversion.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "converter/ConversionThread.h"
#include "converter/ConversionWorker.h"
#include "converter/ConverterSettings.h"
#include "converter/DateList.h"
#include "converter/app/MessageBoxes.h"
#include "converter/app/ProgressDialog.h"

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace orvale::converter {

struct main_dialog_options_s {
    converter_settings_s settings;
    MessageBoxFn messageBox = ShowMessageBox;
    int progressTickMs = ProgressDialog::kTickMs;
};

class MainDialog : public QDialog, private ConversionControl {
    Q_OBJECT

  public:
    static constexpr int kWidth = 433;
    static constexpr int kHeight = 523;

    // Allocates every drive of the engine that is not the system disk and
    // lists the dates found on them.
    MainDialog(ConversionEngine& engine, main_dialog_options_s options, QWidget* parent = nullptr);
    ~MainDialog() override;

    // The dates in row order, and which rows are ticked.
    QStringList RowDates() const;
    bool RowChecked(int row) const;
    void SetRowChecked(int row, bool checked);
    QString LogText() const;
    bool WorkerAlive() const { return thread_.Alive(); }
    ConversionWorker& Worker() { return worker_; }
    const std::vector<std::string>& DriveNames() const { return driveNames_; }

    QCheckBox* SelectAllBox() const { return selectAll_; }
    QCheckBox* DeleteFileBox() const { return deleteFile_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* DeleteDataButton() const { return deleteData_; }

  public Q_SLOTS:
    void OnStart();
    void OnSelectAll(bool checked);
    void OnDeleteData();
    void ShowAbout();

  Q_SIGNALS:
    // Emitted on the worker thread; connected queued.
    void WorkerLogLine(const QString& line);
    void WorkerEnded();

  protected:
    void done(int result) override;

  private Q_SLOTS:
    void AppendLog(const QString& message);
    void OnWorkerEnded();

  private:
    void BuildControls();
    void AllocateDrives();
    void RefreshList();
    conversion_plan_s TakePlan() const;
    void UpdateButtons();
    QMessageBox::StandardButton Ask(const message_box_s& box);

    // ConversionControl, for the progress window.
    bool StartWorker() override;
    bool WorkerMarkedRunning() const override { return thread_.MarkedRunning(); }
    int Percent() const override { return worker_.Percent(); }
    double TimeRemaining() const override { return worker_.TimeRemaining(); }
    void StopWorker(int timeoutMs) override;

    ConversionEngine& engine_;
    main_dialog_options_s options_;
    std::vector<std::string> driveNames_;
    DateList dates_;
    conversion_plan_s pendingPlan_;

    QCheckBox* selectAll_ = nullptr;
    QCheckBox* deleteFile_ = nullptr;
    QTableWidget* list_ = nullptr;
    QPushButton* deleteData_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QPushButton* start_ = nullptr;

    // Declared last: the thread goes first and waits for the worker it
    // borrows.
    ConversionWorker worker_;
    ConversionThread thread_;
};

}  // namespace orvale::converter
