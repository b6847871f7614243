#include "converter/app/MainDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextCursor>
#include <QVBoxLayout>
#include <chrono>
#include <optional>

#include "common/Log.h"
#include "converter/InstallChecks.h"
#include "converter/app/AboutDialog.h"
#include "converter/app/AppIcon.h"
#include "converter/app/EngineLines.h"
#include "platform/VolumeProvider.h"

namespace orvale::converter {
namespace {

constexpr int kCheckColumn = 0;
constexpr int kDateColumn = 1;
constexpr int kCheckColumnWidth = 21;
constexpr int kDateColumnWidth = 367;
const QString kCaption = QStringLiteral("Converter");

// Boxes without a caption of their own carry the program's name.
QString ProgramCaption() {
    return QApplication::applicationName();
}

// A log line's own line breaks are the box's business, not the message's.
QString WithoutTrailingBreaks(QString text) {
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) text.chop(1);
    return text;
}

// A run that was not cancelled yet left files or folders unconverted says
// so, whether or not its progress reached the end; a run still under way
// when the window stopped waiting for it was cancelled.
QString RunEndText(bool reachedEnd, const std::optional<conversion_result_s>& result) {
    if (result && !result->cancelled) {
        const uint32_t files = result->failedFiles + result->keptFiles;
        if (files > 0 || result->failedFolders > 0) {
            return QStringLiteral("Convert Failed! Failed files = %1, failed folders = %2\n")
                .arg(files)
                .arg(result->failedFolders);
        }
    }
    return reachedEnd ? QStringLiteral("Convert Success!\n") : QStringLiteral("Convert Cancel!\n");
}

}  // namespace

MainDialog::MainDialog(ConversionEngine& engine, main_dialog_options_s options, QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      options_(std::move(options)),
      worker_(
          engine,
          [this](const std::string& line) { Q_EMIT WorkerLogLine(QString::fromStdString(line)); }),
      thread_(worker_, [this](const conversion_result_s&) { Q_EMIT WorkerEnded(); }) {
    connect(this, &MainDialog::WorkerLogLine, this, &MainDialog::AppendLog, Qt::QueuedConnection);
    connect(this, &MainDialog::WorkerEnded, this, &MainDialog::OnWorkerEnded, Qt::QueuedConnection);
    if (!options_.messageBox) options_.messageBox = ShowMessageBox;
    BuildControls();
    AllocateDrives();
    RefreshList();
}

MainDialog::~MainDialog() {
    thread_.Join();
}

void MainDialog::BuildControls() {
    setWindowTitle(kCaption);
    setWindowIcon(AppIcon());
    setFixedSize(kWidth, kHeight);

    // The window's own menu entry for the About box.
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    auto* about = new QAction(QStringLiteral("zolvane 정보(&A)..."), this);
    connect(about, &QAction::triggered, this, &MainDialog::ShowAbout);
    addAction(separator);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    selectAll_ = new QCheckBox(QStringLiteral("Select all"));
    connect(selectAll_, &QCheckBox::clicked, this, &MainDialog::OnSelectAll);
    deleteFile_ = new QCheckBox(QStringLiteral("Delete file"));
    deleteFile_->setChecked(true);
    deleteFile_->setVisible(options_.settings.showDeleteCheck);

    list_ = new QTableWidget(0, 2);
    list_->setHorizontalHeaderLabels({QStringLiteral(" "), QStringLiteral("Date")});
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->horizontalHeader()->setStretchLastSection(false);
    list_->setColumnWidth(kCheckColumn, kCheckColumnWidth);
    list_->setColumnWidth(kDateColumn, kDateColumnWidth);
    list_->verticalHeader()->setVisible(false);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
    list_->setShowGrid(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setContextMenuPolicy(Qt::NoContextMenu);

    deleteData_ = new QPushButton(QStringLiteral("Delete data"));
    connect(deleteData_, &QPushButton::clicked, this, &MainDialog::OnDeleteData);

    log_ = new QPlainTextEdit;
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    start_ = new QPushButton(QStringLiteral("Start"));
    start_->setDefault(true);
    connect(start_, &QPushButton::clicked, this, &MainDialog::OnStart);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Recording data list")));
    top->addStretch(1);
    top->addWidget(deleteFile_);
    top->addWidget(selectAll_);
    auto* deleteRow = new QHBoxLayout;
    deleteRow->addStretch(1);
    deleteRow->addWidget(deleteData_);
    auto* startRow = new QHBoxLayout;
    startRow->addStretch(1);
    startRow->addWidget(start_);

    auto* layout = new QVBoxLayout;
    layout->addLayout(top);
    layout->addWidget(list_, 3);
    layout->addLayout(deleteRow);
    layout->addWidget(new QLabel(QStringLiteral("Result")));
    layout->addWidget(log_, 2);
    layout->addLayout(startRow);
    setLayout(layout);
}

// A drive the engine leaves out shows no dates; the engine's own line says
// why, in the log box.
void MainDialog::AllocateDrives() {
    std::vector<recorder::media_drive_s> drives;
    {
        const DriveLineTap tap;
        engine_.GetMediaDrive(drives);
        for (const std::string& line : tap.Lines()) AppendLog(QString::fromStdString(line));
    }
    for (recorder::media_drive_s& drive : drives) {
        if (drive.status == recorder::MEDIA_DRIVE_STATUS_SYSTEM_DISK) continue;
        engine_.SetMediaDrive(drive.name, recorder::MEDIA_DRIVE_STATUS_ALLOCATE);
        driveNames_.push_back(drive.name);
    }
}

void MainDialog::RefreshList() {
    std::vector<drive_root_s> roots;
    const auto volumes = platform::CurrentVolumeProvider();
    for (const std::string& name : driveNames_) {
        if (name.size() != 1) continue;
        const std::string root = volumes->RootFolder(name[0]);
        if (!root.empty()) roots.push_back({name[0], root});
    }
    dates_ = DateList::Scan(roots);

    list_->setRowCount(0);
    for (const std::string& date : dates_.Dates(options_.settings.ascending)) {
        const int row = list_->rowCount();
        list_->insertRow(row);
        auto* check = new QTableWidgetItem;
        check->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        check->setCheckState(Qt::Unchecked);
        list_->setItem(row, kCheckColumn, check);
        auto* text = new QTableWidgetItem(QString::fromStdString(date));
        text->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        list_->setItem(row, kDateColumn, text);
    }
}

QStringList MainDialog::RowDates() const {
    QStringList dates;
    for (int row = 0; row < list_->rowCount(); ++row)
        dates << list_->item(row, kDateColumn)->text();
    return dates;
}

bool MainDialog::RowChecked(int row) const {
    const QTableWidgetItem* item = list_->item(row, kCheckColumn);
    return item != nullptr && item->checkState() == Qt::Checked;
}

void MainDialog::SetRowChecked(int row, bool checked) {
    if (QTableWidgetItem* item = list_->item(row, kCheckColumn)) {
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    }
}

QString MainDialog::LogText() const {
    return log_->toPlainText();
}

conversion_plan_s MainDialog::TakePlan() const {
    conversion_plan_s plan;
    for (int row = 0; row < list_->rowCount(); ++row) {
        if (list_->item(row, kCheckColumn)->checkState() != Qt::Checked) continue;
        const auto& folders = dates_.FoldersOf(list_->item(row, kDateColumn)->text().toStdString());
        plan.folders.insert(plan.folders.end(), folders.begin(), folders.end());
    }
    plan.deleteFiles = deleteFile_->isChecked();
    plan.delayTimeMs = options_.settings.delayTimeMs;
    return plan;
}

void MainDialog::AppendLog(const QString& message) {
    log_->setFocus();
    QTextCursor cursor = log_->textCursor();
    cursor.movePosition(QTextCursor::End);
    log_->setTextCursor(cursor);
    log_->ensureCursorVisible();
    const QString line = QStringLiteral("- ") + WithoutTrailingBreaks(message);
    log_->insertPlainText(log_->document()->isEmpty() ? line : QStringLiteral("\n") + line);
    log_->ensureCursorVisible();
}

QMessageBox::StandardButton MainDialog::Ask(const message_box_s& box) {
    return options_.messageBox(this, box);
}

void MainDialog::OnSelectAll(bool checked) {
    for (int row = 0; row < list_->rowCount(); ++row) SetRowChecked(row, checked);
}

void MainDialog::OnStart() {
    if (thread_.Alive()) return;
    if (!CheckInstalledVersion()) {
        Ask({ProgramCaption(), QStringLiteral("Please update to KVT v2.10"), QMessageBox::NoIcon,
             QMessageBox::Ok});
        return;
    }
    if (!CheckFreeSpace(driveNames_) &&
        Ask({kCaption, QStringLiteral("There is not enough free space. Do you want to continue?"),
             QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No}) != QMessageBox::Yes) {
        return;
    }
    pendingPlan_ = TakePlan();
    int result = Rejected;
    {
        ProgressDialog progress(*this, options_.progressTickMs, this);
        result = progress.exec();
    }
    AppendLog(RunEndText(result == Accepted, thread_.LastResult()));
    UpdateButtons();
}

bool MainDialog::StartWorker() {
    const bool started = thread_.Start(std::move(pendingPlan_));
    pendingPlan_ = {};
    UpdateButtons();
    return started;
}

void MainDialog::StopWorker(int timeoutMs) {
    thread_.Stop(std::chrono::milliseconds(timeoutMs));
}

void MainDialog::OnWorkerEnded() {
    // The thread has only its last lines left; its end can be awaited here.
    if (!thread_.MarkedRunning())
        thread_.Stop(std::chrono::milliseconds(ProgressDialog::kStopWaitMs));
    RefreshList();
    UpdateButtons();
}

void MainDialog::UpdateButtons() {
    const bool idle = !thread_.Alive();
    start_->setEnabled(idle);
    deleteData_->setEnabled(idle);
}

void MainDialog::OnDeleteData() {
    if (thread_.Alive()) return;
    if (dates_.Size() < 2) {
        AppendLog(QStringLiteral("Not enough data"));
        return;
    }
    if (Ask({kCaption, QStringLiteral("Are you sure you want to delete the data?"),
             QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No}) != QMessageBox::Yes) {
        return;
    }
    for (int row = 0; row < list_->rowCount(); ++row) {
        if (list_->item(row, kCheckColumn)->checkState() != Qt::Checked) continue;
        const QString date = list_->item(row, kDateColumn)->text();
        for (const date_folder_s& folder : dates_.FoldersOf(date.toStdString())) {
            DeleteFolderRecursive(folder.path);
        }
        AppendLog(QStringLiteral("Delete data. Date=%1\n").arg(date));
    }
    if (!CheckFreeSpace(driveNames_)) {
        Ask({ProgramCaption(),
             QStringLiteral("There is not enough free space. Please click the [Delete Oldest "
                            "data] button once!"),
             QMessageBox::NoIcon, QMessageBox::Ok});
    }
    RefreshList();
}

void MainDialog::ShowAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainDialog::done(int result) {
    // Closing asks the run to stop; the destructor waits for its end.
    thread_.Stop(std::chrono::milliseconds(ProgressDialog::kStopWaitMs));
    QDialog::done(result);
}

}  // namespace orvale::converter
