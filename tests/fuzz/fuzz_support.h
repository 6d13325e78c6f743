#pragma once

// What every fuzz target shares: silence for the parsers' log lines, an
// invariant check that libFuzzer reports as a crash, and the input as text.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The input as the tool decodes text it reads from a child or a file: UTF-8,
// up to the first NUL.
inline QString textUpToNul(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}
