// Table files rewritten while they are read, as another program saving
// them does: one open that empties the file and one write of the new text.
#include "csv/csv_table.h"
#include "csv/table_cache.h"
#include "platform/error.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kRows = 40000;

// A version of the file: every row's key the same letter, so a mixture of
// two versions has rows of both.
QByteArray version(char letter) {
    QByteArray text = "k,v\n";
    char row[32];
    for (int i = 0; i < kRows; ++i) {
        std::snprintf(row, sizeof row, "%c,%06d\n", letter, i);
        text += row;
    }
    return text;
}

void replaceInOneWrite(const QString& path, const QByteArray& text) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.constData(), size_t(text.size())), text.size());
    ::close(fd);
}

// The letter of the version the table holds whole, or 0 for anything else.
char wholeVersion(const tarlo::CsvTable& table) {
    if (table.rowCount() != kRows || table.columnCount() != 2) return 0;
    const std::string first = table.displayText(0, 0);
    for (size_t row = 0; row < table.rowCount(); ++row)
        if (table.displayText(row, 0) != first || std::stoul(table.displayText(row, 1)) != row) return 0;
    return first.size() == 1 ? first[0] : 0;
}

// Rewrites the file in bursts of back-to-back writes with pauses between,
// so reads meet it both changing and settled. The last version written is
// left in last.
class Rewriter {
public:
    Rewriter(const QString& path, std::atomic<char>& last) : thread_([this, path, &last] {
        const QByteArray a = version('A'), b = version('B');
        for (int burst = 0; !stop_; ++burst) {
            for (int i = 0; i < 40 && !stop_; ++i) {
                const bool useA = (burst + i) % 2 == 0;
                replaceInOneWrite(path, useA ? a : b);
                last = useA ? 'A' : 'B';
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    }) {}
    ~Rewriter() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Tally {
    int whole = 0, refused = 0, mixed = 0;
};

template <typename Load>
Tally readWhileRewritten(const QString& path, Load load) {
    std::atomic<char> last{'A'};
    Tally tally;
    Rewriter rewriter(path, last);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end) {
        try {
            (wholeVersion(*load()) ? tally.whole : tally.mixed)++;
        } catch (const tarlo::Error& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("書き換えられています"))) << e.message().toStdString();
            ++tally.refused;
        }
    }
    return tally;
}

}  // namespace

TEST(ChangingFile, AReadIsOneVersionWholeOrRefused) {
    TempFolder folder;
    const QString path = folder.write("t.csv", version('A'));
    const Tally tally = readWhileRewritten(path, [&] { return tarlo::CsvTable::load(path); });
    EXPECT_EQ(tally.mixed, 0) << tally.whole << " whole, " << tally.refused << " refused";
    RecordProperty("whole", tally.whole);
    RecordProperty("refused", tally.refused);
    // Settled, it is read at once.
    replaceInOneWrite(path, version('B'));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(wholeVersion(*tarlo::CsvTable::load(path)), 'B');
}

TEST(ChangingFile, TheCacheNeverKeepsAMixture) {
    TempFolder folder;
    const QString path = folder.write("t.csv", version('A'));
    tarlo::TableCache cache(size_t(1) << 30);
    const Tally tally = readWhileRewritten(path, [&] { return cache.get(path); });
    EXPECT_EQ(tally.mixed, 0) << tally.whole << " whole, " << tally.refused << " refused";
    RecordProperty("whole", tally.whole);
    RecordProperty("refused", tally.refused);
    // Settled: what the cache gives is the file as it now is.
    replaceInOneWrite(path, version('B'));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(wholeVersion(*cache.get(path)), 'B');
}
