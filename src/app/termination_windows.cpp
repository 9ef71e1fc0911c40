// On Windows the end of the log-on reaches the program as WM_QUERYENDSESSION,
// which QApplication answers by closing its windows the ordinary way, so the
// main window's close handler runs as it does on every close.
#include "app/termination.h"

void closeOnTerminationRequest(QWidget*) {}
