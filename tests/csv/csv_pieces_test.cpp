// Reading in pieces on every core against one reader: for every file of our
// corpus and of the shared corpora, and for texts made to put quoted line
// breaks, blank lines and long rows across the pieces' starts, the very
// same text, header, cells and row count, or the very same message.
#include "csv/csv_reader.h"
#include "platform/error.h"
#include "support/corpora.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

using tarlo::CsvData;

namespace {

struct Read {
    CsvData data;
    std::string error;
};

Read readWith(const QByteArray& bytes, size_t pieces, const tarlo::CsvDialect& dialect) {
    Read out;
    try {
        tarlo::TextBuffer text = tarlo::decodeToUtf8(tarlo::textBufferOf({bytes.constData(), size_t(bytes.size())}));
        out.data = pieces ? tarlo::parseCsvInPieces(std::move(text), "t.csv", {}, dialect, pieces)
                          : tarlo::parseCsv(std::move(text), "t.csv", {}, dialect);
    } catch (const tarlo::Error& e) {
        out.error = e.what();
    }
    return out;
}

bool sameRef(tarlo::FieldRef a, tarlo::FieldRef b) {
    return a.offset() == b.offset() && a.length() == b.length();
}

void expectSame(const QByteArray& bytes, const std::string& name, const tarlo::CsvDialect& dialect = {}) {
    const Read one = readWith(bytes, 0, dialect);
    for (const size_t pieces : {2, 3, 7, 50}) {
        const Read many = readWith(bytes, pieces, dialect);
        const std::string where = name + " in " + std::to_string(pieces) + " pieces";
        ASSERT_EQ(many.error, one.error) << where;
        if (!one.error.empty()) continue;
        const CsvData& a = one.data;
        const CsvData& b = many.data;
        ASSERT_EQ(b.text.size(), a.text.size()) << where;
        if (a.text.size()) {
            EXPECT_EQ(std::memcmp(b.text.data(), a.text.data(), a.text.size()), 0) << where << ": the unescaped text differs";
        }
        ASSERT_EQ(b.rows, a.rows) << where;
        ASSERT_EQ(b.header.size(), a.header.size()) << where;
        for (size_t c = 0; c < a.header.size(); ++c) EXPECT_TRUE(sameRef(b.header[c], a.header[c])) << where;
        ASSERT_EQ(b.columns.size(), a.columns.size()) << where;
        for (size_t c = 0; c < a.columns.size(); ++c) {
            EXPECT_EQ(b.columns[c].firstRow, a.columns[c].firstRow) << where << " column " << c;
            ASSERT_EQ(b.columns[c].cells.size(), a.columns[c].cells.size()) << where << " column " << c;
            for (size_t r = 0; r < a.columns[c].cells.size(); ++r)
                ASSERT_TRUE(sameRef(b.columns[c].cells[r], a.columns[c].cells[r])) << where << " column " << c << " cell " << r;
        }
    }
}

}  // namespace

TEST(CsvPieces, MadeTextsReadAsOneReaderReadsThem) {
    std::mt19937 random(18);
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const char* fields[] = {"a", "", "\"q\"", "\"x,\ny\"", "\"\"\"\"", "\"a\"\"b\"tail", "\"\r\n\"", "1.5", "テキスト", "\"\n\n\n\""};
    const char* breaks[] = {"\n", "\r\n", "\r", "\n\n"};
    for (int round = 0; round < 60; ++round) {
        QByteArray text = round % 3 ? "h1,h2,h3\n" : "";
        for (int line = 0; line < 40; ++line) {
            const int width = 1 + pick(round % 5 == 0 ? 6 : 3);
            for (int f = 0; f < width; ++f) text += QByteArray(f ? "," : "") + fields[pick(10)];
            text += breaks[pick(4)];
        }
        if (round % 7 == 0) text += "\"never closed\n,a,b\n";
        expectSame(text, "made text " + std::to_string(round));
        tarlo::CsvDialect noHeader;
        noHeader.header = false;
        expectSame(text, "made text " + std::to_string(round) + " without header", noHeader);
    }
    // Blank lines before the header fill the first piece.
    expectSame(QByteArray(200, '\n') + "a,b\n1,2\n3,4\n", "blank lines first");
    // A quoted field spanning most of the file.
    expectSame("a,b\n1,\"" + QByteArray(500, '\n') + "\"\n2,3\n", "one long quoted field");
    // More columns than allowed, far from the start.
    expectSame("a\n" + QByteArray(300, '\n') + QByteArray(2100, ',') + "\n", "too many columns");
}

TEST(CsvPieces, EveryCorpusFileReadsAsOneReaderReadsIt) {
    int files = 0;
    for (QDirIterator it(QStringLiteral(TARLO_TEST_CORPUS_DIR), {"*.csv"}, QDir::Files); it.hasNext(); ++files) {
        QFile f(it.next());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        expectSame(f.readAll(), f.fileName().toStdString());
    }
    EXPECT_GE(files, 10);
    REQUIRE_CORPORA();
    for (QDirIterator it(corporaDir(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (QFileInfo(path).size() > (1 << 20)) continue;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        expectSame(f.readAll(), path.toStdString());
        ++files;
    }
    EXPECT_GT(files, 900);
}
