// The worker thread of a run and its way back to the window thread.
#include "ui/run_controller.h"

#include <QTimer>

RunController::RunController(QObject* parent) : QObject(parent), progressTimer_(new QTimer(this)) {
    progressTimer_->setInterval(200);
    connect(progressTimer_, &QTimer::timeout, this, &RunController::poll);
}

RunController::~RunController() {
    stop();
}

void RunController::start(const QString& folder, const QString& statement) {
    job_ = std::make_unique<tarlo::RunJob>(folder, statement);
    job_->setMemoryBudget(memoryBudget_);
    worker_ = std::thread([this, job = job_.get()] {
        auto outcome = std::make_shared<tarlo::RunOutcome>(job->run());
        QMetaObject::invokeMethod(this, [this, job, outcome] { complete(job, outcome); }, Qt::QueuedConnection);
    });
    clock_.start();
    progressTimer_->start();
}

void RunController::cancel() {
    if (job_) job_->cancel();
}

void RunController::stop() {
    if (job_) job_->cancel();
    if (worker_.joinable()) worker_.join();
    job_.reset();
    progressTimer_->stop();
}

void RunController::poll() {
    if (job_ && clock_.elapsed() >= progressDelayMs_) emit progressed(job_->progress());
}

void RunController::complete(const tarlo::RunJob* job, std::shared_ptr<tarlo::RunOutcome> outcome) {
    // The late outcome of a run that stop() ended is dropped.
    if (job != job_.get()) return;
    stop();
    emit finished(std::move(outcome));
}
