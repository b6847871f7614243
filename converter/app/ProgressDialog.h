// The small modal window of a running conversion: progress bar, time taken,
// time remaining and Cancel.
//
// It owns nothing of the run: it asks its ConversionControl to start the
// worker when it is made, polls it on every tick of its timer, and ends with
// Accepted once the run reached 100 percent, with Rejected when the run
// ended short of that or the operator cancelled. Every tick counts as one
// second taken.
#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace orvale::converter {

// What the progress window needs of whoever owns the run.
class ConversionControl {
  public:
    virtual ~ConversionControl() = default;
    virtual bool StartWorker() = 0;
    virtual bool WorkerMarkedRunning() const = 0;
    virtual int Percent() const = 0;
    virtual double TimeRemaining() const = 0;
    // Clears the running mark, cancels the run and waits a bounded time.
    virtual void StopWorker(int timeoutMs) = 0;
};

class ProgressDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kTickMs = 1000;
    static constexpr int kStopWaitMs = 5000;

    // Starts the worker and the timer at once.
    ProgressDialog(ConversionControl& control, int tickMs = kTickMs, QWidget* parent = nullptr);

    QString RemainingText() const;
    QString TakenText() const;
    int Progress() const;

  public Q_SLOTS:
    void OnTick();
    void OnCancel();

  protected:
    // Escape and the window's close button cancel like the Cancel button.
    void reject() override;

  private:
    void Finish(int result);

    ConversionControl& control_;
    QTimer timer_;
    QLabel* remaining_;
    QLabel* taken_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    unsigned elapsedSeconds_ = 0;
    bool finishing_ = false;
};

}  // namespace orvale::converter
