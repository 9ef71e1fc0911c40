// tarlo-query: runs one statement over a folder's CSV files on the same
// engine as the window, and prints the rows exactly as the result pane
// shows them: fields joined by TAB, LF after each row.
#include "platform/error.h"
#include "engine/connection.h"
#include "workspace/statement_text.h"
#include "workspace/query_file.h"
#include "platform/text_lines.h"

#include <QDir>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: tarlo-query [-C DIR] [--header] (-f QUERYFILE | -e STATEMENT)\n"
    "  -C DIR        the folder whose CSV files are the tables (default: the current folder)\n"
    "  --header      print the field names first\n"
    "  -f QUERYFILE  run a query file's statement (its text up to the first \";\")\n"
    "  -e STATEMENT  run STATEMENT as given\n";

int usageError(const char* message) {
    std::fprintf(stderr, "tarlo-query: %s\n%s", message, kUsage);
    return 2;
}

class Output {
public:
    ~Output() { flush(); }
    void append(std::string_view s) {
        buffer_.append(s);
        if (buffer_.size() > (1 << 20)) flush();
    }
    void flush() {
        std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        buffer_.clear();
    }

private:
    std::string buffer_;
};

}  // namespace

int main(int argc, char** argv) {
    QString folder = QDir::currentPath();
    QString statement;
    QString queryFile;
    bool header = false;
    bool haveStatement = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--header") {
            header = true;
        } else if (arg == "-C" || arg == "-f" || arg == "-e") {
            if (i + 1 >= argc) return usageError("missing value after an option");
            const QString value = QString::fromLocal8Bit(argv[++i]);
            if (arg == "-C") folder = value;
            else if (haveStatement) return usageError("give one of -f and -e");
            else {
                haveStatement = true;
                (arg == "-f" ? queryFile : statement) = value;
            }
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            return usageError(("unknown argument: " + arg).c_str());
        }
    }
    if (!haveStatement) return usageError("no statement: give -f or -e");
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');

    try {
        if (!queryFile.isEmpty()) {
            const tarlo::QueryFile file = tarlo::readQueryFile(queryFile);
            if (!file.exists) throw tarlo::Error({.file = queryFile}, u"クエリファイル \"%1\" がありません。", queryFile);
            statement = tarlo::statementOf(tarlo::joinLinesCrLf(file.lines));
        }
        tarlo::Connection connection;
        connection.open(folder);
        auto result = connection.execute(statement + QStringLiteral("\r\n"));
        Output out;
        const int fields = result->fieldCount();
        if (header) {
            for (int f = 0; f < fields; ++f) {
                if (f) out.append("\t");
                out.append(result->fieldName(f).toStdString());
            }
            out.append("\n");
        }
        for (; !result->atEnd(); result->next()) {
            for (int f = 0; f < fields; ++f) {
                if (f) out.append("\t");
                out.append(result->fieldUtf8(f));
            }
            out.append("\n");
        }
    } catch (const tarlo::Error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.message().toLocal8Bit().constData());
        return 1;
    } catch (const tarlo::Cancelled&) {
        std::fprintf(stderr, "cancelled\n");
        return 1;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "メモリが足りません。\n");
        return 1;
    }
    return 0;
}
