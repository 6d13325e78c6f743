#pragma once

#include "dfu/dfu_command.h"

#include <QStringList>

// Runs the prepared invocation with the extra arguments appended and blocks the
// calling thread until the child has ended.
DfuResult runDfuCommand(DfuCommand command, const QStringList &extraArguments = {});

// Start-up check that the extracted dfu-util runs and is version 0.9.
bool testDfuUtilExecution();

// Shutdown: kill running children and make further runs fail at once, so that
// no stop of the tool waits for ever on a hung dfu-util.
void abortDfuRuns();
bool dfuRunsAborted();
void resetDfuRunAbort(); // for tests

// Length of the runner's first wait before it logs and waits on; 30000 ms.
// Changed only by tests, which cannot wait half a minute for the log lines.
int dfuRunFirstWaitMs();
void setDfuRunFirstWaitMs(int milliseconds);
