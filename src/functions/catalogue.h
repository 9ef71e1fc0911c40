// The function catalogue: one row for every function name a statement can
// reach, ours and SQLite's own alike. Everything else that knows about
// functions is read from here: the binder's typed view (result kinds,
// number arguments, argument counts, the text rule), the crosstab's and
// the column path's recognition of aggregates, the registration of our
// bodies into SQLite and the authorizer that lets a statement call a
// function at all. A SQLite built-in without a row cannot be called: a
// value it gave would reach the statement untyped.
#pragma once

#include "dialect/binder.h"
#include "dialect/internal_names.h"
#include "values/value_kind.h"

#include <QString>

#include <span>
#include <string_view>

namespace tarlo {

// Where a function's body is.
enum class Body : unsigned char {
    Ours,             // our bodies, in the function tables (registry.h)
    Sqlite,           // SQLite's own built-in, reachable through this row
    SqliteAndOurs,    // SQLite's own at the counts the row allows, ours refusing the rest
    Conversion,       // written by the binder, registered by the engine (conversions.h)
    Translated,       // rewritten by the SQL writer before SQLite sees it: never called
};

struct FunctionRow {
    const char* name;  // as SQLite looks it up, ignoring case
    int least, most;   // the argument counts it takes; most -1: any number
    ValueKind result;  // with ResultRule::Fixed
    ResultRule rule;
    bool aggregate;
    NumberArguments numbers;
    bool textRule;     // a text it takes compares ignoring case (Min, Max)
    bool countedHere;  // the binder refuses another count where the call stands
    Body body;
    int numberArgument = -1;  // the only argument read as a number; -1: all of them
};

namespace catalogue_rows {

using enum ValueKind;
using enum ResultRule;
using enum Body;
inline constexpr NumberArguments kAny = NumberArguments::Any, kChecked = NumberArguments::CheckedByIt,
                                 kLoose = NumberArguments::Loose;
inline constexpr bool kAggregate = true, kScalar = false, kTextRule = true, kCounted = true;

// A scalar of a fixed result, arguments taken as they are, counted by SQLite.
constexpr FunctionRow scalar(const char* name, int least, int most, ValueKind result, Body body = Ours) {
    return {name, least, most, result, Fixed, kScalar, kAny, false, false, body};
}
// A function that reads its arguments as numbers.
constexpr FunctionRow numeric(const char* name, int least, int most, NumberArguments numbers, Body body,
                              ValueKind result = Number) {
    return {name, least, most, result, Fixed, kScalar, numbers, false, false, body};
}
// A function whose count the binder checks where the call stands (registered
// for any count, or refusing a count SQLite's function of its name takes).
// A window function whose count or offset (argument at, or all: -1) is a
// number: "1,000" is a thousand, "apple" refused, where SQLite would read 1 and 0.
constexpr FunctionRow window(const char* name, int least, int most, int at) {
    return {name, least, most, Unknown, Fixed, kScalar, kLoose, false, false, Sqlite, at};
}
constexpr FunctionRow counted(FunctionRow row) {
    row.countedHere = true;
    return row;
}

inline constexpr FunctionRow kRows[] = {
    // Operators the SQL writer writes as calls; + and - take their kind from
    // their operands in the binder.
    scalar(call::kAdd, 2, -1, Unknown),
    scalar(call::kSubtract, 2, -1, Unknown),
    scalar(call::kMultiply, 2, -1, Number),
    scalar(call::kDivide, 2, -1, Number),
    scalar(call::kIntDivide, 2, -1, Number),
    scalar(call::kMod, 2, -1, Number),
    scalar(call::kPower, 2, -1, Number),
    scalar(call::kXor, 2, 2, Number),
    scalar(call::kEqv, 2, 2, Number),
    scalar(call::kImp, 2, 2, Number),
    scalar(call::kConcat, 2, -1, Text),
    scalar(call::kLeft, 2, 2, Text),
    scalar(call::kRight, 2, 2, Text),
    scalar(call::kIsNull, 1, 1, Number),
    // The binder's conversions.
    scalar(call::kNumberOf, 3, 3, Number, Conversion),
    scalar(call::kDateOf, 3, 3, Date, Conversion),
    scalar(call::kSerialOf, 3, 3, Number, Conversion),
    scalar(call::kTruthOf, 3, 3, Number, Conversion),
    scalar(call::kCompare, 2, 3, Unknown, Conversion),
    scalar(call::kMaxOf, 2, -1, Unknown, Conversion),
    scalar(call::kMinOf, 2, -1, Unknown, Conversion),
    scalar(call::kNullIfMoment, 2, 2, Unknown, Conversion),
    // Choice: IIf, Switch and Choose become CASE; Nz's kind is its arguments'.
    scalar("IIf", 3, 3, Unknown, Translated),
    scalar("Switch", 2, -1, Unknown, Translated),
    scalar("Choose", 2, -1, Unknown, Translated),
    numeric(call::kChooseIndex, 1, 1, kChecked, Ours),
    {"Nz", 1, 2, Unknown, SharedByArguments, kScalar, kAny, false, false, Ours},
    {"coalesce", 2, -1, Unknown, SharedByArguments, kScalar, kAny, false, false, Sqlite},
    {"ifnull", 2, 2, Unknown, SharedByArguments, kScalar, kAny, false, false, Sqlite},
    scalar("nullif", 2, 2, Unknown, Sqlite),  // the binder matches its second value to the first
    // Tests; Like is the operator's body, a truth.
    scalar("IsNumeric", 1, 1, Number),
    scalar("IsEmpty", 1, 1, Number),
    scalar("IsError", 1, 1, Number),
    scalar("IsDate", 1, 1, Number),
    scalar("like", 2, 3, Number),
    // Text.
    scalar("Len", 1, 1, Number),
    counted(scalar("Mid", 2, 3, Text)),
    counted(scalar("InStr", 2, 4, Number)),
    counted(scalar("InStrRev", 2, 4, Number)),
    scalar("UCase", 1, 1, Text),
    scalar("LCase", 1, 1, Text),
    counted(scalar("Trim", 1, 1, Text, SqliteAndOurs)),
    counted(scalar("LTrim", 1, 1, Text, SqliteAndOurs)),
    counted(scalar("RTrim", 1, 1, Text, SqliteAndOurs)),
    scalar("Space", 1, 1, Text),
    scalar("String", 2, 2, Text),
    counted(scalar("Replace", 3, 6, Text)),
    scalar("StrReverse", 1, 1, Text),
    counted(scalar("StrComp", 2, 3, Number)),
    scalar("StrConv", 2, 2, Text),
    scalar("Asc", 1, 1, Number),
    scalar("Chr", 1, 1, Text),
    scalar("AscW", 1, 1, Number),
    scalar("ChrW", 1, 1, Text),
    scalar("length", 1, 1, Number, Sqlite),
    scalar("upper", 1, 1, Text, Sqlite),
    scalar("lower", 1, 1, Text, Sqlite),
    scalar("substr", 2, 3, Text, Sqlite),
    scalar("substring", 2, 3, Text, Sqlite),
    // Conversion.
    scalar("Val", 1, 1, Number),
    scalar("Str", 1, 1, Text),
    scalar("CStr", 1, 1, Text),
    scalar("CInt", 1, 1, Number),
    scalar("CByte", 1, 1, Number),
    {"CVar", 1, 1, Unknown, SharedByArguments, kScalar, kAny, false, false, Ours},
    scalar("CLng", 1, 1, Number),
    scalar("CDbl", 1, 1, Number),
    scalar("CSng", 1, 1, Number),
    scalar("CCur", 1, 1, Number),
    scalar("CDate", 1, 1, Time),
    scalar("CVDate", 1, 1, Time),
    scalar("CBool", 1, 1, Number),
    // Numbers: ours refuse a text that is no number; SQLite's read one as
    // the binder has it read (their results stay as the run gives them).
    numeric("Int", 1, 1, kChecked, Ours),
    numeric("Fix", 1, 1, kChecked, Ours),
    numeric("Abs", 1, 1, kChecked, Ours),
    numeric("Sgn", 1, 1, kChecked, Ours),
    numeric("Sqr", 1, 1, kChecked, Ours),
    numeric("Exp", 1, 1, kChecked, Ours),
    numeric("Atn", 1, 1, kChecked, Ours),
    numeric(call::kPartition, 4, 4, kChecked, Ours, Text),
    // Money and depreciation; colour numbers.
    counted(numeric("Pmt", 3, 5, kChecked, Ours)),
    counted(numeric("FV", 3, 5, kChecked, Ours)),
    counted(numeric("PV", 3, 5, kChecked, Ours)),
    counted(numeric("NPer", 3, 5, kChecked, Ours)),
    counted(numeric("Rate", 3, 6, kChecked, Ours)),
    counted(numeric("IPmt", 4, 6, kChecked, Ours)),
    counted(numeric("PPmt", 4, 6, kChecked, Ours)),
    counted(numeric("DDB", 4, 5, kChecked, Ours)),
    counted(numeric("SLN", 3, 3, kChecked, Ours)),
    counted(numeric("SYD", 4, 4, kChecked, Ours)),
    counted(numeric("RGB", 3, 3, kChecked, Ours)),
    counted(numeric("QBColor", 1, 1, kChecked, Ours)),
    counted(numeric("Log", 1, 1, kChecked, Ours)),
    counted(numeric("Round", 1, 2, kChecked, Ours)),
    scalar("Hex", 1, 1, Text),
    scalar("Oct", 1, 1, Text),
    numeric("sign", 1, 1, kLoose, Sqlite),
    numeric("sqrt", 1, 1, kLoose, Sqlite),
    numeric("mod", 2, 2, kLoose, Sqlite),
    numeric("ceil", 1, 1, kLoose, Sqlite, Unknown),
    numeric("ceiling", 1, 1, kLoose, Sqlite, Unknown),
    numeric("floor", 1, 1, kLoose, Sqlite, Unknown),
    numeric("trunc", 1, 1, kLoose, Sqlite, Unknown),
    numeric("ln", 1, 1, kLoose, Sqlite, Unknown),
    numeric("log10", 1, 1, kLoose, Sqlite, Unknown),
    numeric("log2", 1, 1, kLoose, Sqlite, Unknown),
    numeric("pow", 2, 2, kLoose, Sqlite, Unknown),
    numeric("power", 2, 2, kLoose, Sqlite, Unknown),
    numeric("sin", 1, 1, kLoose, Sqlite, Unknown),
    numeric("cos", 1, 1, kLoose, Sqlite, Unknown),
    numeric("tan", 1, 1, kLoose, Sqlite, Unknown),
    numeric("asin", 1, 1, kLoose, Sqlite, Unknown),
    numeric("acos", 1, 1, kLoose, Sqlite, Unknown),
    numeric("atan", 1, 1, kLoose, Sqlite, Unknown),
    numeric("atan2", 2, 2, kLoose, Sqlite, Unknown),
    numeric("sinh", 1, 1, kLoose, Sqlite, Unknown),
    numeric("cosh", 1, 1, kLoose, Sqlite, Unknown),
    numeric("tanh", 1, 1, kLoose, Sqlite, Unknown),
    numeric("asinh", 1, 1, kLoose, Sqlite, Unknown),
    numeric("acosh", 1, 1, kLoose, Sqlite, Unknown),
    numeric("atanh", 1, 1, kLoose, Sqlite, Unknown),
    numeric("degrees", 1, 1, kLoose, Sqlite, Unknown),
    numeric("radians", 1, 1, kLoose, Sqlite, Unknown),
    // Format.
    counted(scalar("Format", 1, 4, Text)),
    counted(scalar("FormatNumber", 1, 5, Text)),
    counted(scalar("FormatPercent", 1, 5, Text)),
    counted(scalar("FormatCurrency", 1, 5, Text)),
    counted(scalar("FormatDateTime", 1, 2, Text)),
    // Dates. Date() writes yyyy/mm/dd; the others write a moment as the old
    // engine showed it (hh:nn:ss alone on 1899/12/30, Now's midnight with its
    // time), so they are Time (value_kind.h), as CDate is.
    counted(scalar("Date", 0, 0, Date)),
    counted(scalar("Time", 0, 0, Time)),
    scalar("Now", 0, 0, Time),
    counted(scalar("MonthName", 1, 2, Text)),
    counted(scalar("WeekdayName", 1, 3, Text)),
    scalar("Year", 1, 1, Number),
    scalar("Month", 1, 1, Number),
    scalar("Day", 1, 1, Number),
    scalar("Hour", 1, 1, Number),
    scalar("Minute", 1, 1, Number),
    scalar("Second", 1, 1, Number),
    scalar("Weekday", 1, 2, Number),
    scalar("DateAdd", 3, 3, Time),
    counted(scalar("DateDiff", 3, 5, Number)),
    counted(scalar("DatePart", 2, 4, Number)),
    scalar("DateSerial", 3, 3, Time),
    scalar("TimeSerial", 3, 3, Time),
    scalar("DateValue", 1, 1, Time),
    scalar("TimeValue", 1, 1, Time),
    // Aggregates: First, Last, Min and Max give their argument's kind.
    {"Count", 0, 1, Number, Fixed, kAggregate, kAny, false, false, Sqlite},
    {"Sum", 1, 1, Number, Fixed, kAggregate, kLoose, false, false, Ours},
    {"Avg", 1, 1, Number, Fixed, kAggregate, kLoose, false, false, Ours},
    {"total", 1, 1, Number, Fixed, kAggregate, kLoose, false, false, Sqlite},
    {"Min", 1, -1, Unknown, FirstArgument, kAggregate, kAny, kTextRule, false, Sqlite},
    {"Max", 1, -1, Unknown, FirstArgument, kAggregate, kAny, kTextRule, false, Sqlite},
    {"First", 1, 1, Unknown, FirstArgument, kAggregate, kAny, false, false, Ours},
    {"Last", 1, 1, Unknown, FirstArgument, kAggregate, kAny, false, false, Ours},
    {"StDev", 1, 1, Number, Fixed, kAggregate, kChecked, false, false, Ours},
    {"StDevP", 1, 1, Number, Fixed, kAggregate, kChecked, false, false, Ours},
    {"Var", 1, 1, Number, Fixed, kAggregate, kChecked, false, false, Ours},
    {"VarP", 1, 1, Number, Fixed, kAggregate, kChecked, false, false, Ours},
    {"group_concat", 1, 2, Text, Fixed, kAggregate, kAny, false, false, Sqlite},
    // Window functions (TOP's ties are ranked with rank()).
    scalar("row_number", 0, 0, Number, Sqlite),
    scalar("rank", 0, 0, Number, Sqlite),
    scalar("dense_rank", 0, 0, Number, Sqlite),
    scalar("percent_rank", 0, 0, Unknown, Sqlite),
    scalar("cume_dist", 0, 0, Unknown, Sqlite),
    window("ntile", 1, 1, -1),
    window("lag", 1, 3, 1),
    window("lead", 1, 3, 1),
    scalar("first_value", 1, 1, Unknown, Sqlite),
    scalar("last_value", 1, 1, Unknown, Sqlite),
    window("nth_value", 2, 2, 1),
};

constexpr char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

constexpr bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

}  // namespace catalogue_rows

constexpr std::span<const FunctionRow> functionCatalogue() {
    return catalogue_rows::kRows;
}

// The row of a name (ignoring case), or null.
constexpr const FunctionRow* catalogueRow(std::string_view name) {
    for (const FunctionRow& row : catalogue_rows::kRows)
        if (catalogue_rows::sameName(name, row.name)) return &row;
    return nullptr;
}
const FunctionRow* functionRow(const QString& name);

// What the binder knows of a function: its row's facts.
std::optional<FunctionFacts> functionFacts(const QString& name);

// Whether a name is an aggregate's.
bool isAggregateFunction(const QString& name);

// Whether SQLite may run the function a statement calls: a row whose body
// SQLite runs (ours, its own, or the binder's conversions).
bool isCallableFunction(const char* name);

}  // namespace tarlo
