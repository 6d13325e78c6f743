// The runner that starts one prepared dfu-util invocation and waits for it,
// the start-up execution test, and the abort used when the tool shuts down.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "app/workdir.h"
#include "dfu/dfu_runner.h"

#include <QDebug>
#include <QFile>
#include <QThread>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(DfuCommand)

namespace {

// Runs one command in a thread of its own, as SM_A does.
class BackgroundRun
{
public:
    BackgroundRun(DfuCommand command, QStringList extra = {})
        : m_thread(QThread::create([this, command, extra] { m_result = runDfuCommand(command, extra); }))
    {
        m_thread->start();
    }
    // A test that fails before its child ends must not hang on it.
    ~BackgroundRun()
    {
        if (!m_thread->wait(0)) {
            abortDfuRuns();
            m_thread->wait();
        }
    }
    bool finish() { return m_thread->wait(60000); }
    DfuResult result() const { return m_result; }

private:
    DfuResult m_result;
    std::unique_ptr<QThread> m_thread;
};

const QString timeoutLinePrefix =
    QStringLiteral("waitForFinished(): Process did not finish in time, exit status: QProcess::NormalExit and output: ");
const QString waitAgainLine = QStringLiteral("will wait again, forever");

} // namespace

class TestDfuRunner : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { resetDfuRunAbort(); }

    void exitCodeAndOutput_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("a child that ends with code 0 gives 0 and its output")
            << QByteArray("printf 'all fine\\n'; exit 0") << 0 << "all fine\n";
        QTest::newRow("a child that ends normally with code 3 gives 3")
            << QByteArray("printf 'three'; exit 3") << 3 << "three";
        QTest::newRow("a child that kills itself with SIGKILL gives -1")
            << QByteArray("printf 'dying'; kill -KILL $$") << -1 << "dying";
        QTest::newRow("a child that crashes with SIGSEGV gives -1")
            << QByteArray("kill -SEGV $$") << -1 << "";
        QTest::newRow("output is read as UTF-8")
            << QByteArray("printf 'Gr\\303\\274\\303\\237e'") << 0 << QString::fromUtf8("Gr\xc3\xbc\xc3\x9f" "e");
        QTest::newRow("output ends at the first NUL byte")
            << QByteArray("printf 'before\\000after'") << 0 << "before";
        QTest::newRow("standard error is not part of the output")
            << QByteArray("printf 'out'; printf 'err' >&2; exit 5") << 5 << "out";
    }
    void exitCodeAndOutput()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        const CommandTableGuard guard;
        StandInPrograms programs;
        dfuCommandEntry(DfuCommand::Version) = {programs.write("child", body), {}};

        const DfuResult result = runDfuCommand(DfuCommand::Version);
        QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(result.output, output);
    }

    void logLinesOfARun_data()
    {
        QTest::addColumn<DfuCommand>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("startLine");
        QTest::addColumn<bool>("endLine");
        QTest::newRow("a successful upload logs only its start")
            << DfuCommand::UploadOtp << 0 << true << false;
        QTest::newRow("a failed upload logs its start and its end")
            << DfuCommand::UploadOtp << 74 << true << true;
        QTest::newRow("a successful list logs nothing at all") << DfuCommand::List << 0 << false << false;
        QTest::newRow("a failed list logs only its end") << DfuCommand::List << 1 << false << true;
    }
    void logLinesOfARun()
    {
        QFETCH(DfuCommand, command);
        QFETCH(int, exitCode);
        QFETCH(bool, startLine);
        QFETCH(bool, endLine);
        const CommandTableGuard guard;
        StandInPrograms programs;
        const QString program =
            programs.write("fake dfu-util", "printf 'Opening \"DFU\" device\\n'; exit " + QByteArray::number(exitCode));
        dfuCommandEntry(command) = {program, {"-d", "0483"}};

        LogCapture log;
        const DfuResult result = runDfuCommand(command, {"-U", "/tmp/some dir/file.bin"});
        QCOMPARE(result.exitCode, exitCode);

        QStringList expected;
        const QString quotedProgram = "\"" + program + "\"";
        const QString arguments = "(\"-d\", \"0483\", \"-U\", \"/tmp/some dir/file.bin\")";
        if (startLine)
            expected << "Start  " + quotedProgram + " " + arguments;
        if (endLine)
            expected << QStringLiteral("Exit with %1 from %2 %3 returned: \"Opening \\\"DFU\\\" device\\n\"")
                            .arg(exitCode)
                            .arg(quotedProgram, arguments);
        QCOMPARE(log.texts(), expected);
    }

    void extraArgumentsFollowTheFixedOnes()
    {
        const CommandTableGuard guard;
        StandInPrograms programs;
        dfuCommandEntry(DfuCommand::UploadFw).program = programs.write("echo-args", "printf '%s\\n' \"$@\"");

        const DfuResult result =
            runDfuCommand(DfuCommand::UploadFw, {"-s", "0x08000000:788000", "-U", "/tmp/a b/uploaded_FW.bin"});
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output.split('\n'),
                 QStringList({"-d", "0483", "-a", "0", "-s", "0x08000000:788000", "-U", "/tmp/a b/uploaded_FW.bin", ""}));
    }

    void realModeStartsTheExtractedExecutable()
    {
        const CommandTableGuard guard;
        StandInPrograms programs;
        programs.write(dfuUtilFileName, "printf 'extracted'");
        dfuUtilDirectory = programs.directory();

        LogCapture log;
        const DfuResult result = runDfuCommand(DfuCommand::Version);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output, QStringLiteral("extracted"));
        QCOMPARE(log.texts(), QStringList{"Start  \"" + programs.directory() + "/dfu-util.exe\" (\"-V\")"});
    }

    void aProgramThatCannotBeStartedFails_data()
    {
        QTest::addColumn<bool>("existsWithoutExecutePermission");
        QTest::newRow("a program name that is nowhere to be found") << false;
        QTest::newRow("a file without execute permission") << true;
    }
    void aProgramThatCannotBeStartedFails()
    {
        QFETCH(bool, existsWithoutExecutePermission);
        const CommandTableGuard guard;
        StandInPrograms programs;
        QString program = QStringLiteral("no-such-dfu-util-anywhere");
        if (existsWithoutExecutePermission) {
            program = programs.path("not executable");
            QVERIFY(writeFileBytes(program, "#!/bin/sh\nexit 0\n"));
        }
        dfuCommandEntry(DfuCommand::Version) = {program, {"-V"}};

        LogCapture log;
        const DfuResult result = runDfuCommand(DfuCommand::Version);
        // Qt reports a normal exit with code 0 for a child that never ran.
        QCOMPARE(result.exitCode, -1);
        QCOMPARE(result.output, QString());
        QCOMPARE(log.texts(), QStringList({"Start  \"" + program + "\" (\"-V\")", timeoutLinePrefix + "\"\"",
                                           waitAgainLine,
                                           "Exit with -1 from \"" + program + "\" (\"-V\") returned: \"\""}));
    }

    void aChildOutlastingTheFirstWaitIsWaitedForAgain()
    {
        const CommandTableGuard guard;
        const FirstWaitGuard firstWait(2000);
        StandInPrograms programs;
        const QString program = programs.write(
            "slow", "printf 'early\\n'\n"
                    "while [ ! -e \"$(dirname \"$0\")/go\" ]; do sleep 0.05; done\n"
                    "printf 'late\\n'\nexit 0");
        dfuCommandEntry(DfuCommand::DownloadFw) = {program, {}};

        LogCapture log;
        BackgroundRun run(DfuCommand::DownloadFw);
        QTRY_VERIFY_WITH_TIMEOUT(log.texts().contains(waitAgainLine), 30000);
        QVERIFY(writeFileBytes(programs.path("go"), QByteArray()));
        QVERIFY(run.finish());

        QCOMPARE(run.result().exitCode, 0);
        QCOMPARE(run.result().output, QStringLiteral("late\n"));
        QCOMPARE(log.texts(), QStringList({"Start  \"" + program + "\" ()", timeoutLinePrefix + "\"early\\n\"",
                                           waitAgainLine}));
    }

    void abortEndsAHungChild_data()
    {
        QTest::addColumn<int>("firstWaitMs");
        QTest::newRow("an abort during the first wait kills the child") << 30000;
        QTest::newRow("an abort during the unbounded wait kills the child") << 2000;
    }
    void abortEndsAHungChild()
    {
        QFETCH(int, firstWaitMs);
        const CommandTableGuard guard;
        const FirstWaitGuard firstWait(firstWaitMs);
        StandInPrograms programs;
        const QString program =
            programs.write("hung", "printf 'stuck' > \"$(dirname \"$0\")/started\"\nprintf 'stuck'\nexec sleep 600");
        dfuCommandEntry(DfuCommand::UploadFw) = {program, {"-a", "0"}};

        LogCapture log;
        BackgroundRun run(DfuCommand::UploadFw);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(programs.path("started")), 30000);
        const bool waitsAgain = firstWaitMs < 30000;
        if (waitsAgain)
            QTRY_VERIFY_WITH_TIMEOUT(log.texts().contains(waitAgainLine), 30000);
        abortDfuRuns();
        QVERIFY(run.finish());

        QCOMPARE(run.result().exitCode, -1);
        QStringList expected{"Start  \"" + program + "\" (\"-a\", \"0\")"};
        if (waitsAgain)
            expected << timeoutLinePrefix + "\"stuck\"" << waitAgainLine;
        expected << "Exit with -1 from \"" + program + "\" (\"-a\", \"0\") returned: \"" + run.result().output + "\"";
        QCOMPARE(log.texts(), expected);
    }

    void noChildStartsAfterAnAbort()
    {
        const CommandTableGuard guard;
        StandInPrograms programs;
        const QString program = programs.write("marker", "printf 'ran' > \"$(dirname \"$0\")/ran\"");
        dfuCommandEntry(DfuCommand::List) = {program, {"-l"}};

        abortDfuRuns();
        QVERIFY(dfuRunsAborted());
        LogCapture log;
        const DfuResult refused = runDfuCommand(DfuCommand::List);
        QCOMPARE(refused.exitCode, -1);
        QCOMPARE(refused.output, QString());
        QVERIFY(!QFile::exists(programs.path("ran")));
        QCOMPARE(log.texts(),
                 QStringList{"Not started, device access has been aborted: \"" + program + "\" (\"-l\")"});

        resetDfuRunAbort();
        QCOMPARE(runDfuCommand(DfuCommand::List).exitCode, 0);
        QVERIFY(QFile::exists(programs.path("ran")));
    }

    void executionTest_data()
    {
        const QByteArray version = referenceVersionText();
        QByteArray crlf = version;
        crlf.replace("\n", "\r\n");
        QByteArray version011 = version;
        version011.replace("dfu-util 0.9", "dfu-util 0.11").replace("2010-2016", "2010-2021");
        QByteArray extraSpace = version;
        extraSpace.replace("Inc.", "Inc. ");

        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("passes");
        QTest::newRow("dfu-util 0.9's text with exit code 0 passes") << version << 0 << true;
        QTest::newRow("the right text with exit code 1 fails") << version << 1 << false;
        QTest::newRow("CR LF line ends pass on Windows only") << crlf << 0 << isWindowsPlatform(buildPlatform());
        QTest::newRow("dfu-util 0.11's text fails although it ran") << version011 << 0 << false;
        QTest::newRow("a missing final empty line fails") << version.left(version.size() - 1) << 0 << false;
        QTest::newRow("one extra space fails") << extraSpace << 0 << false;
        QTest::newRow("no output at all fails") << QByteArray() << 0 << false;
    }
    void executionTest()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, exitCode);
        QFETCH(bool, passes);
        const CommandTableGuard guard;
        StandInPrograms programs;
        QVERIFY(writeFileBytes(programs.path("text"), output));
        dfuCommandEntry(DfuCommand::Version) = {
            programs.write("version", "cat \"$(dirname \"$0\")/text\"\nexit " + QByteArray::number(exitCode)), {"-V"}};

        LogCapture log;
        QCOMPARE(testDfuUtilExecution(), passes);
        const QString status = exitCode == 0 ? "ok" : "bad";
        const QString detail = passes || output == referenceVersionText() ? QStringLiteral("as expected")
                                                                          : quoted(QString::fromUtf8(output));
        QCOMPARE(log.texts().last(), "Result of execution test: status was " + status + " and output: " + detail);
    }
};

QTEST_GUILESS_MAIN(TestDfuRunner)
#include "tst_dfu_runner.moc"
