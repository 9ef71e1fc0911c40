// Program entry: the single-instance guard, the two windows, the event loop.
#include "app/application.h"
#include "app/termination.h"

#include "platform/bell.h"
#include "platform/file_io.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"
#include "ui/app_icon.h"
#include "ui/error_report.h"
#include "ui/main_window.h"
#include "ui/note_popup.h"

#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

bool hasWindowSystem() {
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// A second start only beeps. The window system's bell needs a connection
// (but no window); without one the terminal's bell has to do.
int refuseSecondInstance(int argc, char** argv) {
    if (hasWindowSystem()) {
        QApplication app(argc, argv);
        QApplication::beep();
        QApplication::processEvents();
    } else {
        tarlo::ringBell();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Never released: the system drops the lock when this process ends.
    static tarlo::SingleInstanceGuard guard(tarlo::SingleInstanceGuard::defaultLockPath(QStringLiteral("_tarlo")));
    if (guard.state() == tarlo::SingleInstanceGuard::State::HeldElsewhere) return refuseSecondInstance(argc, argv);

#ifdef Q_OS_WIN
    // Sizes are pixels at any display density: Qt must not scale them (and
    // the manifest keeps Windows from stretching the window instead).
    if (!qEnvironmentVariableIsSet("QT_ENABLE_HIGHDPI_SCALING")) qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
#endif
    TarloApplication app(argc, argv);
    QApplication::setWindowIcon(tarloIcon());  // both windows and the task bar
    // A save killed half-way leaves its temporary file behind; one under way keeps its lock.
    tarlo::removeUnfinishedSaves(tarlo::programFolder());
    std::unique_ptr<Ttarlo1> tarlo1;
    std::unique_ptr<Ttarlo2> tarlo2;
    try {
        tarlo1 = std::make_unique<Ttarlo1>(Ttarlo1::Environment{tarlo::programFolder(), nullptr});
        tarlo2 = std::make_unique<Ttarlo2>(tarlo1->outerBounds(), tarlo1->frameWidth());
        tarlo1->setNotePopup(tarlo2.get());
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("アプリケーション エラー"),
                              QStringLiteral("ウィンドウを作成できません: %1").arg(messageOf(e)));
        return 1;
    }
    closeOnTerminationRequest(tarlo1.get());
    tarlo1->show();
    const int rc = app.exec();
    if (tarlo1->leftARunBehind()) {
        // Its thread still reads tables that the destructors would free.
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    tarlo2.reset();  // the popup refers to the main window's bounds; it goes first
    tarlo1.reset();
    return rc;
}
