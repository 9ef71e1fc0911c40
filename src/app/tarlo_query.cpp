// tarlo-query: runs one statement over a folder's CSV files on the same
// engine as the window, and writes the rows as TSV exactly as the result
// pane shows them (fields joined by TAB, LF after each row), or as CSV,
// JSON or a Markdown table, in UTF-8 or CP932.
#include "csv/csv_table.h"
#include "csv/table_cache.h"
#include "csv/table_file.h"
#include "csv/table_format.h"
#include "engine/connection.h"
#include "platform/console.h"
#include "platform/cp932_codec.h"
#include "platform/error.h"
#include "platform/file_io.h"
#include "platform/text_encoding.h"
#include "platform/text_lines.h"
#include "workspace/query_file.h"
#include "workspace/result_writer.h"
#include "workspace/statement_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr const char* kUsage =
    "usage: tarlo-query [-C DIR] [--header] [--format FORMAT] [--encoding ENCODING] [--bom]\n"
    "                   (-f QUERYFILE | -e STATEMENT | - | --types TABLE)\n"
    "  -C DIR               the folder whose CSV files are the tables (default: the current folder)\n"
    "  -f QUERYFILE         run a query file's statement (its text up to the first \";\")\n"
    "  -e STATEMENT         run STATEMENT as given\n"
    "  -                    read the statement from standard input (up to the first \";\")\n"
    "  --header             tsv: print the field names first (csv, json and markdown always name them)\n"
    "  --format FORMAT      tsv (default: as the result pane shows the rows), csv (RFC 4180, CR LF),\n"
    "                       json (an array of objects), markdown (a table)\n"
    "  --encoding ENCODING  utf-8 (default) or cp932 (Shift_JIS, as Excel on Japanese Windows reads CSV)\n"
    "  --bom                start UTF-8 output with a byte-order mark\n"
    "  --types TABLE        print each column of TABLE (sales.csv or sales#csv) with its type: integer,\n"
    "                       real, date, datetime, time or text; for a text column of mostly numbers or dates,\n"
    "                       the first value that made it text and its line\n"
    "  -h, --help           this text\n"
    "exit status: 0 done, 1 the statement or its output failed (the message on stderr), 2 a usage error\n"
    "example:\n"
    "  tarlo-query -C sample -f 'sample/q~都市別.txt' --format csv --encoding cp932 > out.csv\n";

// Each column of a table and its type, a line each, TAB between the fields.
std::string columnTypes(const QString& folder, QString table) {
    table.replace(QLatin1Char('#'), QLatin1Char('.'));
    if (QFileInfo(table).suffix().isEmpty()) table += QStringLiteral(".csv");
    const QString path = tarlo::resolveTableFile(folder, table);
    // A file too big to hold is typed a piece at a time, as a statement reads it.
    const auto loaded = tarlo::TableCache::shared().get(path);
    static const char* const kNames[] = {"integer", "real", "date", "datetime", "text", "time"};
    std::string out;
    for (size_t c = 0; c < loaded->columnCount(); ++c) {
        out += loaded->columnNames()[c] + "\t" + kNames[int(loaded->columnTypes()[c])];
        if (const auto cause = loaded->textCause(c)) {
            out += "\t\"" + cause->value + "\"";
            if (cause->line) out += " (line " + std::to_string(cause->line) + ")";
        }
        out += "\n";
    }
    return out;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "tarlo-query: %s\n%s", message.c_str(), kUsage);
    return 2;
}

std::optional<tarlo::OutputFormat> formatNamed(const std::string& name) {
    if (name == "tsv") return tarlo::OutputFormat::Tsv;
    if (name == "csv") return tarlo::OutputFormat::Csv;
    if (name == "json") return tarlo::OutputFormat::Json;
    if (name == "markdown" || name == "md") return tarlo::OutputFormat::Markdown;
    return std::nullopt;
}

// A failure to write the output, which cut it short: its message says so already.
class OutputError : public tarlo::Error {
public:
    using tarlo::Error::Error;
};

// Standard output that tells when its bytes did not arrive: a short write,
// or a flush or close that fails (a full disk, /dev/full, a reader gone),
// so a result cut short never passes for a whole one.
// A console is written as text, not bytes, so the rows read as they are on
// any code page.
class StandardOutput {
public:
    explicit StandardOutput(bool cp932) : cp932_(cp932), console_(tarlo::isConsole(stdout)) {}
    void write(std::string_view bytes) {
        if (bytes.empty()) return;
        errno = 0;
        if (console_) {
            QString text = cp932_ ? tarlo::decodeCp932Piece(QByteArrayView(bytes.data(), qsizetype(bytes.size())))
                                  : QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
            if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
            if (!tarlo::writeToConsole(stdout, text)) fail(0);
            return;
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) fail(errno);
    }
    // Everything written reaches its destination, or Error says it did not.
    void close() {
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail(errno);
        errno = 0;
        if (std::fclose(stdout) != 0) fail(errno);
    }
private:
    bool cp932_;
    bool console_;
    [[noreturn]] static void fail(int code) {
        const QString reason = code ? tarlo::systemErrorText(code) : QStringLiteral("書き込みが失敗しました");
        throw OutputError(tarlo::ErrorFacts{.word = reason}, u"結果を標準出力に書けません (%1)。出力は途中までです。", reason);
    }
};

// A message on stderr: as text to a console, else in UTF-8 on every system,
// which holds whatever character it names (a code page's best fit would
// name one that is not there).
void writeMessage(const QString& text) {
    if (tarlo::isConsole(stderr) && tarlo::writeToConsole(stderr, text)) return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// A console or terminal that a person watches.
bool watched(std::FILE* f) {
#ifdef Q_OS_WIN
    return tarlo::isConsole(f);
#else
    return ::isatty(fileno(f)) == 1;
#endif
}

// While a file too big to hold is read in pieces, a console is told how
// far, "分割読込 42%" on a line of its own that is cleared at the end; only
// where the rows go elsewhere, so the two never mix.
class PiecesProgress {
public:
    explicit PiecesProgress(tarlo::Connection& connection) : connection_(connection) {
        if (!watched(stderr) || watched(stdout)) return;
        connection.tellPiecesReadIn(&share_);
        watcher_ = std::thread([this] { watch(); });
    }
    ~PiecesProgress() {
        if (!watcher_.joinable()) return;
        connection_.tellPiecesReadIn(nullptr);
        {
            std::lock_guard guard(lock_);
            done_ = true;
        }
        wake_.notify_one();
        watcher_.join();
        if (shown_ >= 0) writeMessage(QStringLiteral("\r%1\r").arg(QString(16, QLatin1Char(' '))));
    }

private:
    void watch() {
        std::unique_lock guard(lock_);
        while (!wake_.wait_for(guard, std::chrono::milliseconds(250), [this] { return done_; })) {
            const int percent = share_ < 0 ? -1 : int(share_ * 100);
            if (percent < 0 || percent == shown_) continue;
            shown_ = percent;
            writeMessage(QStringLiteral("\r分割読込 %1%").arg(percent));
        }
    }

    tarlo::Connection& connection_;
    std::atomic<double> share_{-1};
    int shown_ = -1;
    std::mutex lock_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread watcher_;
};

// The folder of the tables must be one we can read: a mistyped -C would
// otherwise run statements that name no table as if all were well.
void checkFolder(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.exists())
        throw tarlo::Error(tarlo::ErrorFacts{.file = folder}, u"フォルダー \"%1\" がありません。", folder);
    if (!info.isDir())
        throw tarlo::Error(tarlo::ErrorFacts{.file = folder}, u"\"%1\" はフォルダーではありません。", folder);
#ifdef Q_OS_WIN
    if (!QDir(folder).isReadable())
        throw tarlo::Error(tarlo::ErrorFacts{.file = folder}, u"フォルダー \"%1\" を読めません。", folder);
#else
    if (::access(QFile::encodeName(folder).constData(), R_OK | X_OK) != 0)
        throw tarlo::Error(tarlo::ErrorFacts{.file = folder}, u"フォルダー \"%1\" を読めません (%2)。", folder,
                           tarlo::systemErrorText(errno));
#endif
}

// The arguments as the user typed them. Windows gives main() the ANSI code
// page's bytes, where a name it cannot hold is lost: the wide command line has all.
std::vector<QString> argumentsOf(int argc, char** argv) {
    std::vector<QString> out;
#ifdef Q_OS_WIN
    int n = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &n)) {
        for (int i = 0; i < n; ++i) out.push_back(QString::fromWCharArray(wide[i]));
        ::LocalFree(wide);
        return out;
    }
#endif
    for (int i = 0; i < argc; ++i) out.push_back(QString::fromLocal8Bit(argv[i]));
    return out;
}

QString readStandardInput() {
    QByteArray bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) bytes.append(buffer, qsizetype(n));
    return tarlo::decodeText(bytes).text;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef Q_OS_WIN
    // The bytes as written, on every system: CSV brings its own CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    const std::vector<QString> args = argumentsOf(argc, argv);
    argc = int(args.size());
    QString folder = QDir::currentPath();
    QString statement, queryFile, typesOf;
    bool header = false, bom = false, haveStatement = false, fromInput = false;
    tarlo::OutputFormat format = tarlo::OutputFormat::Tsv;
    std::string encoding = "utf-8";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = args[size_t(i)].toStdString();
        if (arg == "--header") {
            header = true;
        } else if (arg == "--bom") {
            bom = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "-") {
            if (haveStatement) return usageError("give one of -f, -e, - and --types");
            haveStatement = fromInput = true;
        } else if (arg == "-C" || arg == "-f" || arg == "-e" || arg == "--format" || arg == "--encoding" || arg == "--types") {
            if (i + 1 >= argc) return usageError("missing value after " + arg);
            const QString value = args[size_t(++i)];
            const std::string raw = value.toStdString();
            if (arg == "-C") {
                folder = value;
            } else if (arg == "--format") {
                const auto f = formatNamed(raw);
                if (!f) return usageError("unknown format: " + raw + " (tsv, csv, json or markdown)");
                format = *f;
            } else if (arg == "--encoding") {
                if (raw != "utf-8" && raw != "utf8" && raw != "cp932" && raw != "shift_jis")
                    return usageError("unknown encoding: " + raw + " (utf-8 or cp932)");
                encoding = raw;
            } else if (haveStatement) {
                return usageError("give one of -f, -e, - and --types");
            } else if (arg == "--types") {
                haveStatement = true;
                typesOf = value;
            } else {
                haveStatement = true;
                (arg == "-f" ? queryFile : statement) = value;
            }
        } else {
            return usageError("unknown argument: " + arg);
        }
    }
    if (!haveStatement) return usageError("no statement: give -f, -e, - or --types");
    const bool cp932 = encoding == "cp932" || encoding == "shift_jis";
    if (cp932 && bom) return usageError("--bom is for UTF-8 output");
    const QString folderGiven = folder;
    if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QDir::separator())) folder += QLatin1Char('/');

    StandardOutput out(cp932);
    qint64 rowsWritten = 0;
    bool inRows = false;
    // A failure once rows are going out leaves the output cut short: the message says so.
    const auto fail = [&](const QString& message) {
        QString text = message;
        if (inRows) text += QStringLiteral("\n出力は途中までです (%1 行まで書きました)。").arg(rowsWritten);
        writeMessage(text + QLatin1Char('\n'));
        return 1;
    };
    try {
        checkFolder(folderGiven);
        if (!typesOf.isEmpty()) {
            const std::string text = columnTypes(folder, typesOf);
            if (cp932) {
                const QByteArray bytes = tarlo::encodeText(QString::fromStdString(text), tarlo::TextEncoding::Cp932);
                out.write(std::string_view(bytes.constData(), size_t(bytes.size())));
            } else {
                out.write(text);
            }
            out.close();
            return 0;
        }
        if (fromInput) {
            statement = tarlo::statementOf(readStandardInput());
        } else if (!queryFile.isEmpty()) {
            const tarlo::QueryFile file = tarlo::readQueryFile(queryFile);
            if (!file.exists) throw tarlo::Error({.file = queryFile}, u"クエリファイル \"%1\" がありません。", queryFile);
            statement = tarlo::statementOf(tarlo::joinLinesCrLf(file.lines));
        }
        tarlo::Connection connection;
        connection.open(folder);
        const PiecesProgress progress(connection);
        auto result = connection.execute(statement + QStringLiteral("\r\n"));
        const int fields = result->fieldCount();
        tarlo::ResultWriter writer(format,
                                   cp932 ? tarlo::OutputEncoding::Cp932
                                         : bom ? tarlo::OutputEncoding::Utf8WithBom : tarlo::OutputEncoding::Utf8,
                                   header);
        QStringList names;
        for (int f = 0; f < fields; ++f) names << result->fieldName(f);
        writer.begin(names);
        inRows = true;
        std::vector<tarlo::OutputField> row(static_cast<size_t>(fields));
        qint64 rowsMade = 0;
        try {
            for (; !result->atEnd(); result->next()) {
                for (int f = 0; f < fields; ++f) {
                    tarlo::Result::FieldKind kind;
                    const std::string_view text = result->field(f, kind);
                    row[size_t(f)] = {kind == tarlo::Result::FieldKind::Null     ? tarlo::OutputField::Null
                                      : kind == tarlo::Result::FieldKind::Number ? tarlo::OutputField::Number
                                                                                 : tarlo::OutputField::Text,
                                      text};
                }
                writer.row(row);
                ++rowsMade;
                // Written as it comes, in either encoding: memory holds a megabyte of output, not the result.
                if (writer.output().size() > (1 << 20)) {
                    out.write(writer.output());
                    writer.dropOutput();
                    rowsWritten = rowsMade;
                }
            }
        } catch (const OutputError&) {
            throw;
        } catch (const tarlo::Error&) {
            // The rows before the one that failed are whole: they go out before the message.
            out.write(writer.output());
            writer.dropOutput();
            rowsWritten = rowsMade;
            throw;
        }
        out.write(writer.finish());
        rowsWritten = rowsMade;
        inRows = false;
        out.close();
    } catch (const OutputError& e) {
        inRows = false;
        return fail(e.message());
    } catch (const tarlo::Error& e) {
        return fail(e.message());
    } catch (const tarlo::Cancelled&) {
        return fail(QStringLiteral("cancelled"));
    } catch (const std::bad_alloc&) {
        return fail(QStringLiteral("メモリが足りません。"));
    }
    return 0;
}
