#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>

#include <unistd.h>

// A child process that is ended whatever way the test leaves: SIGTERM first,
// so that the tool shuts down as on Q and removes its working directory.
class ChildProcess
{
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess() { stop(); }

    QProcess process;

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(15000)) {
            process.kill();
            process.waitForFinished(15000);
        }
    }
};

// An Xvfb server of its own for one test, on a display number no other server
// uses; it goes with the object, whatever the test's outcome.
class VirtualDisplay
{
public:
    // Starts the server; false when no display number could be taken.
    bool start(int dotsPerInch)
    {
        const int first = 100 + int(::getpid() % 800);
        for (int number = first; number < first + 20; ++number) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
                || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            if (startOn(number, dotsPerInch))
                return true;
        }
        return false;
    }

    QString name() const { return QStringLiteral(":%1").arg(m_number); }

private:
    static constexpr int startTimeoutMs = 60000;

    bool startOn(int number, int dotsPerInch)
    {
        m_server = std::make_unique<ChildProcess>();
        // -displayfd: the server writes its display number once clients can connect.
        m_server->process.start(QStringLiteral("Xvfb"),
                                {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                                 QStringLiteral("1280x1024x24"), QStringLiteral("-dpi"), QString::number(dotsPerInch),
                                 QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-displayfd"),
                                 QStringLiteral("1")});
        QByteArray announced;
        const QDeadlineTimer deadline(startTimeoutMs);
        while (!announced.contains('\n') && !deadline.hasExpired()
               && m_server->process.state() != QProcess::NotRunning) {
            m_server->process.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 1000)));
            announced += m_server->process.readAllStandardOutput();
        }
        if (announced.trimmed() != QByteArray::number(number)) {
            // Another server took the number between the check and the start.
            m_server.reset();
            return false;
        }
        m_number = number;
        return true;
    }

    std::unique_ptr<ChildProcess> m_server;
    int m_number = -1;
};

// Runs xdotool against the display; true when it ran and succeeded. Its
// standard output goes to *output.
inline bool runXdotool(const QString &display, const QStringList &arguments, QString *output = nullptr)
{
    ChildProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    run.process.setProcessEnvironment(env);
    run.process.start(QStringLiteral("xdotool"), arguments);
    if (!run.process.waitForFinished(60000) || run.process.exitStatus() != QProcess::NormalExit
        || run.process.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(run.process.readAllStandardOutput());
    return true;
}
