#pragma once

class QCoreApplication;

// Set by the option "use-log-window".
extern bool useLogWindow;

void parseCommandLine(QCoreApplication &application);
void setupApplication();
int teardownApplication(int exitCode);
