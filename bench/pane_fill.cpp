// "全＊" end to end, offscreen: the time from the click to the rows standing in
// the result pane, first with the file unparsed and then from the cache, and
// the process's peak memory. `bench-pane DIR TABLE` (DIR holds TABLE).
#include "ui/main_window.h"
#include "ui/result_view.h"
#include "ui/tab_strip.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench-pane DIR TABLE\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString folder = QString::fromLocal8Bit(argv[1]);
    if (!folder.endsWith('/')) folder += '/';
    const QString table = QString::fromLocal8Bit(argv[2]);
    QFile query(folder + "q~bench.txt");
    if (!query.open(QIODevice::WriteOnly)) return 1;
    query.write(("SELECT * FROM " + table + ";\r\n").toUtf8());
    query.close();

    Ttarlo1 window(Ttarlo1::Environment{folder, nullptr});
    window.show();
    window.tbc1->setCurrentIndex(window.tbc1->tabs().indexOf("bench"));
    window.tbc1Change();
    for (int run = 1; run <= 2; ++run) {
        QElapsedTimer timer;
        timer.start();
        window.n1Click();
        // The run is off the window thread; the loop sleeps between events as
        // the program's own does, rather than spinning on a core the run needs.
        while (window.isRunning()) app.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        window.Memo1->repaint();  // the rows on screen, not just handed over
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("run %d: %lld ms, %zu lines in the pane, peak memory so far %.0f MB\n", run, timer.elapsed(),
                    window.Memo1->lines().lineCount(), usage.ru_maxrss / 1024.0);
    }
    QFile::remove(folder + "q~bench.txt");
    return 0;
}
