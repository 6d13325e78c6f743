// Soak: COUNT complete upgrades in one run of the tool, in real mode with the
// embedded dfu-util against a virtual Arc-31. Every cycle plugs the unit with
// an older image, waits for the offer, clicks install, waits for "Done.
// Disconnect USB cable.", checks the flash, unplugs and waits for the
// no-device state; then samples this process (the tool): resident memory,
// open file descriptors, child processes and threads.
//
//   soak_driver [COUNT]      (default 100; exit code 0 when every cycle ended
//                             in "Done. Disconnect USB cable.")
//
// The table goes to standard output, the tool's log to standard error.
#include "real_mode_support.h"
#include "virtual_bus.h"

#include "app/application_wiring.h"
#include "app/startup.h"
#include "control/sm_a.h"
#include "control/sm_b.h"
#include "device/fw_info.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

using realmode::currentState;

constexpr int stepTimeoutMs = 120000;
const QString unitName = QStringLiteral("arc31");
const QString doneText = QStringLiteral("Done. Disconnect USB cable.");
const QString stateB1 = QStringLiteral("B1: No (DFU-SE) dev. conn.");
const QString stateB2 = QStringLiteral("B2: Conn. to (DFU-SE) dev. with diff. FW rev.");
const QString stateB6 = QStringLiteral("B6: FW in dev. matches");

QString statusValue(const QString &key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(key.toLatin1() + ':'))
            return QString::fromLatin1(line.mid(key.size() + 1)).simplified().section(QLatin1Char(' '), 0, 0);
    return QStringLiteral("?");
}

int openFileDescriptors()
{
    // The listing's own descriptor is not counted.
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size() - 1;
}

// Children of this process, zombies included.
int childProcesses()
{
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    int children = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // After the command name, which may hold spaces and parentheses: state, then ppid.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self)
            ++children;
    }
    return children;
}

bool waitFor(const std::function<bool()> &condition, const char *what, int cycle)
{
    if (QTest::qWaitFor(condition, stepTimeoutMs))
        return true;
    std::fprintf(stdout, "# cycle %d: timed out waiting for %s (state \"%s\", bar \"%s\")\n", cycle, what,
                 qPrintable(currentState()), qPrintable(mainWindow->progressBar->format()));
    return false;
}

bool runCycle(const VirtualBus &bus, int cycle)
{
    MainWindow *window = mainWindow;
    const QString older = bus.workFile(QStringLiteral("older.bin"));
    if (cycle == 1) {
        if (!bus.createUnit(unitName, {QStringLiteral("--serial"), QStringLiteral("534F414B3031"),
                                       QStringLiteral("--firmware"), older, QStringLiteral("--otp-type"),
                                       QStringLiteral("4"), QStringLiteral("--timing"), QStringLiteral("fast"),
                                       QStringLiteral("--return-delay"), QStringLiteral("300")}))
            return false;
    } else if (!bus.unitCommand(QStringLiteral("firmware"), unitName, {older})
               || !bus.unitCommand(QStringLiteral("plug"), unitName)) {
        return false;
    }
    if (!waitFor([&] { return currentState() == stateB2 && window->installButton->isEnabled(); }, "the offer", cycle))
        return false;
    QTest::mouseClick(window->installButton, Qt::LeftButton);
    if (!waitFor([&] { return window->progressBar->format() == doneText && window->progressBar->isVisible(); },
                 "\"Done. Disconnect USB cable.\"", cycle))
        return false;
    if (currentState() != stateB6 || bus.flash(unitName).left(firmwareImage().size()) != firmwareImage()) {
        std::fprintf(stdout, "# cycle %d: done without the image in the flash\n", cycle);
        return false;
    }
    if (!bus.unitCommand(QStringLiteral("unplug"), unitName))
        return false;
    return waitFor([&] { return currentState() == stateB1 && !window->progressBar->isVisible(); }, "no device",
                   cycle);
}

} // namespace

int main(int argc, char *argv[])
{
    const int cycles = argc > 1 ? QByteArray(argv[1]).toInt() : 100;
    if (cycles <= 0) {
        std::fprintf(stderr, "usage: soak_driver [COUNT]\n");
        return 2;
    }
    VirtualBus bus;
    if (!bus.isValid() || realmode::writeOlderImage(bus).isEmpty())
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LD_LIBRARY_PATH", VIRTUAL_UNIT_LIBRARY_DIR);
    qputenv("VIRTUAL_DFU_UNITS", QFile::encodeName(bus.busDir()));
    char toolName[] = "lumarex-upgrade-tool";
    char *toolArguments[] = {toolName, nullptr};
    int toolArgumentCount = 1;
    QApplication application(toolArgumentCount, toolArguments);
    setupApplication();
    if (!QTest::qWaitFor([] { return smA->isRunning() && currentState() == stateB1; }, stepTimeoutMs))
        return 1;

    std::fprintf(stdout, "cycle\tseconds\trss_kB\tfds\tchildren\tthreads\n");
    std::fprintf(stdout, "0\t0.0\t%s\t%d\t%d\t%s\n", qPrintable(statusValue(QStringLiteral("VmRSS"))),
                 openFileDescriptors(), childProcesses(), qPrintable(statusValue(QStringLiteral("Threads"))));
    std::fflush(stdout);
    int done = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        QElapsedTimer clock;
        clock.start();
        if (!runCycle(bus, cycle))
            break;
        ++done;
        std::fprintf(stdout, "%d\t%.1f\t%s\t%d\t%d\t%s\n", cycle, clock.elapsed() / 1000.0,
                     qPrintable(statusValue(QStringLiteral("VmRSS"))), openFileDescriptors(), childProcesses(),
                     qPrintable(statusValue(QStringLiteral("Threads"))));
        std::fflush(stdout);
    }
    std::fprintf(stdout, "# %d of %d cycles ended in \"%s\"\n", done, cycles, qPrintable(doneText));

    QTest::keyClick(mainWindow, Qt::Key_Q);
    const bool closed = QTest::qWaitFor([] { return !mainWindow->isVisible(); }, stepTimeoutMs);
    const int exitCode = teardownApplication(0);
    return done == cycles && closed && exitCode == 0 ? 0 : 1;
}
