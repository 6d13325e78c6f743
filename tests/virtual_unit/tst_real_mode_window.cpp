// The tool binary in real mode on a virtual X display, driven as a user drives
// it: the window is found by its title, the install button clicked with the
// pointer, the tool ended with the Q key. Its dfu-util talks to a virtual unit.
#include "real_mode_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace realmode;

namespace {

constexpr int boundMs = 60000;
const QString windowTitle = QStringLiteral("Lumarex Firmware Upgrade Tool");
// The install button's centre in window coordinates at 96 dpi: (207 + 125, 417 + 20).
const QStringList installButtonCentre{QStringLiteral("332"), QStringLiteral("437")};

bool waitForProcess(QProcess &process, int milliseconds)
{
    return process.waitForFinished(milliseconds) && process.exitStatus() == QProcess::NormalExit;
}

// An X server of its own for one test, on a display number no one else uses;
// it goes with the object, whatever the test's outcome.
class VirtualDisplay
{
public:
    ~VirtualDisplay()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(10000)) {
            m_server.kill();
            m_server.waitForFinished(10000);
        }
    }

    bool start()
    {
        const int first = 200 + int(::getpid() % 500);
        for (int number = first; number < first + 40; ++number) {
            if (inUse(number))
                continue;
            m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            m_server.start(QStringLiteral("Xvfb"),
                           {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("1280x1024x24"), QStringLiteral("-dpi"), QStringLiteral("96"),
                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!m_server.waitForStarted(10000))
                return false;
            // Ready once its socket exists; ended when another server won the number.
            QDeadlineTimer deadline(boundMs);
            while (!deadline.hasExpired() && m_server.state() == QProcess::Running && !hasSocket(number))
                m_server.waitForFinished(50);
            if (m_server.state() == QProcess::Running && hasSocket(number)) {
                m_number = number;
                return true;
            }
            m_server.kill();
            m_server.waitForFinished(10000);
        }
        return false;
    }

    QString name() const { return QStringLiteral(":%1").arg(m_number); }

private:
    static bool hasSocket(int number)
    {
        return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number));
    }
    static bool inUse(int number)
    {
        return hasSocket(number) || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number));
    }

    QProcess m_server;
    int m_number = -1;
};

struct XdotoolRun {
    bool ok = false;
    QString output;
};

XdotoolRun xdotool(const QString &display, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("xdotool"), arguments);
    XdotoolRun run;
    run.ok = waitForProcess(process, boundMs) && process.exitCode() == 0;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(10000);
    }
    run.output = QString::fromUtf8(process.readAllStandardOutput());
    return run;
}

// The tool as a user starts it, in real mode, with its own temporary-files directory.
class ToolProcess
{
public:
    ToolProcess(const QString &display, const VirtualBus &bus)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("QT_SCALE_FACTOR"));
        env.remove(QStringLiteral("QT_FONT_DPI"));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());
        env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(VIRTUAL_UNIT_LIBRARY_DIR));
        env.insert(QStringLiteral("VIRTUAL_DFU_UNITS"), bus.busDir());
        process.setProcessEnvironment(env);
    }

    QStringList workingDirectories() const
    {
        return QDir(tmp.path()).entryList({QStringLiteral("upgrade_*")}, QDir::Dirs);
    }

    QStringList errorLines()
    {
        standardError += QString::fromUtf8(process.readAllStandardError());
        return standardError.split(QLatin1Char('\n'));
    }

    bool waitForLine(const QString &line)
    {
        QDeadlineTimer deadline(boundMs);
        while (!deadline.hasExpired()) {
            if (errorLines().contains(line))
                return true;
            if (process.state() == QProcess::NotRunning)
                return errorLines().contains(line);
            process.waitForReadyRead(100);
        }
        return false;
    }

    QTemporaryDir tmp;
    QProcess process; // killed with the object when a test gives up on it
    QString standardError;
};

} // namespace

class TestRealModeWindow : public QObject
{
    Q_OBJECT

private slots:
    void clickOnInstallUpgradesTheUnitAndQEndsTheTool();
};

// Ends showing: the window gone, the tool ended with exit code 0, its working
// directory removed and the embedded image in the unit's flash.
void TestRealModeWindow::clickOnInstallUpgradesTheUnitAndQEndsTheTool()
{
    for (const char *program : {"Xvfb", "xdotool"})
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (Debian packages xvfb and xdotool)")
                                 .arg(QLatin1String(program))));

    VirtualBus bus;
    QVERIFY(bus.isValid());
    const QString older = writeOlderImage(bus);
    QVERIFY(!older.isEmpty());
    const QString unit = QStringLiteral("arc31");
    QVERIFY(bus.createUnit(unit, arc31Options(QLatin1String(VirtualBus::defaultSerial), older)));

    VirtualDisplay display;
    QVERIFY2(display.start(), "Xvfb did not start on a free display");

    ToolProcess tool(display.name(), bus);
    tool.process.start(QStringLiteral(UPDATER_TOOL_EXECUTABLE), QStringList());
    QVERIFY(tool.process.waitForStarted(boundMs));

    const XdotoolRun search = xdotool(display.name(), {QStringLiteral("search"), QStringLiteral("--sync"),
                                                       QStringLiteral("--name"), windowTitle});
    QVERIFY2(search.ok, qPrintable(tool.errorLines().join(QLatin1Char('\n'))));
    const QStringList windows = search.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(windows.size(), 1);
    const QString window = windows.first();

    const XdotoolRun geometry = xdotool(display.name(), {QStringLiteral("getwindowgeometry"), window});
    QVERIFY(geometry.ok);
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("Geometry: (\\d+x\\d+)")).match(geometry.output);
    QVERIFY2(size.hasMatch(), qPrintable(geometry.output));
    QCOMPARE(size.captured(1), QStringLiteral("665x517"));

    const QStringList directories = tool.workingDirectories();
    QCOMPARE(directories.size(), 1);
    const QString workDir = QDir(tool.tmp.path()).filePath(directories.first());

    QVERIFY2(tool.waitForLine(QStringLiteral("\"SM_B: entered B2: Conn. to (DFU-SE) dev. with diff. FW rev.\"")),
             qPrintable(tool.standardError));
    QVERIFY(tool.errorLines().contains(QStringLiteral("MainWindow downloadMode: setEnabled true")));

    QVERIFY(xdotool(display.name(), QStringList{QStringLiteral("mousemove"), QStringLiteral("--window"), window}
                                        + installButtonCentre + QStringList{QStringLiteral("click"), QStringLiteral("1")})
                .ok);
    QVERIFY2(tool.waitForLine(QStringLiteral("Install clicked")), qPrintable(tool.standardError));
    QVERIFY2(tool.waitForLine(QStringLiteral("\"SM_B: entered B6: FW in dev. matches\"")),
             qPrintable(tool.standardError));
    const QStringList lines = tool.errorLines();
    QVERIFY(lines.contains(QStringLiteral("Start  \"%1/dfu-util.exe\" (\"-d\", \"0483\", \"-a\", \"0\", \"-s\", "
                                          "\"0x08000000:leave\", \"-D\", \"%1/firmware.bin\")")
                               .arg(workDir)));
    QVERIFY(lines.contains(QStringLiteral("Uploaded FW matches")));

    QVERIFY(xdotool(display.name(), {QStringLiteral("key"), QStringLiteral("--window"), window, QStringLiteral("q")}).ok);
    QVERIFY2(waitForProcess(tool.process, boundMs), qPrintable(tool.standardError));
    QCOMPARE(tool.process.exitCode(), 0);
    const QStringList end = tool.errorLines();
    for (const QString &line : {QStringLiteral("Msg-handler reset"), QStringLiteral("app.exec() returns:  0")})
        QVERIFY2(end.contains(line), qPrintable(line));
    QVERIFY(!QFileInfo::exists(workDir));
    QCOMPARE(tool.workingDirectories(), QStringList());

    const QByteArray image = firmwareImage();
    QCOMPARE(bus.flash(unit).left(image.size()), image);
}

QTEST_GUILESS_MAIN(TestRealModeWindow)
#include "tst_real_mode_window.moc"
