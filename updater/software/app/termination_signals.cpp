#include "app/termination_signals.h"

#include "app/application_wiring.h"
#include "gui/main_window.h"

#include <QCoreApplication>
#include <QDebug>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void forwardSignal(int signalNumber)
{
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void shutDownOnSignal()
{
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
    qInfo() << "Received signal" << int(byte) << "- shutting down";
    if (mainWindow)
        emit mainWindow->finished();
    else
        QCoreApplication::quit();
}

} // namespace

void installTerminationSignalHandlers()
{
    if (signalPipe[0] >= 0 || ::pipe(signalPipe) != 0)
        return;
    // pipe2() is Linux-only; set the flags one by one so macOS builds too.
    for (int end : signalPipe) {
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, shutDownOnSignal);

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // Closing the terminal the tool was started from.
    ::sigaction(SIGHUP, &action, nullptr);
}

#else

void installTerminationSignalHandlers()
{
}

#endif
