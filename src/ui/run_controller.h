// The window's runs: one RunJob at a time on a worker thread, its progress
// polled on the window thread, its outcome handed back there. The window
// decides what the texts show; this object only owns the thread.
#pragma once

#include "engine/run_job.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <thread>

class QTimer;

class RunController : public QObject {
    Q_OBJECT
public:
    explicit RunController(QObject* parent = nullptr);
    ~RunController() override;

    bool isRunning() const { return job_ != nullptr; }
    // Starts statement on folder; the caller makes sure no run is going.
    void start(const QString& folder, const QString& statement);
    // Asks the run to stop; finished then reports Cancelled.
    void cancel();
    // Cancels and waits for the thread; no signal follows.
    void stop();
    // Runs shorter than this show no progress at all.
    void setProgressDelay(int ms) { progressDelayMs_ = ms; }
    // The most a run's rows may take (0: the run's own rule).
    void setMemoryBudget(size_t bytes) { memoryBudget_ = bytes; }

signals:
    void progressed(tarlo::RunJob::Progress progress);
    void finished(std::shared_ptr<tarlo::RunOutcome> outcome);

private:
    void poll();
    void complete(const tarlo::RunJob* job, std::shared_ptr<tarlo::RunOutcome> outcome);

    std::unique_ptr<tarlo::RunJob> job_;
    size_t memoryBudget_ = 0;
    std::thread worker_;
    QTimer* progressTimer_ = nullptr;
    QElapsedTimer clock_;
    int progressDelayMs_ = 500;
};
