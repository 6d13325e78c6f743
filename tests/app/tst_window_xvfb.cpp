// The tool as a user sees it: the binary on a virtual X display, its window
// found by title and clicked through xdotool, the upgrade run against the
// simulated unit, and the tool quit with the Q key.
#include "support/standard_error_lines.h"
#include "support/virtual_display.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

const QString toolPath = QStringLiteral(UPDATER_TOOL_EXECUTABLE);
const QString simulatorScript = QStringLiteral(UPDATER_SOURCE_DIR "/updater/simulator/dfu-util_simulator.sh");
const QString windowTitle = QStringLiteral("Lumarex Firmware Upgrade Tool");

constexpr int startTimeoutMs = 60000;
constexpr int flowTimeoutMs = 120000;

// The upgrade tool as a process on the virtual display, with its own
// temporary-files directory and its own simulated unit.
class ToolOnDisplay
{
public:
    QTemporaryDir tmp;
    ChildProcess tool;
    QString display;

    explicit ToolOnDisplay(const QString &displayName)
        : display(displayName)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());
        env.insert(QStringLiteral("DFU_SIMULATOR_STATE_DIR"), tmp.filePath(QStringLiteral("simulator")));
        env.insert(QStringLiteral("DFU_SIMULATOR_FAST_PROGRESS"), QStringLiteral("1"));
        // The window's size must follow the display's resolution alone.
        for (const char *name : {"QT_LOGGING_RULES", "QT_MESSAGE_PATTERN", "QT_SCALE_FACTOR", "QT_FONT_DPI",
                                 "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                                 "QT_ENABLE_HIGHDPI_SCALING"})
            env.remove(QString::fromLatin1(name));
        tool.process.setProcessEnvironment(env);
        tool.process.setReadChannel(QProcess::StandardError);
    }

    bool prepareScenario(const QString &name)
    {
        QProcess script;
        script.setProcessEnvironment(tool.process.processEnvironment());
        script.start(simulatorScript, {QStringLiteral("--dfu-util-command"),
                                       QStringLiteral("setup_prepared_config"), name});
        return script.waitForFinished(30000) && script.exitStatus() == QProcess::NormalExit
               && script.exitCode() == 0;
    }

    void start() { tool.process.start(toolPath, {QStringLiteral("-s")}); }

    QStringList errorLines() { return standardError.read(tool.process); }

    // The first line of standard error that starts with the prefix, waiting for it
    // to arrive; a null text if it does not.
    QString waitForLineStarting(const QString &prefix)
    {
        QString line;
        standardError.waitFor(
            tool.process, [&prefix](const QString &candidate) { return candidate.startsWith(prefix); },
            flowTimeoutMs, &line);
        return line;
    }

    bool waitForLine(const QString &line) { return standardError.waitFor(tool.process, line, flowTimeoutMs); }

    QStringList workingDirectories() const
    {
        return QDir(tmp.path()).entryList({QStringLiteral("upgrade_*")}, QDir::Dirs);
    }

private:
    StandardErrorLines standardError;
};

QSize parseGeometry(const QString &output)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)")).match(output);
    return match.hasMatch() ? QSize(match.captured(1).toInt(), match.captured(2).toInt()) : QSize();
}

int scaled(int designValue, int dotsPerInch)
{
    return int(std::floor(designValue * dotsPerInch / 96.0 + 0.5));
}

} // namespace

class TestWindowXvfb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upgradeByClickAndQuitByKey_data();
    void upgradeByClickAndQuitByKey();
};

void TestWindowXvfb::initTestCase()
{
    for (const QString &program : {QStringLiteral("Xvfb"), QStringLiteral("xdotool")}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            QSKIP(qPrintable(program + QStringLiteral(" is not installed")));
    }
}

void TestWindowXvfb::upgradeByClickAndQuitByKey_data()
{
    QTest::addColumn<int>("dotsPerInch");
    QTest::addColumn<QSize>("windowSize");
    QTest::addColumn<int>("headerWidth");

    QTest::newRow("At 96 dots per inch the window has its design size")
        << 96 << QSize(665, 517) << 228;
    QTest::newRow("At 120 dots per inch everything is a quarter larger")
        << 120 << QSize(831, 646) << 285;
}

void TestWindowXvfb::upgradeByClickAndQuitByKey()
{
    QFETCH(int, dotsPerInch);
    QFETCH(QSize, windowSize);
    QFETCH(int, headerWidth);

    VirtualDisplay display;
    QVERIFY2(display.start(dotsPerInch), "no free X display number for Xvfb");

    ToolOnDisplay run(display.name());
    QVERIFY(run.tmp.isValid());
    QVERIFY(run.prepareScenario(QStringLiteral("default")));
    run.start();
    QVERIFY(run.tool.process.waitForStarted(startTimeoutMs));

    QString found;
    QVERIFY(runXdotool(run.display,
                       {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--name"), windowTitle},
                       &found));
    const QString windowId = found.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0);
    QVERIFY2(!windowId.isEmpty(), "no window titled \"Lumarex Firmware Upgrade Tool\"");
    QString geometry;
    QVERIFY(runXdotool(run.display, {QStringLiteral("getwindowgeometry"), windowId}, &geometry));
    QCOMPARE(parseGeometry(geometry), windowSize);
    QCOMPARE(run.waitForLineStarting(QStringLiteral("Overriding width to ")).section(QStringLiteral(" for text:"), 0, 0),
             QStringLiteral("Overriding width to  %1").arg(headerWidth));

    QVERIFY(run.waitForLine(QStringLiteral("\"SM_B: entered B2: Conn. to (DFU-SE) dev. with diff. FW rev.\"")));
    // The middle of the install button, in the window's own pixels.
    QVERIFY(runXdotool(run.display,
                       {QStringLiteral("mousemove"), QStringLiteral("--window"), windowId,
                        QString::number(scaled(332, dotsPerInch)), QString::number(scaled(437, dotsPerInch)),
                        QStringLiteral("click"), QStringLiteral("1")}));
    QVERIFY(run.waitForLine(QStringLiteral("\"SM_B: entered B6: FW in dev. matches\"")));
    QCOMPARE(run.errorLines().filter(QRegularExpression(QStringLiteral("^Install clicked$"))).size(), 1);
    QVERIFY(run.errorLines().contains(QStringLiteral("\"SM_B: entered B3: Upgrading FW\"")));
    QCOMPARE(run.workingDirectories().size(), 1);

    QVERIFY(
        runXdotool(run.display, {QStringLiteral("key"), QStringLiteral("--window"), windowId, QStringLiteral("q")}));
    QVERIFY(run.tool.process.waitForFinished(flowTimeoutMs));
    QCOMPARE(run.tool.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.tool.process.exitCode(), 0);
    QVERIFY(run.errorLines().contains(QStringLiteral("Msg-handler reset")));
    QCOMPARE(run.workingDirectories(), QStringList());
}

QTEST_GUILESS_MAIN(TestWindowXvfb)
#include "tst_window_xvfb.moc"
