// The one map between the translator's internal calls and the user's words.
#include "dialect/internal_names.h"

#include <QRegularExpression>

namespace tarlo::call {

namespace {

struct Name {
    const char* internal;
    const char* written;
};

constexpr Name kNames[] = {
    {kAdd, "+"},     {kSubtract, "-"},  {kDivide, "/"},   {kIntDivide, "\\"}, {kMod, "Mod"},
    {kPower, "^"},   {kConcat, "&"},    {kXor, "Xor"},    {kEqv, "Eqv"},      {kImp, "Imp"},
    {kLeft, "Left"}, {kRight, "Right"}, {kIsNull, "IsNull"},
    {kNumberOf, "数値"}, {kDateOf, "日付"}, {kCompare, "比較"},
};

}  // namespace

QString writtenAs(const QString& word) {
    for (const Name& n : kNames)
        if (word.compare(QLatin1StringView(n.internal), Qt::CaseInsensitive) == 0) return QString::fromLatin1(n.written);
    return word;
}

QString withWrittenNames(const QString& text) {
    static const QRegularExpression internal(QStringLiteral("\\btarlo_[a-z]+\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype at = 0;
    for (auto it = internal.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).sliced(at, m.capturedStart() - at);
        out += writtenAs(m.captured());
        at = m.capturedEnd();
    }
    out += QStringView(text).sliced(at);
    return out;
}

const char* keywordFunction(const QString& word) {
    for (const Name& n : kNames)
        if ((n.internal == kLeft || n.internal == kRight || n.internal == kIsNull) &&
            word.compare(QLatin1StringView(n.written), Qt::CaseInsensitive) == 0)
            return n.internal;
    return nullptr;
}

}  // namespace tarlo::call
