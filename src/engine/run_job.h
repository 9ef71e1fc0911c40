// One run of a statement, the way the window runs it: on a connection of
// its own, gathering every row as a result-pane line. Runs on any thread;
// progress and cancel may be asked from another one. A cancelled run stops
// the file parse or interrupts the engine at once.
#pragma once

#include "engine/result_lines.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace tarlo {

class Connection;

struct RunOutcome {
    enum class Status { Done, Failed, Cancelled };
    Status status = Status::Done;
    bool opened = false;        // the statement opened: fieldCount is the result's
    int fieldCount = 0;
    QStringList fieldNames;     // set when done
    ResultLines rows;           // also the rows read before a failure
    qulonglong rowCount = 0;
    QString error;              // the engine's message, when failed
    bool keepsPreviousResult = false;  // failed for its size: the pane, title and count stay as they were
};

class RunJob {
public:
    RunJob(QString folder, QString statement);
    ~RunJob();

    RunOutcome run();  // blocks until done, failed or cancelled
    void cancel();
    // The most the gathered rows may take; half the memory available when
    // the run starts, unless set.
    void setMemoryBudget(size_t bytes) { memoryBudget_ = bytes; }
    bool cancelRequested() const { return cancelled_; }

    struct Progress {
        qulonglong rows = 0;         // result rows gathered
        double fileShare = -1;       // share of the table file parsed; -1 when not parsing
        qulonglong rowsVisited = 0;  // table rows the statement went through (in batches)
        double piecesShare = -1;     // share of a file read in pieces as the statement runs; -1 when none
    };
    Progress progress() const {
        return {rows_.load(), fileShare_.load(), rowsVisited_.load(std::memory_order_relaxed), piecesShare_.load()};
    }

private:
    QString folder_;
    QString statement_;
    size_t memoryBudget_ = 0;
    std::atomic<bool> cancelled_{false};
    std::atomic<qulonglong> rows_{0};
    std::atomic<double> fileShare_{-1};
    std::atomic<uint64_t> rowsVisited_{0};
    std::atomic<double> piecesShare_{-1};
    std::mutex connectionLock_;
    Connection* connection_ = nullptr;  // while the statement runs
};

}  // namespace tarlo
