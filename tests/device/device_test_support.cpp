#include "device_test_support.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryFile>
#include <QtEndian>

#include <cstdio>
#include <unistd.h>

namespace {

QMutex capturedMutex;
QStringList captured;

QString levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("debug");
    case QtInfoMsg: return QStringLiteral("info");
    case QtWarningMsg: return QStringLiteral("warning");
    case QtCriticalMsg: return QStringLiteral("critical");
    case QtFatalMsg: return QStringLiteral("fatal");
    }
    return QStringLiteral("?");
}

void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    QMutexLocker lock(&capturedMutex);
    captured.append(levelName(type) + QStringLiteral(": ") + text);
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    m_previous = qInstallMessageHandler(captureMessage);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&capturedMutex);
    return captured;
}

void LogCapture::clear()
{
    QMutexLocker lock(&capturedMutex);
    captured.clear();
}

QByteArray captureStdout(const std::function<void()> &call)
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray("<cannot create capture file>");
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file.handle(), STDOUT_FILENO);
    call();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    file.seek(0);
    return file.readAll();
}

QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray otpRecord(quint8 type, std::array<quint8, 3> subtype, const QByteArray &extra)
{
    QByteArray record = littleEndian32(0x01234711);
    record += char(type);
    for (quint8 byte : subtype)
        record += char(byte);
    record += extra.left(8).leftJustified(8, '\0');
    return record;
}

QByteArray otpDump(const QList<QPair<int, QByteArray>> &records, int size, char fill)
{
    QByteArray dump(size, fill);
    for (const auto &[offset, record] : records)
        dump.replace(offset, record.size(), record);
    return dump.left(size);
}

QByteArray fwField(const QByteArray &text)
{
    return text.leftJustified(32, '\0', true);
}

QByteArray fwBlock(quint32 productWord, const QByteArray &name, const QByteArray &revision, const FwPairs &pairs)
{
    QByteArray block = littleEndian32(0x01234712) + littleEndian32(productWord) + fwField(name) + fwField(revision);
    for (const auto &[key, value] : pairs)
        block += fwField(key) + fwField(value);
    return block + littleEndian32(0x01234713);
}

QByteArray placedAt(const QByteArray &data, int offset, int size, char fill)
{
    QByteArray buffer(size, fill);
    buffer.replace(offset, data.size(), data);
    return buffer.left(size);
}
