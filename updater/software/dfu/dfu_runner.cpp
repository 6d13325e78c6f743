#include "dfu/dfu_runner.h"

#include "app/workdir.h"

#include <QByteArray>
#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>

#include <atomic>

namespace {

constexpr int defaultFirstWaitMs = 30000;
// Short enough that a shutdown's abort ends a hung child promptly.
constexpr int waitSliceMs = 100;

std::atomic<bool> runsAborted{false};
std::atomic<int> firstWaitMs{defaultFirstWaitMs};

enum class WaitOutcome { Finished, NotFinished, Aborted };

// Waits in slices so that an abort from another thread is noticed while the
// child runs. A negative limit waits as long as the child runs.
WaitOutcome waitForChild(QProcess &process, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (runsAborted)
            return WaitOutcome::Aborted;
        int slice = waitSliceMs;
        if (limitMs >= 0) {
            const qint64 remaining = limitMs - clock.elapsed();
            if (remaining <= 0)
                return WaitOutcome::NotFinished;
            slice = int(qMin<qint64>(slice, remaining));
        }
        if (process.waitForFinished(slice))
            return WaitOutcome::Finished;
        // Only a child that never started is not running without having finished.
        if (process.state() == QProcess::NotRunning)
            return WaitOutcome::NotFinished;
    }
}

// dfu-util's output is text; a NUL byte ends it.
QString decodeOutput(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

QString programToStart(const QString &program)
{
    if (dfuUtilDirectory.isEmpty())
        return program;
    QString path = dfuUtilDirectory + QLatin1Char('/') + program;
    // The executable is extracted as "dfu-util.exe" on every platform, but only
    // Windows supplies the extension when a program is started without one.
    if (!isWindowsPlatform(buildPlatform()))
        path += QStringLiteral(".exe");
    return path;
}

// List runs on every poll: its start line is meant for a raised debug
// verbosity only, which the tool never sets.
bool listStartLineWanted()
{
    QString discarded;
    return QDebug(&discarded).verbosity() > QDebug::DefaultVerbosity;
}

void logStart(DfuCommand command, const QString &program, const QStringList &arguments)
{
    if (command != DfuCommand::List)
        qInfo() << "Start " << program << arguments;
    else if (listStartLineWanted())
        qDebug() << "Start " << program << arguments;
}

int exitCodeOf(const QProcess &process, WaitOutcome outcome)
{
    if (outcome == WaitOutcome::Aborted)
        return -1;
    // A program that could not be started reports a normal exit with code 0;
    // that must not pass for a successful run.
    if (process.error() == QProcess::FailedToStart)
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

DfuResult runDfuCommand(DfuCommand command, const QStringList &extraArguments)
{
    const DfuCommandEntry &entry = dfuCommandEntry(command);
    const QString program = programToStart(entry.program);
    const QStringList arguments = entry.arguments + extraArguments;

    DfuResult result;
    if (runsAborted) {
        qInfo() << "Not started, device access has been aborted:" << program << arguments;
        return result;
    }

    logStart(command, program, arguments);
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);

    WaitOutcome outcome = waitForChild(process, firstWaitMs);
    if (outcome == WaitOutcome::NotFinished) {
        const QString outputSoFar = decodeOutput(process.readAllStandardOutput());
        qInfo() << "waitForFinished(): Process did not finish in time, exit status:" << process.exitStatus()
                << "and output:" << outputSoFar;
        qInfo() << "will wait again, forever";
        outcome = waitForChild(process, -1);
    }
    if (outcome == WaitOutcome::Aborted) {
        process.kill();
        process.waitForFinished(-1);
    }

    result.output = decodeOutput(process.readAllStandardOutput());
    result.errorOutput = decodeOutput(process.readAllStandardError());
    result.exitCode = exitCodeOf(process, outcome);
    if (result.exitCode != 0)
        qInfo() << "Exit with" << result.exitCode << "from" << program << arguments << "returned:" << result.output;
    return result;
}

bool testDfuUtilExecution()
{
    const DfuResult result = runDfuCommand(DfuCommand::Version);
    QString output = result.output;
    if (isWindowsPlatform(buildPlatform()))
        output.remove(QLatin1Char('\r'));
    const bool asExpected = output == expectedDfuUtilVersionText;

    {
        QDebug line = qInfo();
        line << "Result of execution test: status was" << (result.exitCode == 0 ? "ok" : "bad") << "and output:";
        if (asExpected)
            line << "as expected";
        else
            line << output;
    }
    return result.exitCode == 0 && asExpected;
}

void abortDfuRuns()
{
    runsAborted = true;
}

bool dfuRunsAborted()
{
    return runsAborted;
}

void resetDfuRunAbort()
{
    runsAborted = false;
}

int dfuRunFirstWaitMs()
{
    return firstWaitMs;
}

void setDfuRunFirstWaitMs(int milliseconds)
{
    firstWaitMs = milliseconds;
}
