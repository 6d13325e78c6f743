#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <mutex>

// Collects every log message, in order, while it exists; messages of any thread.
class LogCapture
{
public:
    struct Entry {
        QtMsgType type;
        QString text;
    };

    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::handle)) { s_active.store(this); }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_active.store(nullptr);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList texts() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        QStringList result;
        for (const Entry &entry : m_entries)
            result << entry.text;
        return result;
    }
    QList<Entry> entries() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    int count(const QString &text) const { return texts().count(text); }
    void clear()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (LogCapture *capture = s_active.load()) {
            const std::lock_guard<std::mutex> lock(capture->m_mutex);
            capture->m_entries.append({type, text});
        }
    }

    inline static std::atomic<LogCapture *> s_active{nullptr};
    QtMessageHandler m_previous;
    // A standard mutex, whose ordering ThreadSanitizer sees; Qt 5's QMutex
    // waits in uninstrumented code.
    mutable std::mutex m_mutex;
    QList<Entry> m_entries;
};
