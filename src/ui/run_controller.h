// The window's runs: one RunJob at a time on a worker thread, its progress
// polled on the window thread, its outcome handed back there. The window
// decides what the texts show; this object only owns the thread.
#pragma once

#include "engine/run_job.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <chrono>
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
    // Stops the run at once: finished reports Cancelled before this returns.
    // A run that does not hear the cancel within a few milliseconds (one
    // long call inside the engine) is left to end on its own thread, its
    // outcome going nowhere.
    void cancel();
    // Cancels and waits for the thread, at most grace; no signal follows.
    // False when the run did not end in time: its thread is left to finish
    // on its own (the process is about to end), touching nothing of ours.
    bool stop(std::chrono::milliseconds grace = std::chrono::hours(24));
    // Runs left to end on their own that have not ended yet.
    bool hasLooseRuns() const { return *looseRuns_ > 0; }
    // Runs shorter than this show no progress at all.
    void setProgressDelay(int ms) { progressDelayMs_ = ms; }
    // The most a run's rows may take (0: the run's own rule).
    void setMemoryBudget(size_t bytes) { memoryBudget_ = bytes; }

signals:
    void progressed(tarlo::RunJob::Progress progress);
    void finished(std::shared_ptr<tarlo::RunOutcome> outcome);

private:
    void poll();
    void complete(quint64 run, std::shared_ptr<tarlo::RunOutcome> outcome);

    struct Worker;  // what the thread and this object share

    std::shared_ptr<tarlo::RunJob> job_;
    quint64 runNumber_ = 0;  // of the latest run started
    size_t memoryBudget_ = 0;
    std::thread worker_;
    std::shared_ptr<Worker> state_;
    std::shared_ptr<std::atomic<int>> looseRuns_ = std::make_shared<std::atomic<int>>(0);
    QTimer* progressTimer_ = nullptr;
    QElapsedTimer clock_;
    int progressDelayMs_ = 500;
};
