// Runs one statement several times in one process, as the window does on
// repeated runs, and prints each run's wall time: the first pays for
// parsing the file, the later ones find it in the table cache.
// `bench-repeat DIR STATEMENT [TIMES]`
#include "engine/connection.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-repeat DIR STATEMENT [TIMES]\n");
        return 2;
    }
    QString folder = QString::fromLocal8Bit(argv[1]);
    if (!folder.endsWith('/')) folder += '/';
    const int times = argc > 3 ? std::atoi(argv[3]) : 2;
    for (int t = 0; t < times; ++t) {
        const auto start = std::chrono::steady_clock::now();
        size_t rows = 0;
        tarlo::Connection connection;
        connection.open(folder);
        auto result = connection.execute(QString::fromLocal8Bit(argv[2]));
        for (; !result->atEnd(); result->next()) {
            for (int f = 0; f < result->fieldCount(); ++f) result->fieldUtf8(f);
            ++rows;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("run %d: %.3f s, %zu rows\n", t + 1, s, rows);
    }
    return 0;
}
