// Where each part of a rewritten statement came from in the statement the
// user wrote: every rewrite writes its text with the user's span of each
// piece, so a place found in the text SQLite reads (its error offset, a
// token one of our checks refuses) is named in the user's own text.
#pragma once

#include <QString>
#include <QStringView>

#include <initializer_list>
#include <vector>

namespace tarlo {

// A range of the user's statement, in UTF-16 units.
struct Span {
    qsizetype offset = 0;
    qsizetype length = 0;
    qsizetype end() const { return offset + length; }
};

// A text, and for each of its ranges the span of the user's statement it
// stands for. A piece as long as its span maps character by character;
// any other stands for its span as a whole.
class MappedText {
public:
    MappedText() = default;
    // The user's statement itself.
    static MappedText original(const QString& text);
    // text standing for from.
    MappedText(const QString& text, Span from) { append(text, from); }

    const QString& text() const { return text_; }
    bool isEmpty() const { return text_.isEmpty(); }

    void append(const QString& text, Span from);
    void append(const MappedText& more);

    // The user's span the text [from, to) came from.
    Span spanOf(qsizetype from, qsizetype to) const;
    // The span the whole text came from.
    Span span() const { return spanOf(0, text_.size()); }

    MappedText mid(qsizetype from, qsizetype to) const;
    // Without blanks at either end.
    MappedText trimmed() const;

private:
    struct Piece {
        qsizetype at;  // where it starts in text_; it runs to the next one's start
        Span from;
    };
    size_t pieceAt(qsizetype offset) const;
    qsizetype pieceEnd(size_t piece) const;
    qsizetype userOffset(qsizetype offset, bool end) const;

    QString text_;
    std::vector<Piece> pieces_;
};

// pattern with %1 to %9 filled from args in one pass; the pattern's own
// text stands for from ("%%" is one "%").
MappedText composeMapped(QStringView pattern, Span from, std::initializer_list<MappedText> args);
// The parts with separator between them, standing for from.
MappedText joinMapped(const std::vector<MappedText>& parts, const QString& separator, Span from);

// A place in the user's statement as the editor shows it: lines broken at
// CR LF, CR or LF, the column counted in UTF-16 units from 1 (a Japanese
// character is one).
struct TextPlace {
    qint64 line = 1;
    int column = 1;
};
TextPlace placeIn(const QString& statement, qsizetype offset);

}  // namespace tarlo
