#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every log message, in order, while it exists; messages of any thread.
class LogCapture
{
public:
    struct Entry {
        QtMsgType type;
        QString text;
    };

    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handle)) { s_active = this; }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_active = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList texts() const
    {
        QMutexLocker lock(&m_mutex);
        QStringList result;
        for (const Entry &entry : m_entries)
            result << entry.text;
        return result;
    }
    QList<Entry> entries() const
    {
        QMutexLocker lock(&m_mutex);
        return m_entries;
    }
    int count(const QString &text) const { return texts().count(text); }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_entries.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (LogCapture *capture = s_active) {
            QMutexLocker lock(&capture->m_mutex);
            capture->m_entries.append({type, text});
        }
    }

    inline static LogCapture *s_active = nullptr;
    QtMessageHandler m_previous;
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
};
