#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <algorithm>
#include <functional>

// What a child process has written to standard error, gathered as it arrives
// and read line by line (the last line may still be incomplete).
class StandardErrorLines
{
public:
    QStringList read(QProcess &process)
    {
        m_text += QString::fromUtf8(process.readAllStandardError());
        return m_text.split(QLatin1Char('\n'));
    }

    // Waits until a line satisfies wanted, at most timeoutMs; gives up at once
    // when the child has ended without writing one. The line goes to *found.
    bool waitFor(QProcess &process, const std::function<bool(const QString &)> &wanted, int timeoutMs,
                 QString *found = nullptr)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QStringList lines = read(process);
            const auto line = std::find_if(lines.begin(), lines.end(), wanted);
            if (line != lines.end()) {
                if (found)
                    *found = *line;
                return true;
            }
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(int(qBound<qint64>(1, deadline.remainingTime(), 100)));
        }
    }

    bool waitFor(QProcess &process, const QString &line, int timeoutMs)
    {
        return waitFor(process, [&line](const QString &candidate) { return candidate == line; }, timeoutMs);
    }

    // Everything gathered so far, for a failure message.
    QString text() const { return m_text; }

private:
    QString m_text;
};
