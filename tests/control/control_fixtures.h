#pragma once

#include "device/device_info.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>

class SM_A;

// Collects every log message, from any thread, while it exists.
class LogCapture
{
public:
    struct Entry {
        QtMsgType type;
        QString text;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<Entry> entries() const;
    QStringList texts() const;
    QStringList textsStartingWith(const QString &prefix) const;
    int count(const QString &text) const;
    // Runs in the logging thread for every message; set it before other threads log.
    void setHook(std::function<void(const QString &)> hook);

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);
    static std::atomic<LogCapture *> active;

    // A standard mutex, which ThreadSanitizer sees, unlike Qt's.
    mutable std::mutex mutex;
    QList<Entry> captured;
    std::function<void(const QString &)> hook;
    QtMessageHandler previous;
};

// Redirects file descriptor 1 into a temporary file until finish().
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    QString finish();

private:
    int savedFd = -1;
    std::FILE *file = nullptr;
};

// Lines of `text` that start with `prefix`.
QStringList linesStartingWith(const QString &text, const QString &prefix);

// SM_A's signals as they arrive in the test's thread, queued like SM_B gets
// them. (A QSignalSpy connects directly and would be filled from SM_A's thread
// while the test reads it.)
class SmASignalLog : public QObject
{
    Q_OBJECT

public:
    explicit SmASignalLog(SM_A *smA);

    QStringList names;
    QList<DeviceInfo> reportedInfos;
    QStringList errorMessages;

    int count(const QString &name) const { return names.count(name); }
    // Index of the n-th (1-based) occurrence of name, or -1.
    int indexOf(const QString &name, int occurrence = 1) const;
    QStringList between(int from, int to) const { return names.mid(from, to - from); }

signals:
    void recorded(const QString &name);

private:
    void add(const QString &name);
};

// The simulator script as the tests' dfu-util: one state directory per test,
// a log of the operations run, and units that appear, go and change at once
// (never half written), so that the polling thread never sees a partial unit.
class SimulatedUnits
{
public:
    SimulatedUnits();
    ~SimulatedUnits();
    SimulatedUnits(const SimulatedUnits &) = delete;
    SimulatedUnits &operator=(const SimulatedUnits &) = delete;

    bool isValid() const { return valid; }
    // Only while no SM_A thread runs: a scenario switch is not atomic.
    bool select(const QString &scenario);
    bool unplug();
    bool plugIn(const QString &scenario);
    // The attached unit gets the OTP and flash of the scenario's unit, keeping
    // its serial number, so the poll does not notice.
    bool replaceContents(const QString &scenario);
    bool setSerial(const QString &serial);
    bool clearFaults();

    // A path in the test's own temporary directory.
    QString filePath(const QString &name) const { return root.filePath(name); }

    // Operation names ("list", "upload_OTP", ...) in the order they ran.
    QStringList calls() const;

private:
    bool prepareScratch(const QString &scenario, QString &scratchState);
    bool replaceFile(const QString &source, const QString &target);

    QTemporaryDir root;
    QString statePath;
    int scratchCount = 0;
    bool valid = false;
};

// Once per process: simulator mode with fast progress, every command started
// through a wrapper that logs the operation; "current" uses the built image.
void installSimulatorForTests();
QString firmwareImagePath();
DesiredFirmware firmwareOfImage();

inline const QString secondSerial = QStringLiteral("2057356B4E31");
