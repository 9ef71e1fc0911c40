// The result kinds of the functions, ours and SQLite's own.
#include "functions/result_kinds.h"

#include "dialect/internal_names.h"

#include <algorithm>
#include <iterator>

namespace tarlo {

namespace {

struct ResultKind {
    const char* name;
    ValueKind kind;
};

constexpr ResultKind kKinds[] = {
    // Numbers, and truths.
    {"Len", ValueKind::Number}, {"InStr", ValueKind::Number}, {"InStrRev", ValueKind::Number},
    {"StrComp", ValueKind::Number}, {"Asc", ValueKind::Number}, {"AscW", ValueKind::Number},
    {"Val", ValueKind::Number}, {"CInt", ValueKind::Number}, {"CLng", ValueKind::Number},
    {"CDbl", ValueKind::Number}, {"CSng", ValueKind::Number}, {"CCur", ValueKind::Number},
    {"CBool", ValueKind::Number}, {"Int", ValueKind::Number}, {"Fix", ValueKind::Number},
    {"Abs", ValueKind::Number}, {"Sgn", ValueKind::Number}, {"Sqr", ValueKind::Number},
    {"Exp", ValueKind::Number}, {"Log", ValueKind::Number}, {"Round", ValueKind::Number},
    {"IsNumeric", ValueKind::Number}, {"IsDate", ValueKind::Number}, {call::kIsNull, ValueKind::Number},
    {"Year", ValueKind::Number}, {"Month", ValueKind::Number}, {"Day", ValueKind::Number},
    {"Hour", ValueKind::Number}, {"Minute", ValueKind::Number}, {"Second", ValueKind::Number},
    {"Weekday", ValueKind::Number}, {"DatePart", ValueKind::Number}, {"DateDiff", ValueKind::Number},
    {"Count", ValueKind::Number}, {"Sum", ValueKind::Number}, {"Avg", ValueKind::Number},
    {"Total", ValueKind::Number}, {"StDev", ValueKind::Number}, {"StDevP", ValueKind::Number},
    {"Var", ValueKind::Number}, {"VarP", ValueKind::Number}, {"length", ValueKind::Number},
    {"instr", ValueKind::Number}, {"abs", ValueKind::Number}, {"round", ValueKind::Number},
    {"sign", ValueKind::Number}, {"sqrt", ValueKind::Number}, {"mod", ValueKind::Number},
    {"row_number", ValueKind::Number}, {"rank", ValueKind::Number}, {"dense_rank", ValueKind::Number},
    {call::kDivide, ValueKind::Number}, {call::kIntDivide, ValueKind::Number}, {call::kMod, ValueKind::Number},
    {call::kPower, ValueKind::Number}, {call::kXor, ValueKind::Number}, {call::kEqv, ValueKind::Number},
    {call::kImp, ValueKind::Number},
    // Texts.
    {call::kLeft, ValueKind::Text}, {call::kRight, ValueKind::Text}, {"Mid", ValueKind::Text},
    {"UCase", ValueKind::Text}, {"LCase", ValueKind::Text}, {"Trim", ValueKind::Text},
    {"LTrim", ValueKind::Text}, {"RTrim", ValueKind::Text}, {"Space", ValueKind::Text},
    {"String", ValueKind::Text}, {"Replace", ValueKind::Text}, {"StrReverse", ValueKind::Text},
    {"StrConv", ValueKind::Text}, {"Chr", ValueKind::Text}, {"ChrW", ValueKind::Text},
    {"Str", ValueKind::Text}, {"Hex", ValueKind::Text}, {"Oct", ValueKind::Text}, {"CStr", ValueKind::Text}, {"Format", ValueKind::Text},
    {"substr", ValueKind::Text}, {"substring", ValueKind::Text}, {"upper", ValueKind::Text},
    {"lower", ValueKind::Text}, {"group_concat", ValueKind::Text}, {"printf", ValueKind::Text},
    {call::kConcat, ValueKind::Text},
    // Dates.
    {"Date", ValueKind::Date}, {"Now", ValueKind::Date}, {"DateAdd", ValueKind::Date},
    {"DateSerial", ValueKind::Date}, {"DateValue", ValueKind::Date}, {"CDate", ValueKind::Date},
};

// Functions whose arguments are all numbers (Round's places too): ours,
// which refuse a text that is no number, and those that read one as SQLite
// does (Sum and Avg total as SQLite's sum did).
constexpr const char* kCheckedNumbers[] = {
    "StDev", "StDevP", "Var", "VarP", "Abs", "Sgn", "Sqr", "Int", "Fix", "Exp", "Log", "Round",
};
constexpr const char* kLooseNumbers[] = {
    "Sum", "Avg", "total", "sign", "sqrt", "ceil", "ceiling", "floor", "trunc", "ln", "log10", "log2", "pow",
    "power", "mod", "sin", "cos", "tan", "asin", "acos", "atan", "atan2", "sinh", "cosh", "tanh", "asinh",
    "acosh", "atanh", "degrees", "radians",
};

}  // namespace

NumberArguments numberArgumentsOf(const QString& function) {
    auto listed = [&](const auto& names) {
        return std::any_of(std::begin(names), std::end(names), [&](const char* name) {
            return function.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0;
        });
    };
    if (listed(kCheckedNumbers)) return NumberArguments::CheckedByIt;
    if (listed(kLooseNumbers)) return NumberArguments::Loose;
    return NumberArguments::Any;
}

std::optional<ArgumentCount> argumentCountOf(const QString& function) {
    // The functions registered for any count, which would otherwise refuse
    // another only when they run, where no place of the statement is known.
    struct Counted {
        const char* name;
        ArgumentCount count;
    };
    static constexpr Counted kCounts[] = {
        {"Mid", {2, 3}},      {"InStr", {2, 4}},   {"InStrRev", {2, 4}}, {"StrComp", {2, 3}}, {"Replace", {3, 6}},
        {"Format", {1, 4}},   {"Round", {1, 2}},   {"DateDiff", {3, 5}}, {"DatePart", {2, 4}}, {"Trim", {1, 1}},
        {"LTrim", {1, 1}},    {"RTrim", {1, 1}},   {"Log", {1, 1}},      {"Date", {0, 0}},     {"Time", {0, 0}},
    };
    for (const Counted& c : kCounts)
        if (function.compare(QLatin1StringView(c.name), Qt::CaseInsensitive) == 0) return c.count;
    return std::nullopt;
}

ValueKind resultKindOf(const QString& function) {
    for (const ResultKind& k : kKinds)
        if (function.compare(QLatin1StringView(k.name), Qt::CaseInsensitive) == 0) return k.kind;
    return ValueKind::Unknown;
}

}  // namespace tarlo
