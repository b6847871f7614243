#include "converter/app/ProgressDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "converter/DurationText.h"

namespace orvale::converter {

ProgressDialog::ProgressDialog(ConversionControl& control, int tickMs, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint), control_(control) {
    remaining_ = new QLabel(QStringLiteral("Time remaining : Calculating"));
    taken_ = new QLabel(QStringLiteral("Time taken : Calculating"));
    bar_ = new QProgressBar;
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    cancel_ = new QPushButton(QStringLiteral("Cancel"));
    connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::OnCancel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout;
    layout->addWidget(remaining_);
    layout->addWidget(taken_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    setLayout(layout);
    setFixedSize(320, sizeHint().height());

    timer_.setInterval(tickMs);
    connect(&timer_, &QTimer::timeout, this, &ProgressDialog::OnTick);
    timer_.start();
    control_.StartWorker();
}

QString ProgressDialog::RemainingText() const {
    return remaining_->text();
}
QString ProgressDialog::TakenText() const {
    return taken_->text();
}
int ProgressDialog::Progress() const {
    return bar_->value();
}

void ProgressDialog::OnTick() {
    if (finishing_) return;
    const int percent = control_.Percent();
    if (percent >= 100) {
        if (control_.WorkerMarkedRunning()) control_.StopWorker(kStopWaitMs);
        Finish(Accepted);
        return;
    }
    if (percent < 0 || !control_.WorkerMarkedRunning()) {
        Finish(Rejected);
        return;
    }
    remaining_->setText(
        QString::fromStdString(FormatDuration(control_.TimeRemaining(), "Time remaining : ")));
    ++elapsedSeconds_;
    taken_->setText(QString::fromStdString(FormatDuration(elapsedSeconds_, "Time taken : ")));
    bar_->setValue(percent);
}

void ProgressDialog::OnCancel() {
    if (finishing_) return;
    control_.StopWorker(kStopWaitMs);
    Finish(Rejected);
}

void ProgressDialog::reject() {
    OnCancel();
}

void ProgressDialog::Finish(int result) {
    finishing_ = true;
    timer_.stop();
    done(result);
}

}  // namespace orvale::converter
