#pragma once

#include <QString>
#include <QStringList>

#include <array>

// Identifier of one prepared dfu-util invocation.
enum class DfuCommand : int {
    Version = 0,
    List = 1,
    UploadOtp = 2,
    UploadFwInfo = 3,
    UploadFw = 4,
    DownloadFw = 5,
    SetupPreparedConfig = 6,
};

struct DfuCommandEntry {
    QString program;
    QStringList arguments;
};

// The seven prepared invocations, indexed by DfuCommand. Filled before main();
// rewritten only during start-up (simulator mode), read-only afterwards.
std::array<DfuCommandEntry, 7> &dfuCommandTable();
DfuCommandEntry &dfuCommandEntry(DfuCommand command);

// Directory the runner starts dfu-util from; empty in simulator mode.
extern QString dfuUtilDirectory;

// Complete standard output of dfu-util 0.9's "-V".
extern const QString expectedDfuUtilVersionText;

// Patterns of the device list parser.
extern const QString foundDfuPatternText;
extern const QString serialPatternText;

// Exit code (-1 for an abnormal end) and standard output of one run.
struct DfuResult {
    int exitCode = -1;
    QString output;
    // dfu-util's standard error: never logged, read only for diagnosis.
    QString errorOutput;
};
