#include "dialect/source_map.h"

#include <algorithm>

namespace tarlo {

MappedText MappedText::original(const QString& text) {
    return MappedText(text, Span{0, text.size()});
}

void MappedText::append(const QString& text, Span from) {
    if (text.isEmpty()) return;
    pieces_.push_back({text_.size(), from});
    text_ += text;
}

void MappedText::append(const MappedText& more) {
    for (const Piece& p : more.pieces_) pieces_.push_back({text_.size() + p.at, p.from});
    text_ += more.text_;
}

size_t MappedText::pieceAt(qsizetype offset) const {
    const auto after = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                        [](qsizetype o, const Piece& p) { return o < p.at; });
    return after == pieces_.begin() ? 0 : size_t(after - pieces_.begin() - 1);
}

qsizetype MappedText::pieceEnd(size_t piece) const {
    return piece + 1 < pieces_.size() ? pieces_[piece + 1].at : text_.size();
}

// The user's offset of the character at offset, or (end) just after the one before it.
qsizetype MappedText::userOffset(qsizetype offset, bool end) const {
    const qsizetype character = std::clamp<qsizetype>(end ? offset - 1 : offset, 0, text_.size() - 1);
    const size_t k = pieceAt(character);
    const Piece& p = pieces_[k];
    if (pieceEnd(k) - p.at == p.from.length) return p.from.offset + (character - p.at) + (end ? 1 : 0);
    return end ? p.from.end() : p.from.offset;
}

Span MappedText::spanOf(qsizetype from, qsizetype to) const {
    if (pieces_.empty()) return {};
    const qsizetype begin = userOffset(from, false);
    if (to <= from) return {begin, 0};
    const qsizetype end = userOffset(to, true);
    // Pieces a rewrite put out of the user's order: the first one's span.
    if (end < begin) return pieces_[pieceAt(std::clamp<qsizetype>(from, 0, text_.size() - 1))].from;
    return {begin, end - begin};
}

MappedText MappedText::mid(qsizetype from, qsizetype to) const {
    MappedText out;
    from = std::clamp<qsizetype>(from, 0, text_.size());
    to = std::clamp<qsizetype>(to, from, text_.size());
    if (from == to) return out;
    for (size_t k = pieceAt(from); k < pieces_.size() && pieces_[k].at < to; ++k) {
        const Piece& p = pieces_[k];
        const qsizetype start = std::max(from, p.at), stop = std::min(to, pieceEnd(k));
        if (start >= stop) continue;
        const bool linear = pieceEnd(k) - p.at == p.from.length;
        const Span span = linear ? Span{p.from.offset + (start - p.at), stop - start} : p.from;
        out.append(text_.mid(start, stop - start), span);
    }
    return out;
}

MappedText MappedText::trimmed() const {
    qsizetype from = 0, to = text_.size();
    while (from < to && text_[from].isSpace()) ++from;
    while (to > from && text_[to - 1].isSpace()) --to;
    return mid(from, to);
}

MappedText composeMapped(QStringView pattern, Span from, std::initializer_list<MappedText> args) {
    MappedText out;
    QString literal;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'%' && i + 1 < pattern.size()) {
            const QChar n = pattern[i + 1];
            if (n == u'%') {
                literal += c;
                ++i;
                continue;
            }
            if (n >= u'1' && n <= u'9' && size_t(n.unicode() - u'1') < args.size()) {
                out.append(literal, from);
                literal.clear();
                out.append(args.begin()[n.unicode() - u'1']);
                ++i;
                continue;
            }
        }
        literal += c;
    }
    out.append(literal, from);
    return out;
}

MappedText joinMapped(const std::vector<MappedText>& parts, const QString& separator, Span from) {
    MappedText out;
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) out.append(separator, from);
        out.append(parts[k]);
    }
    return out;
}

TextPlace placeIn(const QString& statement, qsizetype offset) {
    TextPlace place;
    qsizetype lineStart = 0;
    offset = std::clamp<qsizetype>(offset, 0, statement.size());
    for (qsizetype i = 0; i < offset; ++i) {
        const QChar c = statement[i];
        if (c != u'\r' && c != u'\n') continue;
        if (c == u'\r' && i + 1 < offset && statement[i + 1] == u'\n') ++i;
        ++place.line;
        lineStart = i + 1;
    }
    place.column = int(offset - lineStart + 1);
    return place;
}

}  // namespace tarlo
