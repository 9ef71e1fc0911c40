// TRANSFORM expr SELECT ... GROUP BY ... PIVOT p [IN (...)]: the old
// engine's crosstab, as two plain statements. The first finds the pivot
// values (sorted); the second has one column per value, named by it, and
// leaves a cell empty where its combination has no rows.
#pragma once

#include "dialect/source_map.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace tarlo {

struct PivotValue {
    MappedText literal;  // as SQL
    QString name;        // the column it heads
};

// Whether a function's name is an aggregate's (the function catalogue's).
using IsAggregate = std::function<bool(const QString& name)>;

class Crosstab {
public:
    // Nothing when sql is no crosstab; throws PlacedError for one written wrongly.
    static std::optional<Crosstab> parse(const MappedText& sql, const IsAggregate& isAggregate);

    // The statement listing the pivot values, or empty when IN gives them.
    MappedText valuesQuery() const;
    const std::vector<PivotValue>& listedValues() const { return listed_; }
    // Where the pivot expression stands, for the values the data gives it.
    Span pivotSpan() const { return pivot_.span(); }

    MappedText query(const std::vector<PivotValue>& values) const;

private:
    MappedText value_;  // the TRANSFORM expression
    MappedText selectList_, fromWhere_, groupBy_, orderBy_, pivot_;
    std::vector<PivotValue> listed_;
    bool hasList_ = false;
    IsAggregate isAggregate_;
};

}  // namespace tarlo
