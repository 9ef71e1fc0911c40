// The worker thread of a run and its way back to the window thread.
#include "ui/run_controller.h"

#include <QTimer>

#include <condition_variable>
#include <mutex>

struct RunController::Worker {
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false;
    bool abandoned = false;  // the controller no longer waits: the outcome goes nowhere
};

RunController::RunController(QObject* parent) : QObject(parent), progressTimer_(new QTimer(this)) {
    progressTimer_->setInterval(200);
    connect(progressTimer_, &QTimer::timeout, this, &RunController::poll);
}

RunController::~RunController() {
    stop();
    // Runs left to end alone hold nothing of ours, but a process that ends
    // under them must not free the tables they read: the program ends at
    // once instead (see leftARunBehind); anything else waits for them here.
    for (int waited = 0; hasLooseRuns() && waited < 2000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void RunController::start(const QString& folder, const QString& statement) {
    job_ = std::make_shared<tarlo::RunJob>(folder, statement);
    job_->setMemoryBudget(memoryBudget_);
    state_ = std::make_shared<Worker>();
    // Runs are told apart by number, not address: a new job may take a stopped one's.
    const quint64 run = ++runNumber_;
    worker_ = std::thread([this, job = job_, state = state_, loose = looseRuns_, run] {
        auto outcome = std::make_shared<tarlo::RunOutcome>(job->run());
        std::lock_guard guard(state->lock);
        state->finished = true;
        state->ended.notify_all();
        if (state->abandoned) {
            --*loose;
            return;
        }
        QMetaObject::invokeMethod(this, [this, run, outcome] { complete(run, outcome); }, Qt::QueuedConnection);
    });
    clock_.start();
    progressTimer_->start();
}

void RunController::cancel() {
    if (!job_) return;
    stop(std::chrono::milliseconds(50));
    auto outcome = std::make_shared<tarlo::RunOutcome>();
    outcome->status = tarlo::RunOutcome::Status::Cancelled;
    emit finished(std::move(outcome));
}

bool RunController::stop(std::chrono::milliseconds grace) {
    if (job_) job_->cancel();
    bool ended = true;
    if (worker_.joinable()) {
        {
            std::unique_lock guard(state_->lock);
            ended = state_->ended.wait_for(guard, grace, [this] { return state_->finished; });
            state_->abandoned = !ended;
            if (!ended) ++*looseRuns_;
        }
        if (ended) worker_.join();
        else worker_.detach();
    }
    job_.reset();
    state_.reset();
    progressTimer_->stop();
    return ended;
}

void RunController::poll() {
    if (job_ && clock_.elapsed() >= progressDelayMs_) emit progressed(job_->progress());
}

void RunController::complete(quint64 run, std::shared_ptr<tarlo::RunOutcome> outcome) {
    // The late outcome of a run that stop() ended is dropped.
    if (!job_ || run != runNumber_) return;
    stop();
    emit finished(std::move(outcome));
}
