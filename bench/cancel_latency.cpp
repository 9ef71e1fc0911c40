// How a long "全＊" feels, offscreen: the longest stall of the event loop
// while it runs, and how soon Esc (cancelRun) ends it.
// `bench-cancel DIR TABLE SECONDS [STATEMENT]` cancels SECONDS after the
// start of SELECT COUNT(*) FROM TABLE, or of STATEMENT.
#include "ui/main_window.h"
#include "ui/tab_strip.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench-cancel DIR TABLE SECONDS [STATEMENT]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString folder = QString::fromLocal8Bit(argv[1]);
    if (!folder.endsWith('/')) folder += '/';
    QFile query(folder + "q~cancel.txt");
    if (!query.open(QIODevice::WriteOnly)) return 1;
    const QString statement = argc > 4 ? QString::fromLocal8Bit(argv[4]) : "SELECT COUNT(*)\r\nFROM " + QString::fromLocal8Bit(argv[2]);
    query.write((statement + "\r\n;").toUtf8());
    query.close();
    const int cancelAfterMs = int(std::atof(argv[3]) * 1000);

    Ttarlo1 window(Ttarlo1::Environment{folder, nullptr});
    window.show();
    window.tbc1->setCurrentIndex(window.tbc1->tabs().indexOf("cancel"));
    window.tbc1Change();

    QElapsedTimer clock, sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, sinceTick.restart());
    });
    clock.start();
    sinceTick.start();
    ticker.start();
    window.n1Click();
    qint64 cancelledAt = -1;
    while (window.isRunning()) {
        app.processEvents(QEventLoop::AllEvents, 5);
        if (cancelledAt < 0 && clock.elapsed() >= cancelAfterMs) {
            cancelledAt = clock.elapsed();
            window.cancelRun();
        }
    }
    const qint64 ended = clock.elapsed();
    std::printf("run ended after %lld ms; cancel asked at %lld ms, heard in %lld ms; longest event-loop stall %lld ms\n",
                ended, cancelledAt, cancelledAt < 0 ? 0 : ended - cancelledAt, longestStall);
    QFile::remove(folder + "q~cancel.txt");
    return 0;
}
