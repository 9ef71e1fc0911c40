// The end of the log-on, or any polite request to end (SIGTERM, SIGHUP,
// SIGINT), closes the main window the ordinary way, so its close handler
// still writes what it writes on every close.
#pragma once

class QWidget;

void closeOnTerminationRequest(QWidget* mainWindow);
