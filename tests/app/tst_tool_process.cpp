// The tool as a user starts it: a separate process on the offscreen platform.
#include "support/standard_error_lines.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QString toolPath = QStringLiteral(UPDATER_TOOL_EXECUTABLE);
const QString simulatorScript = QStringLiteral(UPDATER_SOURCE_DIR "/updater/simulator/dfu-util_simulator.sh");

// A tool process with its own temporary-files directory and simulated unit.
struct ToolRun {
    QTemporaryDir tmp;
    QProcess process;
    QString stateDir() const { return tmp.filePath(QStringLiteral("simulator")); }

    ToolRun()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp.path());
        env.insert(QStringLiteral("DFU_SIMULATOR_STATE_DIR"), stateDir());
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        process.setProcessEnvironment(env);
    }

    bool prepareScenario(const QString &name)
    {
        QProcess script;
        script.setProcessEnvironment(process.processEnvironment());
        script.start(simulatorScript, {QStringLiteral("--dfu-util-command"),
                                       QStringLiteral("setup_prepared_config"), name});
        return script.waitForFinished(30000) && script.exitCode() == 0;
    }

    QStringList workingDirectories() const
    {
        return QDir(tmp.path()).entryList({QStringLiteral("upgrade_*")}, QDir::Dirs);
    }

    StandardErrorLines standardError;
    QStringList errorLines() { return standardError.read(process); }
    bool waitForLine(const QString &line) { return standardError.waitFor(process, line, 60000); }
};

} // namespace

class TestToolProcess : public QObject
{
    Q_OBJECT

private slots:
    void unknownOptionEndsWithExitCodeOne();
    void startUpLogsItsLinesAndCleansUpOnSignal_data();
    void startUpLogsItsLinesAndCleansUpOnSignal();
    void logWindowHandlerFormatsStandardError();
};

void TestToolProcess::unknownOptionEndsWithExitCodeOne()
{
    ToolRun run;
    run.process.start(toolPath, {QStringLiteral("--bogus")});
    QVERIFY(run.process.waitForFinished(60000));
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process.exitCode(), 1);
    QVERIFY(QString::fromUtf8(run.process.readAllStandardError()).contains(QStringLiteral("Unknown option 'bogus'.")));
    QCOMPARE(run.workingDirectories(), QStringList());
}

void TestToolProcess::startUpLogsItsLinesAndCleansUpOnSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM ends the tool cleanly") << int(SIGTERM);
    QTest::newRow("SIGINT ends the tool cleanly") << int(SIGINT);
    QTest::newRow("SIGHUP from a closed terminal ends the tool cleanly") << int(SIGHUP);
}

void TestToolProcess::startUpLogsItsLinesAndCleansUpOnSignal()
{
    QFETCH(int, signalNumber);
    ToolRun run;
    QVERIFY(run.prepareScenario(QStringLiteral("none")));
    run.process.start(toolPath, {QStringLiteral("-s")});
    QVERIFY(run.waitForLine(QStringLiteral("Starting sm_A")));

    const QStringList directories = run.workingDirectories();
    QCOMPARE(directories.size(), 1);
    QVERIFY(QRegularExpression(QStringLiteral("^upgrade_[A-Za-z0-9]{6}$")).match(directories.first()).hasMatch());
    const QString workDir = QDir(run.tmp.path()).filePath(directories.first());
    QCOMPARE(QDir(workDir).entryList(QDir::Files, QDir::Name),
             QStringList({QStringLiteral("dfu-util.exe"), QStringLiteral("firmware.bin"), QStringLiteral("firmware.dfu")}));
    QVERIFY(QFileInfo(workDir + QStringLiteral("/dfu-util.exe")).isExecutable());

    const QStringList expectedStart = {
        QStringLiteral("Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=false"),
        QStringLiteral("Load/set default font: \"Cantarell\""),
        QStringLiteral("Will use simulator (i.e. option 'use_simulator)."),
        QStringLiteral("Compiled for platform (OS): Linux with 'DEBUG' not defined"),
        QStringLiteral("Extracted  \"firmware.dfu\""),
        QStringLiteral("Extracted  \"firmware.bin\""),
        QStringLiteral("Extracted  \"dfu-util.exe\""),
        QStringLiteral("Changing file permissions to make it executable: \"%1/dfu-util.exe\"").arg(workDir),
        QStringLiteral("Start  \"%1\" (\"--dfu-util-command\", \"version\", \"-V\")")
            .arg(QStringLiteral(UPDATER_SOURCE_DIR "/updater/software/../simulator/dfu-util_simulator.sh")),
        QStringLiteral("Result of execution test: status was ok and output: as expected"),
        QStringLiteral("Reading desired FW_Info from  \"%1/firmware.bin\"").arg(workDir),
        QStringLiteral("Desired (embedded) FW info:"),
        QStringLiteral("  Type: ProductInfo: BRVA (4)"),
    };
    const QStringList lines = run.errorLines().filter(QRegularExpression(QStringLiteral("^(?!QStandardPaths:)")));
    QCOMPARE(lines.mid(0, expectedStart.size()), expectedStart);
    QVERIFY(lines.contains(QStringLiteral("\"SM_B: entered B1: No (DFU-SE) dev. conn.\"")));

    QCOMPARE(::kill(pid_t(run.process.processId()), signalNumber), 0);
    QVERIFY(run.process.waitForFinished(60000));
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process.exitCode(), 0);
    const QStringList end = run.errorLines();
    for (const QString &line : {QStringLiteral("Msg-handler reset"), QStringLiteral("Trying to stop sm_A"),
                                QStringLiteral("app.exec() returns:  0"),
                                QStringLiteral("Waiting 2 s before deleting objects")})
        QVERIFY2(end.contains(line), qPrintable(line));
    QVERIFY(!QFileInfo::exists(workDir));
}

void TestToolProcess::logWindowHandlerFormatsStandardError()
{
    ToolRun run;
    QVERIFY(run.prepareScenario(QStringLiteral("none")));
    run.process.start(toolPath, {QStringLiteral("-s"), QStringLiteral("-l")});
    QVERIFY(run.waitForLine(QStringLiteral("Info: Starting sm_A ((null):0, (null))")));
    // Lines of SM_A's thread cross over to the log window and standard error too.
    QVERIFY(run.waitForLine(QStringLiteral("Debug: \"SM_A: /sig_NoDevConn\" ((null):0, (null))")));
    const QStringList lines = run.errorLines();
    // Messages before the handler is installed keep the default output.
    QVERIFY(lines.contains(QStringLiteral("Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=false")));
    QVERIFY(lines.contains(QStringLiteral("Info: Will use simulator (i.e. option 'use_simulator). ((null):0, (null))")));
    QVERIFY(lines.contains(QStringLiteral("Debug: Extracted  \"firmware.dfu\" ((null):0, (null))")));
    QCOMPARE(::kill(pid_t(run.process.processId()), SIGTERM), 0);
    QVERIFY(run.process.waitForFinished(60000));
    QCOMPARE(run.process.exitCode(), 0);
    QCOMPARE(run.workingDirectories(), QStringList());
}

QTEST_GUILESS_MAIN(TestToolProcess)
#include "tst_tool_process.moc"
