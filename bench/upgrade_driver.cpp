// Benchmark driver: the whole tool in one process, in real mode against a
// virtual unit behind the real dfu-util, clicked from here instead of by hand.
// Every log line and every SM_A signal is stamped with the monotonic clock as
// it happens; one JSON record per upgrade goes to the output file.
//
//   upgrade_driver --virtual-unit PATH --unit DIR --old-image FILE
//                  --out FILE.json [--repetitions N] [--click-delays MS,MS,...]
//                  [--return-delays MS,MS,...] [--idle-ms MS]
//
// The environment chooses the bus (LD_LIBRARY_PATH with the virtual libusb,
// VIRTUAL_DFU_UNITS); the unit must exist and be unplugged. After MS (default
// 5000) of polling without a unit, each repetition puts the old image into the
// unit, plugs it, waits until the install button is enabled, waits the
// repetition's click delay (so that clicks fall at different points of the
// 1000 ms poll), clicks, waits for "Done. Disconnect USB cable.", and unplugs
// the unit again.
#include "app/application_wiring.h"
#include "app/startup.h"
#include "app/workdir.h"
#include "control/sm_a.h"
#include "control/sm_b.h"
#include "dfu/dfu_scan.h"
#include "dfu/firmware_transfer.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

const QString doneFormat = QStringLiteral("Done. Disconnect USB cable.");
constexpr int repetitionTimeoutMs = 240000;

QElapsedTimer &processClock()
{
    static QElapsedTimer timer;
    return timer;
}

double nowMs()
{
    return double(processClock().nsecsElapsed()) / 1e6;
}

struct Event {
    double ms;
    QString source; // "log" or "sig"
    QString text;
};

std::mutex eventsMutex;
std::vector<Event> events;

void record(const QString &source, const QString &text)
{
    const double ms = nowMs();
    {
        std::lock_guard<std::mutex> lock(eventsMutex);
        events.push_back({ms, source, text});
    }
    std::fprintf(stderr, "[%10.3f] %s %s\n", ms, qUtf8Printable(source), qUtf8Printable(text));
}

void messageHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    record(QStringLiteral("log"), message);
}

QJsonObject procStatusMemory()
{
    QJsonObject memory;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return memory;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        for (const char *key : {"VmHWM:", "VmRSS:", "RssAnon:", "RssFile:"}) {
            if (line.startsWith(key))
                memory.insert(QString::fromLatin1(key).chopped(1),
                              line.mid(int(qstrlen(key))).trimmed().split(' ').first().toInt());
        }
    }
    return memory;
}

double cpuMs(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
        + usage.ru_stime.tv_usec / 1e3;
}

QJsonObject cpuNow()
{
    return QJsonObject{{QStringLiteral("self_ms"), cpuMs(RUSAGE_SELF)},
                       {QStringLiteral("children_ms"), cpuMs(RUSAGE_CHILDREN)}};
}

// SM_A's signals, stamped in SM_A's thread as they are emitted.
void recordDeviceThreadSignals()
{
    struct Named {
        void (SM_A::*signal)();
        const char *name;
    };
    static const Named all[] = {
        {&SM_A::sig_A0_entered, "A0"},        {&SM_A::sig_A1_entered, "A1"},
        {&SM_A::sig_A2_entered, "A2"},        {&SM_A::sig_A4_entered, "A4"},
        {&SM_A::sig_A5_entered, "A5"},        {&SM_A::sig_A6_entered, "A6"},
        {&SM_A::sig_A7_entered, "A7"},        {&SM_A::sig_readingInfo, "readingInfo"},
        {&SM_A::sig_DevConn, "DevConn"},      {&SM_A::sig_FwDownloaded, "FwDownloaded"},
        {&SM_A::sig_FwUploadedMatches, "FwUploadedMatches"},
        {&SM_A::sig_FwUploadedDiffers, "FwUploadedDiffers"},
    };
    for (const Named &entry : all) {
        const QString name = QString::fromLatin1(entry.name);
        QObject::connect(smA, entry.signal, smA, [name] { record(QStringLiteral("sig"), name); },
                         Qt::DirectConnection);
    }
    // Memory around the two long operations, to see what each leaves behind.
    for (const Named &entry : all) {
        const QString name = QString::fromLatin1(entry.name);
        if (name != QLatin1String("A5") && name != QLatin1String("FwDownloaded") && name != QLatin1String("A6")
            && name != QLatin1String("FwUploadedMatches"))
            continue;
        QObject::connect(smA, entry.signal, smA, [name] {
            const QJsonObject memory = procStatusMemory();
            record(QStringLiteral("mem"), QStringLiteral("%1 RssAnon=%2 RssFile=%3 VmHWM=%4")
                                              .arg(name)
                                              .arg(memory.value(QStringLiteral("RssAnon")).toInt())
                                              .arg(memory.value(QStringLiteral("RssFile")).toInt())
                                              .arg(memory.value(QStringLiteral("VmHWM")).toInt()));
        }, Qt::DirectConnection);
    }
}

struct Options {
    QString virtualUnit;
    QString unitDir;
    QString oldImage;
    QString out;
    int repetitions = 5;
    int idleMs = 5000;
    QList<int> clickDelaysMs{1100, 1300, 1500, 1700, 1900};
    // The unit's absence after the download, so that its return, too, falls
    // at different points of the 500 ms poll.
    QList<int> returnDelaysMs{3000, 3100, 3200, 3300, 3400};
};

bool parseOptions(const QStringList &arguments, Options &options)
{
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        const QString &name = arguments.at(i);
        const QString &value = arguments.at(i + 1);
        if (name == QLatin1String("--virtual-unit"))
            options.virtualUnit = value;
        else if (name == QLatin1String("--unit"))
            options.unitDir = value;
        else if (name == QLatin1String("--old-image"))
            options.oldImage = value;
        else if (name == QLatin1String("--out"))
            options.out = value;
        else if (name == QLatin1String("--repetitions"))
            options.repetitions = value.toInt();
        else if (name == QLatin1String("--idle-ms"))
            options.idleMs = value.toInt();
        else if (name == QLatin1String("--click-delays") || name == QLatin1String("--return-delays")) {
            QList<int> &delays = name == QLatin1String("--click-delays") ? options.clickDelaysMs
                                                                         : options.returnDelaysMs;
            delays.clear();
            for (const QString &delay : value.split(QLatin1Char(',')))
                delays.append(delay.toInt());
        } else
            return false;
    }
    return !options.virtualUnit.isEmpty() && !options.unitDir.isEmpty() && !options.oldImage.isEmpty()
        && !options.out.isEmpty() && options.repetitions > 0 && !options.clickDelaysMs.isEmpty()
        && !options.returnDelaysMs.isEmpty();
}

class Driver : public QObject
{
public:
    explicit Driver(const Options &chosen) : options(chosen)
    {
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, this, [this] { fail(QStringLiteral("repetition timed out")); });
        connect(mainWindow, &MainWindow::downloadModeChanged, this, &Driver::onDownloadModeChanged);
        connect(smB, &SM_B::sig_FwMatches, this, &Driver::onMatches);
        connect(smB, &SM_B::sig_FwDiffers, this, [this] { fail(QStringLiteral("verification differs")); });
        connect(smB, &SM_B::sig_UpgradeImpossible, this, &Driver::onUpgradeImpossible);
    }

    void begin()
    {
        startup = QJsonObject{{QStringLiteral("memory"), procStatusMemory()},
                              {QStringLiteral("ms"), nowMs()}};
        // Polling without a unit first, for the poll period and the list run time.
        QTimer::singleShot(options.idleMs, this, &Driver::startRepetition);
    }

private:
    enum class Phase { Plugging, WaitingToClick, Upgrading, Unplugging, Finished };

    bool unitCommand(const QStringList &arguments)
    {
        QProcess helper;
        helper.start(options.virtualUnit, arguments);
        return helper.waitForFinished(30000) && helper.exitStatus() == QProcess::NormalExit
            && helper.exitCode() == 0;
    }

    void startRepetition()
    {
        phase = Phase::Plugging;
        watchdog.start(repetitionTimeoutMs);
        current = QJsonObject{{QStringLiteral("index"), results.size()}};
        if (!unitCommand({QStringLiteral("firmware"), options.unitDir, options.oldImage})) {
            fail(QStringLiteral("cannot put the old image into the unit"));
            return;
        }
        const int returnDelay = options.returnDelaysMs.at(results.size() % options.returnDelaysMs.size());
        current.insert(QStringLiteral("return_delay_ms"), returnDelay);
        if (!unitCommand({QStringLiteral("return-delay"), options.unitDir, QString::number(returnDelay)})) {
            fail(QStringLiteral("cannot set the unit's return delay"));
            return;
        }
        current.insert(QStringLiteral("plug_ms"), nowMs());
        record(QStringLiteral("drv"), QStringLiteral("plug"));
        if (!unitCommand({QStringLiteral("plug"), options.unitDir}))
            fail(QStringLiteral("cannot plug the unit"));
    }

    void onDownloadModeChanged()
    {
        if (phase != Phase::Plugging || !mainWindow->installButton->isEnabled())
            return;
        phase = Phase::WaitingToClick;
        current.insert(QStringLiteral("enabled_ms"), nowMs());
        const int delay = options.clickDelaysMs.at(results.size() % options.clickDelaysMs.size());
        current.insert(QStringLiteral("click_delay_ms"), delay);
        QTimer::singleShot(delay, this, &Driver::click);
    }

    void click()
    {
        phase = Phase::Upgrading;
        current.insert(QStringLiteral("cpu_at_click"), cpuNow());
        current.insert(QStringLiteral("click_ms"), nowMs());
        record(QStringLiteral("drv"), QStringLiteral("click"));
        mainWindow->installButton->click();
    }

    void onMatches()
    {
        if (phase != Phase::Upgrading)
            return;
        // The window's own reaction to the same signal ran first.
        if (mainWindow->progressBar->format() != doneFormat) {
            fail(QStringLiteral("the bar does not show the done text"));
            return;
        }
        current.insert(QStringLiteral("done_ms"), nowMs());
        current.insert(QStringLiteral("cpu_at_done"), cpuNow());
        current.insert(QStringLiteral("memory_after"), procStatusMemory());
        record(QStringLiteral("drv"), QStringLiteral("done"));
        phase = Phase::Unplugging;
        if (!unitCommand({QStringLiteral("unplug"), options.unitDir}))
            fail(QStringLiteral("cannot unplug the unit"));
    }

    void onUpgradeImpossible()
    {
        if (phase != Phase::Unplugging)
            return;
        watchdog.stop();
        results.append(current);
        if (results.size() < options.repetitions)
            startRepetition();
        else
            finish(true);
    }

    void fail(const QString &why)
    {
        record(QStringLiteral("drv"), QStringLiteral("FAILED: ") + why);
        finish(false);
    }

    void finish(bool ok)
    {
        if (phase == Phase::Finished)
            return;
        phase = Phase::Finished;
        watchdog.stop();
        writeResults(ok);
        exitCode = ok ? 0 : 1;
        // Q in the window: both machines stop, the window closes, the loop ends.
        emit mainWindow->finished();
    }

    QJsonObject ownWorkFigures()
    {
        // The comparison after the read-back, repeated on the files it compared.
        const QString image = workFilePath(WorkFile::FirmwareBin);
        const QString uploaded = workFilePath(WorkFile::UploadedFw);
        QJsonArray compareMs;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer timer;
            timer.start();
            const bool equal = filesEqual(image, uploaded);
            compareMs.append(double(timer.nsecsElapsed()) / 1e6);
            if (!equal)
                return QJsonObject{{QStringLiteral("error"), QStringLiteral("files differ")}};
        }
        // One parse of a list with one unit, as every poll does.
        const QString list = QStringLiteral(
            "dfu-util 0.9\n\nFound DFU: [0483:df11] ver=2200, devnum=1, cfg=1, intf=0, path=\"1-1\", alt=3, "
            "name=\"@Device Feature/0xFFFF0000/01*004 e\", serial=\"3574364C3034\"\n"
            "Found DFU: [0483:df11] ver=2200, devnum=1, cfg=1, intf=0, path=\"1-1\", alt=2, "
            "name=\"@OTP Memory /0x1FFF7800/01*512 e,01*016 e\", serial=\"3574364C3034\"\n"
            "Found DFU: [0483:df11] ver=2200, devnum=1, cfg=1, intf=0, path=\"1-1\", alt=1, "
            "name=\"@Option Bytes  /0x1FFFC000/01*016 e\", serial=\"3574364C3034\"\n"
            "Found DFU: [0483:df11] ver=2200, devnum=1, cfg=1, intf=0, path=\"1-1\", alt=0, "
            "name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\", serial=\"3574364C3034\"\n");
        constexpr int parses = 2000;
        QElapsedTimer timer;
        timer.start();
        int found = 0;
        for (int i = 0; i < parses; ++i)
            found += parseDfuList(list).count;
        const double parseUs = double(timer.nsecsElapsed()) / 1e3 / parses;
        return QJsonObject{{QStringLiteral("compare_ms"), compareMs},
                           {QStringLiteral("list_parse_us"), parseUs},
                           {QStringLiteral("list_parse_found"), found / parses}};
    }

    void writeResults(bool ok)
    {
        QJsonArray log;
        {
            std::lock_guard<std::mutex> lock(eventsMutex);
            for (const Event &event : events)
                log.append(QJsonArray{event.ms, event.source, event.text});
        }
        const QJsonObject document{{QStringLiteral("ok"), ok},
                                   {QStringLiteral("startup"), startup},
                                   {QStringLiteral("repetitions"), results},
                                   {QStringLiteral("own_work"), ok ? ownWorkFigures() : QJsonObject()},
                                   {QStringLiteral("events"), log}};
        QFile file(options.out);
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(document).toJson()) < 0)
            std::fprintf(stderr, "cannot write %s\n", qUtf8Printable(options.out));
    }

public:
    int exitCode = 1;

private:
    const Options options;
    Phase phase = Phase::Plugging;
    QTimer watchdog;
    QJsonObject startup;
    QJsonObject current;
    QJsonArray results;
};

} // namespace

int main(int argc, char *argv[])
{
    processClock().start();
    qInstallMessageHandler(messageHandler);

    QStringList driverArguments;
    for (int i = 0; i < argc; ++i)
        driverArguments.append(QString::fromLocal8Bit(argv[i]));
    Options options;
    if (!parseOptions(driverArguments, options)) {
        std::fputs("usage: upgrade_driver --virtual-unit PATH --unit DIR --old-image FILE --out FILE.json "
                   "[--repetitions N] [--click-delays MS,...] [--return-delays MS,...] [--idle-ms MS]\n",
                   stderr);
        return 2;
    }

    // The tool's own command line: real mode, no options.
    char toolName[] = "lumarex-upgrade-tool";
    char *toolArguments[] = {toolName, nullptr};
    int toolArgumentCount = 1;
    // As the tool's main() does.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication application(toolArgumentCount, toolArguments);
    setupApplication();
    recordDeviceThreadSignals();

    Driver driver(options);
    QTimer::singleShot(0, &driver, &Driver::begin);
    const int loopResult = application.exec();
    teardownApplication(loopResult);
    return driver.exitCode;
}
