// A table file too big to hold, read a piece at a time. Opening it reads
// the whole file once: where its pieces start (always at a record's start),
// how many rows each holds, and each column's type from every value, as a
// whole load would type it. A piece is then read again on demand, parsed
// and typed as the whole file, so every piece gives the values a whole
// load would.
#pragma once

#include "csv/csv_table.h"
#include "platform/file_io.h"

#include <atomic>
#include <memory>

namespace tarlo {

class PiecedFile {
public:
    // Pieces of about pieceBytes of the file's bytes (more where one record
    // is longer). Throws Error as a load would, and for a file in UTF-16,
    // which is not read in pieces.
    // The table it gives is the file's columns and their types, with no
    // rows; its pieces() is the file.
    static std::shared_ptr<const CsvTable> open(const QString& path, const ParseProgress& progress,
                                                const TableFormat& format, size_t pieceBytes);
    size_t pieceCount() const { return pieces_.size(); }
    size_t rowCount() const { return rows_; }
    size_t firstRowOf(size_t piece) const { return pieces_[piece].firstRow; }
    // The share of the file's bytes before piece k.
    double shareBefore(size_t k) const { return size_ > 0 ? double(pieces_[k].offset) / double(size_) : 0; }
    // Piece k as a table typed as the file, with the columns of wish (the
    // others empty). Throws Error when the file has changed since it was
    // opened, Cancelled when stop is set.
    std::shared_ptr<const CsvTable> piece(size_t k, const std::atomic<bool>* stop = nullptr, const ColumnWish& wish = {}) const;
    // As CsvTable::lineOfValue, one piece at a time.
    qint64 lineOfValue(size_t column, std::string_view value) const;

private:
    struct Piece {
        qint64 offset = 0;
        size_t bytes = 0;
        size_t firstRow = 0;
        qint64 firstLine = 0;  // the file's line the piece starts on
    };
    PiecedFile() = default;
    qint64 lineOffsetOf(const Piece& piece) const;
    // The piece's text in UTF-8, after the header's for a later piece.
    TextBuffer textOf(const Piece& piece, const std::atomic<bool>* stop) const;
    // Bytes of the file's charset in UTF-8.
    TextBuffer decoded(TextBuffer bytes, const std::atomic<bool>* stop) const;
    CsvData parse(const Piece& piece, TextBuffer utf8, const ParseProgress& progress = {}, const ColumnChoice& choose = {}) const;

    QString path_;
    TableFormat format_;
    Charset charset_ = Charset::Utf8;
    FileIdentity identity_;
    QByteArray header_;  // the header record's bytes, put before each later piece
    std::vector<Piece> pieces_;
    size_t rows_ = 0;
    qint64 size_ = 0;
    std::vector<ColumnType> types_;
};

}  // namespace tarlo
