#include "control_fixtures.h"

#include "control/sm_a.h"
#include "dfu/dfu_command.h"
#include "dfu/simulator.h"
#include "device/fw_info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTextStream>

#include <unistd.h>

// ---------------------------------------------------------------- LogCapture

std::atomic<LogCapture *> LogCapture::active{nullptr};

LogCapture::LogCapture()
{
    active = this;
    previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    active = nullptr;
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    LogCapture *capture = active;
    if (capture == nullptr)
        return;
    std::function<void(const QString &)> hook;
    {
        std::lock_guard<std::mutex> locker(capture->mutex);
        capture->captured.append({type, text});
        hook = capture->hook;
    }
    if (hook)
        hook(text);
}

QList<LogCapture::Entry> LogCapture::entries() const
{
    std::lock_guard<std::mutex> locker(mutex);
    return captured;
}

QStringList LogCapture::texts() const
{
    QStringList result;
    for (const Entry &entry : entries())
        result << entry.text;
    return result;
}

QStringList LogCapture::textsStartingWith(const QString &prefix) const
{
    QStringList result;
    for (const Entry &entry : entries()) {
        if (entry.text.startsWith(prefix))
            result << entry.text;
    }
    return result;
}

int LogCapture::count(const QString &text) const
{
    return texts().count(text);
}

void LogCapture::setHook(std::function<void(const QString &)> newHook)
{
    std::lock_guard<std::mutex> locker(mutex);
    hook = std::move(newHook);
}

// ---------------------------------------------------------------- StdoutCapture

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    file = std::tmpfile();
    if (file == nullptr)
        return;
    savedFd = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(file), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    finish();
}

QString StdoutCapture::finish()
{
    if (file == nullptr)
        return {};
    std::fflush(stdout);
    ::dup2(savedFd, STDOUT_FILENO);
    ::close(savedFd);
    savedFd = -1;
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, int(got));
    std::fclose(file);
    file = nullptr;
    return QString::fromUtf8(bytes);
}

QStringList linesStartingWith(const QString &text, const QString &prefix)
{
    QStringList result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            result << line;
    }
    return result;
}

// ---------------------------------------------------------------- SmASignalLog

SmASignalLog::SmASignalLog(SM_A *smA)
{
    // The context is this object, in the test's thread: every connection is
    // queued when SM_A's thread emits, like the ones SM_B gets.
    const auto record = [this, smA](void (SM_A::*signal)(), const char *name) {
        const QString text = QString::fromLatin1(name);
        connect(smA, signal, this, [this, text] { add(text); });
    };
    record(&SM_A::sig_NoDevConn, "NoDevConn");
    record(&SM_A::sig_DevConn, "DevConn");
    record(&SM_A::sig_scanning, "scanning");
    record(&SM_A::sig_readingInfo, "readingInfo");
    record(&SM_A::sig_FwDownloading, "FwDownloading");
    record(&SM_A::sig_FwDownloaded, "FwDownloaded");
    record(&SM_A::sig_FwUploading, "FwUploading");
    record(&SM_A::sig_FwUploadedDiffers, "FwUploadedDiffers");
    record(&SM_A::sig_FwUploadedMatches, "FwUploadedMatches");
    record(&SM_A::sig_A0_entered, "A0");
    record(&SM_A::sig_A1_entered, "A1");
    record(&SM_A::sig_A2_entered, "A2");
    record(&SM_A::sig_A3_entered, "A3");
    record(&SM_A::sig_A4_entered, "A4");
    record(&SM_A::sig_A5_entered, "A5");
    record(&SM_A::sig_A6_entered, "A6");
    record(&SM_A::sig_A7_entered, "A7");
    connect(smA, &SM_A::sig_DeviceError, this, [this](const QString &message) {
        errorMessages << message;
        add(QStringLiteral("DeviceError"));
    });
    connect(smA, &SM_A::sig_DevConnInfo, this, [this](const DeviceInfo &info) {
        reportedInfos << info;
        add(QStringLiteral("DevConnInfo"));
    });
}

int SmASignalLog::indexOf(const QString &name, int occurrence) const
{
    int index = -1;
    for (int seen = 0; seen < occurrence; ++seen) {
        index = names.indexOf(name, index + 1);
        if (index < 0)
            return -1;
    }
    return index;
}

void SmASignalLog::add(const QString &name)
{
    names << name;
    emit recorded(name);
}

// ---------------------------------------------------------------- SimulatedUnits

namespace {

QTemporaryDir &wrapperDirectory()
{
    static QTemporaryDir directory;
    return directory;
}

QString callLogPath(const QString &statePath)
{
    return statePath + QStringLiteral("/../calls.log");
}

QString scriptPath()
{
    return simulatorScriptPath(QStringLiteral("dfu-util_simulator.sh"));
}

} // namespace

void installSimulatorForTests()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    simulator::use = true;
    qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", QFile::encodeName(firmwareImagePath()));
    setupSimulator(true);

    // Logs the operation (the argument after --dfu-util-command) beside the
    // test's state directory, then becomes the simulator.
    const QString wrapper = wrapperDirectory().filePath(QStringLiteral("logging_simulator.sh"));
    QFile file(wrapper);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the simulator wrapper");
    QTextStream(&file) << "#!/bin/sh\n"
                       << "[ -n \"${DFU_SIMULATOR_STATE_DIR:-}\" ] && "
                          "printf '%s\\n' \"$2\" >>\"$DFU_SIMULATOR_STATE_DIR/../calls.log\"\n"
                       << "exec '" << scriptPath() << "' \"$@\"\n";
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    for (DfuCommandEntry &entry : dfuCommandTable())
        entry.program = wrapper;
}

QString firmwareImagePath()
{
    return QStringLiteral(UPDATER_FIRMWARE_BIN_FILE);
}

DesiredFirmware firmwareOfImage()
{
    return desiredFirmwareFrom(readFwInfoFile(firmwareImagePath()));
}

SimulatedUnits::SimulatedUnits()
{
    installSimulatorForTests();
    if (!root.isValid())
        return;
    statePath = root.filePath(QStringLiteral("state"));
    valid = QDir().mkpath(statePath);
    qputenv("DFU_SIMULATOR_STATE_DIR", QFile::encodeName(statePath));
}

SimulatedUnits::~SimulatedUnits()
{
    qunsetenv("DFU_SIMULATOR_STATE_DIR");
}

bool SimulatedUnits::select(const QString &scenario)
{
    return setupSimulationConfig(scenario) == 0;
}

bool SimulatedUnits::prepareScratch(const QString &scenario, QString &scratchState)
{
    scratchState = root.filePath(QStringLiteral("scratch%1").arg(++scratchCount));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DFU_SIMULATOR_STATE_DIR"), scratchState);
    process.setProcessEnvironment(environment);
    process.start(scriptPath(),
                  {QStringLiteral("--dfu-util-command"), QStringLiteral("setup_prepared_config"), scenario});
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

bool SimulatedUnits::unplug()
{
    const QString units = statePath + QStringLiteral("/units");
    const QStringList present = QDir(units).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &unit : present) {
        const QString away = root.filePath(QStringLiteral("unplugged%1").arg(++scratchCount));
        if (!QDir().rename(units + QLatin1Char('/') + unit, away))
            return false;
    }
    return true;
}

bool SimulatedUnits::plugIn(const QString &scenario)
{
    QString scratch;
    if (!prepareScratch(scenario, scratch))
        return false;
    // Failures first: while no unit is attached nothing reads them.
    QDir faults(statePath + QStringLiteral("/faults"));
    faults.mkpath(QStringLiteral("."));
    if (!clearFaults())
        return false;
    for (const QString &fault : QDir(scratch + QStringLiteral("/faults")).entryList(QDir::Files)) {
        QFile marker(faults.filePath(fault));
        if (!marker.open(QIODevice::WriteOnly))
            return false;
    }
    const QString units = statePath + QStringLiteral("/units");
    QDir().mkpath(units);
    const QStringList prepared = QDir(scratch + QStringLiteral("/units")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &unit : prepared) {
        if (!QDir().rename(scratch + QStringLiteral("/units/") + unit, units + QLatin1Char('/') + unit))
            return false;
    }
    return !prepared.isEmpty();
}

bool SimulatedUnits::replaceFile(const QString &source, const QString &target)
{
    const QString temporary = target + QStringLiteral(".new");
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary))
        return false;
    return ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) == 0;
}

bool SimulatedUnits::replaceContents(const QString &scenario)
{
    QString scratch;
    if (!prepareScratch(scenario, scratch))
        return false;
    const QString from = scratch + QStringLiteral("/units/1/");
    const QString to = statePath + QStringLiteral("/units/1/");
    return replaceFile(from + QStringLiteral("otp.bin"), to + QStringLiteral("otp.bin"))
        && replaceFile(from + QStringLiteral("flash.bin"), to + QStringLiteral("flash.bin"));
}

bool SimulatedUnits::setSerial(const QString &serial)
{
    const QString source = root.filePath(QStringLiteral("serial%1").arg(++scratchCount));
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(serial.toLatin1() + '\n');
    file.close();
    return replaceFile(source, statePath + QStringLiteral("/units/1/serial"));
}

bool SimulatedUnits::clearFaults()
{
    QDir faults(statePath + QStringLiteral("/faults"));
    for (const QString &fault : faults.entryList(QDir::Files)) {
        if (!faults.remove(fault))
            return false;
    }
    return true;
}

QStringList SimulatedUnits::calls() const
{
    QFile file(callLogPath(statePath));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
