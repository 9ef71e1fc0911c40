// The one map between the writer's internal calls and the user's words.
#include "dialect/internal_names.h"

#include <utility>

namespace tarlo::call {

namespace {

struct Name {
    const char* internal;
    const char* written;
};

constexpr Name kNames[] = {
    {kAdd, "+"},     {kSubtract, "-"},  {kMultiply, "*"}, {kDivide, "/"},   {kIntDivide, "\\"}, {kMod, "Mod"},
    {kPower, "^"},   {kConcat, "&"},    {kXor, "Xor"},    {kEqv, "Eqv"},      {kImp, "Imp"},
    {kLeft, "Left"}, {kRight, "Right"}, {kIsNull, "IsNull"}, {kPartition, "Partition"}, {kChooseIndex, "Choose"},
    {kNumberOf, "数値"}, {kDateOf, "日付"}, {kSerialOf, "日付"}, {kTruthOf, "条件"}, {kCompare, "比較"},
    {kMaxOf, "Max"}, {kMinOf, "Min"}, {kNullIfMoment, "NullIf"},
};

}  // namespace

QString writtenAs(const QString& word) {
    for (const Name& n : kNames)
        if (word.compare(QLatin1StringView(n.internal), Qt::CaseInsensitive) == 0) return QString::fromUtf8(n.written);
    return word;
}

namespace {

bool isWordChar(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

}  // namespace

// Each whole word tarlo_xxx (any case) in its written name. Scanned by hand:
// messages are made on a run's own thread, where a regular expression's
// per-thread state is freed wrongly by the Windows thread runtime.
QString withWrittenNames(const QString& text) {
    const QLatin1String prefix("tarlo_");
    QString out;
    qsizetype copied = 0;
    for (qsizetype at = text.indexOf(prefix, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(prefix, at + 1, Qt::CaseInsensitive)) {
        if (at > 0 && isWordChar(text[at - 1])) continue;
        qsizetype end = at + prefix.size();
        while (end < text.size() && ((text[end] >= u'a' && text[end] <= u'z') || (text[end] >= u'A' && text[end] <= u'Z')))
            ++end;
        if (end == at + prefix.size() || (end < text.size() && isWordChar(text[end]))) continue;
        out += QStringView(text).sliced(copied, at - copied);
        out += writtenAs(text.mid(at, end - at));
        copied = end;
        at = end - 1;
    }
    out += QStringView(text).sliced(copied);
    return out;
}

const char* calledAs(const QString& word) {
    static constexpr const char* kDollarForms[] = {"Mid", "Format", "Trim", "LTrim", "RTrim", "UCase", "LCase",
                                                   "Space", "String", "Chr", "ChrW", "Str", "Hex", "Oct"};
    QStringView plain = word;
    const bool dollar = plain.endsWith(u'$');
    if (dollar) plain.chop(1);
    for (const Name& n : kNames)
        if ((n.internal == kLeft || n.internal == kRight || n.internal == kIsNull || n.internal == kPartition) &&
            plain.compare(QLatin1StringView(n.written), Qt::CaseInsensitive) == 0)
            return (n.internal == kIsNull || n.internal == kPartition) && dollar ? nullptr : n.internal;
    if (dollar)
        for (const char* form : kDollarForms)
            if (plain.compare(QLatin1StringView(form), Qt::CaseInsensitive) == 0) return form;
    return nullptr;
}

const char* operatorFunction(const Token& op) {
    static const std::pair<const char*, const char*> calls[] = {
        {"^", kPower}, {"*", kMultiply}, {"/", kDivide},  {"\\", kIntDivide}, {"MOD", kMod}, {"+", kAdd},
        {"-", kSubtract}, {"&", kConcat}, {"XOR", kXor},     {"EQV", kEqv}, {"IMP", kImp},
    };
    const bool symbol = op.kind == TokenKind::Symbol, word = op.kind == TokenKind::Word;
    for (const auto& [written, function] : calls)
        if ((symbol && op.text == QLatin1String(written)) || (word && op.text.compare(QLatin1String(written), Qt::CaseInsensitive) == 0))
            return function;
    return nullptr;
}

}  // namespace tarlo::call
