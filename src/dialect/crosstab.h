// TRANSFORM expr SELECT ... GROUP BY ... PIVOT p [IN (...)]: the old
// engine's crosstab, as two plain statements. The first finds the pivot
// values (sorted); the second has one column per value, named by it, and
// leaves a cell empty where its combination has no rows.
#pragma once

#include "dialect/source_map.h"
#include "dialect/sql_writer.h"
#include "dialect/syntax_tree.h"

#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace tarlo {

struct PivotValue {
    MappedText literal;  // as SQL
    QString name;        // the column it heads
    ValueKind kind = ValueKind::Unknown;  // the literal's: a number, a text, a date or null
    bool typed = false;  // an IN list's value, which the binder made comparable with the pivot
};

// Whether a function's name is an aggregate's (the function catalogue's).
using IsAggregate = std::function<bool(const QString& name)>;

class Crosstab {
public:
    // Nothing when the tree is no crosstab; throws PlacedError for one
    // written wrongly. Its parts are written by writer, which must outlive it.
    static std::optional<Crosstab> read(const syntax::SyntaxTree& tree, const SqlWriter& writer, const IsAggregate& isAggregate);

    // The statement listing the pivot values, or empty when IN gives them.
    MappedText valuesQuery() const;
    const std::vector<PivotValue>& listedValues() const { return listed_; }
    // Where the pivot expression stands, for the values the data gives it.
    Span pivotSpan() const { return pivot_.span(); }

    MappedText query(const std::vector<PivotValue>& values) const;

private:
    // The rows of one value, as "pivot IS value" finds them by the binder's rules.
    MappedText rowsOf(const PivotValue& v) const;

    const SqlWriter* writer_ = nullptr;
    syntax::NodeId value_ = syntax::kNone;    // the TRANSFORM expression
    std::vector<syntax::NodeId> aggregates_;  // the aggregate calls in it
    std::map<syntax::NodeId, Span> counts_;   // those of Count, where each stands
    bool single_ = false;                     // it is one aggregate call
    bool count_ = false;                      // it is Count(x) or Count(*)
    bool countAll_ = false;                   // it is Count(*)
    MappedText selectList_, fromWhere_, groupBy_, orderBy_, pivot_;
    Binding::Operand pivotKind_;  // what the binder knows of the pivot
    std::vector<PivotValue> listed_;
    bool hasList_ = false;
};

}  // namespace tarlo
