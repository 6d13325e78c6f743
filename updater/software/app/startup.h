#pragma once

#include <QStringList>

class QCoreApplication;

// Set by the option "use-log-window".
extern bool useLogWindow;

void parseCommandLine(QCoreApplication &application);
// The same, over an explicit argument list (the program name first).
void parseCommandLineArguments(const QStringList &arguments);

void setupApplication();
int teardownApplication(int exitCode);
