#include "engine/run_job.h"

#include "platform/error.h"
#include "engine/connection.h"
#include "platform/memory.h"

namespace tarlo {

RunJob::RunJob(QString folder, QString statement) : folder_(std::move(folder)), statement_(std::move(statement)) {}

RunJob::~RunJob() = default;

void RunJob::cancel() {
    cancelled_ = true;
    std::lock_guard guard(connectionLock_);
    if (connection_) connection_->interrupt();
}

RunOutcome RunJob::run() {
    RunOutcome outcome;
    Connection connection;
    try {
        connection.open(folder_);
        connection.countRowsVisitedIn(&rowsVisited_);
        connection.tellPiecesReadIn(&piecesShare_);
        {
            std::lock_guard guard(connectionLock_);
            connection_ = &connection;
        }
        const ParseProgress progress = [this](double share) {
            fileShare_ = share;
            return !cancelled_;
        };
        if (cancelled_) throw Cancelled{};
        const std::unique_ptr<Result> result = connection.execute(statement_, progress);
        fileShare_ = -1;
        outcome.opened = true;
        outcome.fieldCount = result->fieldCount();
        if (outcome.fieldCount > 0) {
            // A runaway result (a cross join) stops while the machine still has room for the window.
            const size_t budget = memoryBudget_ ? memoryBudget_ : size_t(availableMemory() / 2);
            for (; !result->atEnd(); result->next()) {
                outcome.rows.startLine();
                for (int f = 0; f < outcome.fieldCount; ++f) {
                    if (f > 0) outcome.rows.append("\t");
                    outcome.rows.append(result->fieldUtf8(f));
                }
                ++outcome.rowCount;
                if (outcome.rows.bytes() > budget) {
                    outcome.rows = {};
                    outcome.keepsPreviousResult = true;
                    throw Error(ErrorFacts{}, u"結果が大きすぎます: %1 行で %2 になり、使えるメモリーの半分を超えました。"
                                u"条件を絞るか、列を減らしてください。",
                                outcome.rowCount, sizeText(qint64(budget)));
                }
                if ((outcome.rowCount & 1023) == 0) {
                    rows_ = outcome.rowCount;
                    if (cancelled_) throw Cancelled{};
                }
            }
        }
        rows_ = outcome.rowCount;
        for (int f = 0; f < outcome.fieldCount; ++f) outcome.fieldNames << result->fieldName(f);
    } catch (const Error& e) {
        outcome.status = RunOutcome::Status::Failed;
        outcome.error = e.message();
    } catch (const Cancelled&) {
        outcome.status = RunOutcome::Status::Cancelled;
    } catch (const std::bad_alloc&) {
        outcome.status = RunOutcome::Status::Failed;
        outcome.error = QStringLiteral("メモリが足りません。結果が大きすぎます。");
    }
    {
        std::lock_guard guard(connectionLock_);
        connection_ = nullptr;
    }
    if (cancelled_) outcome.status = RunOutcome::Status::Cancelled;  // a cancel never shows a late result
    return outcome;
}

}  // namespace tarlo
