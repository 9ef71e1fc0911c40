// A failure at a place of the user's statement: the engine names its line
// and column, as it does for the places SQLite reports.
#pragma once

#include "dialect/source_map.h"
#include "platform/error.h"

namespace tarlo {

class PlacedError : public Error {
public:
    PlacedError(Span at, const Error& error) : Error(error), at_(at) {}
    Span at() const { return at_; }

private:
    Span at_;
};

}  // namespace tarlo
