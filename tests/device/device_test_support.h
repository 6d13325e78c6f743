#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <functional>

// Collects every log message while it lives, as "<level>: <text>".
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    void clear();

private:
    QtMessageHandler m_previous;
};

// Whatever the call writes to standard output (file descriptor 1).
QByteArray captureStdout(const std::function<void()> &call);

QByteArray littleEndian32(quint32 value);

// A 16-byte OTP identification record.
QByteArray otpRecord(quint8 type, std::array<quint8, 3> subtype = {{0xFF, 0xFF, 0xFF}},
                     const QByteArray &extra = QByteArray(8, '\0'));

// A dump of the given size filled with fill, with each record written at its offset.
QByteArray otpDump(const QList<QPair<int, QByteArray>> &records, int size = 512, char fill = '\xFF');

// A 32-byte text field: the text, then NULs.
QByteArray fwField(const QByteArray &text);

using FwPairs = QList<QPair<QByteArray, QByteArray>>;

// A firmware-information block, both markers included.
QByteArray fwBlock(quint32 productWord, const QByteArray &name, const QByteArray &revision,
                   const FwPairs &pairs = {});

// data placed at offset in a buffer of size bytes of fill.
QByteArray placedAt(const QByteArray &data, int offset, int size, char fill = '\0');
