// A main window and note popup on a temporary ProgramFolder, with the
// application's error report recorded instead of shown.
#pragma once

#include "platform/local_clock.h"
#include "support/temp_folder.h"
#include "ui/error_report.h"
#include "ui/main_window.h"
#include "ui/note_popup.h"
#include "ui/result_view.h"
#include "ui/tab_strip.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPlainTextEdit>
#include <gtest/gtest.h>
#include <memory>

class FixedClock : public tarlo::Clock {
public:
    QDateTime now() override { return readings.size() > 1 ? readings.takeFirst() : readings.value(0); }
    QList<QDateTime> readings{QDateTime(QDate(2026, 12, 7), QTime(23, 35, 47))};
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        setApplicationErrorSink([this](const QString& m) { errors.append(m); });
    }
    void TearDown() override {
        popup.reset();
        window.reset();
        setApplicationErrorSink(nullptr);
    }

    void open() {
        window = std::make_unique<Ttarlo1>(Ttarlo1::Environment{folder.path(), clock});
        popup = std::make_unique<Ttarlo2>(window->outerBounds(), window->frameWidth());
        window->setNotePopup(popup.get());
    }

    // Selects a tab as the user does: the change handler runs.
    void choose(int index) {
        window->tbc1->setCurrentIndex(index);
        guarded([&] { window->tbc1Change(); });
    }

    // Runs are asynchronous: waits, bounded, until the window has shown one.
    void waitForRun(int ms = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (window->isRunning() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_FALSE(window->isRunning()) << "the run did not end";
    }

    QStringList items(QListWidget* list) const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }

    TempFolder folder;
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>();
    std::unique_ptr<Ttarlo1> window;
    std::unique_ptr<Ttarlo2> popup;
    QStringList errors;
};
