#pragma once

// What every fuzz target shares: silence for the parsers' log lines and an
// invariant check that libFuzzer reports as a crash.
#include <QtGlobal>

#include <cstdlib>

inline void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}
