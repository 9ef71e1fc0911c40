// A file read a piece at a time against the same file loaded whole: the
// same columns, types and shown values row by row, or the same message,
// for made files whose pieces cut where typing, decoding and quoting are
// hardest, and for every file of our corpus and the shared corpora.
#include "csv/pieced_file.h"
#include "csv/table_cache.h"
#include "csv/table_format.h"
#include "platform/error.h"
#include "support/corpora.h"
#include "support/temp_folder.h"

#include <QDirIterator>
#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Read {
    std::vector<std::string> names;
    std::vector<tarlo::ColumnType> types;
    std::vector<std::string> rows;  // each row's values shown, joined by |
    std::string error;
};

std::string rowOf(const tarlo::CsvTable& t, size_t r) {
    std::string row;
    for (size_t c = 0; c < t.columnCount(); ++c) row += (c ? "|" : "") + t.displayText(r, c);
    return row;
}

Read whole(const QString& path, const tarlo::TableFormat& format) {
    Read out;
    try {
        const auto t = tarlo::CsvTable::load(path, {}, format);
        out.names = t->columnNames();
        out.types = t->columnTypes();
        for (size_t r = 0; r < t->rowCount(); ++r) out.rows.push_back(rowOf(*t, r));
    } catch (const tarlo::Error& e) {
        out.error = e.what();
    }
    return out;
}

Read inPieces(const QString& path, const tarlo::TableFormat& format, size_t pieceBytes, size_t* pieces = nullptr) {
    Read out;
    try {
        const auto schema = tarlo::PiecedFile::open(path, {}, format, pieceBytes);
        out.names = schema->columnNames();
        out.types = schema->columnTypes();
        const tarlo::PiecedFile& file = *schema->pieces();
        if (pieces) *pieces = file.pieceCount();
        for (size_t k = 0; k < file.pieceCount(); ++k) {
            const auto piece = file.piece(k);
            EXPECT_EQ(piece->columnTypes(), out.types) << "piece " << k;
            EXPECT_EQ(file.firstRowOf(k), out.rows.size());
            for (size_t r = 0; r < piece->rowCount(); ++r) out.rows.push_back(rowOf(*piece, r));
        }
        EXPECT_EQ(file.rowCount(), out.rows.size());
    } catch (const tarlo::Error& e) {
        out = Read{{}, {}, {}, e.what()};  // a failure answers no row
    }
    return out;
}

void expectSame(const QString& path, const std::string& what, const tarlo::TableFormat& format = {},
                std::initializer_list<size_t> pieceSizes = {7, 61, 1000}) {
    const Read a = whole(path, format);
    for (const size_t bytes : pieceSizes) {
        const Read b = inPieces(path, format, bytes);
        if (b.error.find("UTF-16 なので") != std::string::npos) return;  // read whole, or refused for its size
        EXPECT_EQ(a.error, b.error) << what << " in pieces of " << bytes;
        EXPECT_EQ(a.names, b.names) << what << " in pieces of " << bytes;
        EXPECT_EQ(a.types, b.types) << what << " in pieces of " << bytes;
        EXPECT_EQ(a.rows, b.rows) << what << " in pieces of " << bytes;
    }
}

}  // namespace

TEST(PiecedFile, MadeFilesReadAsAWholeLoadReadsThem) {
    TempFolder folder;
    std::string text = "id,n,d,note,\"quoted\r\nname\"\r\n";
    for (int i = 1; i <= 60; ++i) {
        text += std::to_string(i) + ",";
        // Integers until a real near the end, with a placeholder null between.
        text += i == 57 ? "2.5" : i == 30 ? "." : std::to_string(i * 1000);
        // Dates until one with a time in a late piece; a time alone beside them.
        text += i == 50 ? ",2024/03/01 12:30" : i == 40 ? ",9:15" : ",2024/01/" + std::to_string(i % 28 + 1);
        // Quoted line breaks, doubled quotes, a lone CR line end and a long row.
        text += i % 9 == 0 ? ",\"two\nlines, \"\"q\"\"\"" : i % 11 == 0 ? ",x\r" : ",x";
        text += i == 45 ? ",a,extra,more\n" : i % 2 ? ",y\r\n" : ",y\n";
    }
    const QString path = folder.write("made.csv", QByteArray::fromStdString(text));
    expectSame(path, "made");
    size_t pieces = 0;
    EXPECT_EQ(inPieces(path, {}, 61, &pieces).error, "");
    EXPECT_GT(pieces, 20u);

    // A byte-order mark is the first piece's alone, not each piece's.
    QByteArray marked = "\xEF\xBB\xBFid,v\n";
    for (int i = 0; i < 40; ++i) marked += QByteArray::number(i) + ",値" + QByteArray::number(i % 3) + "\n";
    expectSame(folder.write("marked.csv", marked), "byte-order mark");
    // CP932 only after the first piece: the file is read again as CP932.
    QByteArray sjis = "k,v\n";
    for (int i = 0; i < 40; ++i) sjis += QByteArray::number(i) + ",abc\n";
    sjis += "40,\x83\x65\x83\x58\x83\x67\n41,\x95\x5c\n";  // テスト, 表 (a trail byte that is a backslash)
    expectSame(folder.write("sjis.csv", sjis), "cp932");
    // A declared date column whose time shows only late; a value that does not fit names its line.
    folder.write("schema.ini", "[dated.csv]\nColNameHeader=True\nFormat=CSVDelimited\nCol1=d DateTime\n"
                               "[bad.csv]\nColNameHeader=True\nFormat=CSVDelimited\nCol1=n Integer\n");
    QByteArray dated = "d\n", bad = "n\n";
    for (int i = 1; i <= 30; ++i) {
        dated += i == 28 ? "2024/02/03 04:05:06\n" : "2024/02/" + QByteArray::number(i % 28 + 1) + "\n";
        bad += i == 25 ? "many\n" : QByteArray::number(i) + "\n";
    }
    expectSame(folder.write("dated.csv", dated), "declared", tarlo::tableFormatFor(folder.file("dated.csv")));
    const tarlo::TableFormat badFormat = tarlo::tableFormatFor(folder.write("bad.csv", bad));
    expectSame(folder.file("bad.csv"), "declared, a bad value", badFormat);
    EXPECT_NE(whole(folder.file("bad.csv"), badFormat).error.find("26 行目"), std::string::npos);
    // An unclosed quote names its line, as one reader does.
    expectSame(folder.write("open.csv", "a,b\n1,2\n3,4\n5,\"six\n7,8\n"), "unclosed");
    // No header: the pieces are named F1, F2, ... alike.
    tarlo::TableFormat headless;
    headless.header = false;
    expectSame(folder.write("plain.csv", "1,2\n3,4\n5,6,7\n8,9\n"), "no header", headless);
    expectSame(folder.write("plain-marked.csv", "\xEF\xBB\xBF" "1,2\n3,4\n5,6,7\n8,9\n"), "no header, a mark", headless);
}

TEST(PiecedFile, EveryCorpusFileReadsAsAWholeLoadReadsIt) {
    int files = 0;
    for (QDirIterator it(QStringLiteral(TARLO_TEST_CORPUS_DIR), {"*.csv"}, QDir::Files); it.hasNext(); ++files) {
        const QString path = it.next();
        expectSame(path, path.toStdString());
    }
    EXPECT_GE(files, 10);
    REQUIRE_CORPORA();
    for (QDirIterator it(corporaDir(), {"*.csv", "*.txt", "*.tsv"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (QFileInfo(path).size() > (16 << 10)) continue;
        expectSame(path, path.toStdString(), {}, {61});
        ++files;
    }
    EXPECT_GT(files, 500);
}

TEST(PiecedFile, AFileChangedBetweenPiecesIsNeverReadAsAMixture) {
    TempFolder folder;
    QByteArray text = "a,b\n";
    for (int i = 0; i < 100; ++i) text += QByteArray::number(i) + ",x\n";
    const QString path = folder.write("t.csv", text);
    const auto schema = tarlo::PiecedFile::open(path, {}, {}, 64);
    const tarlo::PiecedFile& file = *schema->pieces();
    EXPECT_EQ(file.piece(0)->rowCount() > 0, true);
    folder.write("t.csv", text + "100,y\n");
    try {
        file.piece(1);
        ADD_FAILURE() << "a changed file read on";
    } catch (const tarlo::Error& e) {
        EXPECT_NE(std::string(e.what()).find("書き換えられています"), std::string::npos) << e.what();
    }
    std::atomic<bool> stop = true;
    EXPECT_THROW(tarlo::PiecedFile::open(path, {}, {}, 64)->pieces()->piece(0, &stop), tarlo::Cancelled);
    EXPECT_THROW(tarlo::PiecedFile::open(path, [](double) { return false; }, {}, 64), tarlo::Cancelled);
}

TEST(PiecedFile, TheCacheKeepsWherePiecesStartUntilThereIsRoomForTheWholeFile) {
    TempFolder folder;
    const QString path = folder.write("t.csv", "a,b\n1,x\n2,y\n3,z\n");
    tarlo::TableCache cache(size_t(1) << 30);
    qputenv("TARLO_MEMORY_BOUND", "1");
    const auto first = cache.get(path);
    ASSERT_NE(first->pieces(), nullptr);
    EXPECT_EQ(cache.get(path), first) << "read again for each statement";
    qunsetenv("TARLO_MEMORY_BOUND");
    const auto whole = cache.get(path);
    EXPECT_EQ(whole->pieces(), nullptr);
    EXPECT_EQ(whole->rowCount(), 3u);
}
