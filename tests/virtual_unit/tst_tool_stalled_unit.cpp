// The tool binary as a process in real mode, its extracted dfu-util held by a
// unit whose OTP upload stalls: a signal still ends the tool in bounded time
// with its working directory removed, and a dfu-util killed from outside is a
// failed read that the tool gets over.
#include "real_mode_support.h"
#include "support/standard_error_lines.h"
#include "virtual_bus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

constexpr int flowTimeoutMs = 60000;
// Far beyond the 1 s grace, the 5 s wait after the abort and the 2 s pause of
// the teardown; only an absurd shutdown time fails this.
constexpr qint64 absurdShutdownMs = 20000;
const QString unitName = QStringLiteral("stalling");
const QString b2Line = QStringLiteral("\"SM_B: entered B2: Conn. to (DFU-SE) dev. with diff. FW rev.\"");

bool processExists(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

// The tool in real mode with a bus of its own that holds one Arc-31 with an
// older image, whose OTP upload hangs until the fault is taken away.
class StalledUnitRun
{
public:
    StalledUnitRun()
    {
        QDir().mkpath(runtimeDir());
        ::chmod(QFile::encodeName(runtimeDir()).constData(), 0700);
        QProcessEnvironment env = bus.environment();
        env.insert(QStringLiteral("TMPDIR"), tmp.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
        process.setProcessEnvironment(env);
    }

    // An Arc-31 holding an older image.
    bool createUnit(const QString &name, const QString &serial)
    {
        const QString image = bus.workFile(QStringLiteral("older.bin"));
        return (QFile::exists(image) || !realmode::writeOlderImage(bus).isEmpty())
            && bus.createUnit(name, {QStringLiteral("--serial"), serial, QStringLiteral("--firmware"), image,
                                     QStringLiteral("--otp-type"), QStringLiteral("4"), QStringLiteral("--timing"),
                                     QStringLiteral("fast"), QStringLiteral("--return-delay"), QStringLiteral("300")});
    }
    bool createStallingUnit()
    {
        return createUnit(unitName, QStringLiteral("5354414C4C32"))
            && bus.unitCommand(QStringLiteral("fault"), unitName, {QStringLiteral("stall-otp-upload")});
    }
    QString stalledMarker() const { return QDir(bus.unitDir(unitName)).filePath(QStringLiteral("stalled")); }
    qint64 stalledDfuUtil() const { return readWholeFile(stalledMarker()).trimmed().toLongLong(); }

    void start() { process.start(QStringLiteral(UPDATER_TOOL_EXECUTABLE), QStringList()); }

    QStringList lines() { return m_errors.read(process); }
    bool waitForLine(const std::function<bool(const QString &)> &wanted)
    {
        return m_errors.waitFor(process, wanted, flowTimeoutMs);
    }
    QString report()
    {
        return QStringLiteral("exit status %1, code %2; standard error:\n%3")
            .arg(process.exitStatus())
            .arg(process.exitCode())
            .arg(lines().join(QLatin1Char('\n')));
    }

    QString workingDirectory()
    {
        static const QRegularExpression pattern(
            QStringLiteral("^Changing file permissions to make it executable: \"(.*)/dfu-util.exe\"$"));
        for (const QString &line : lines()) {
            const QRegularExpressionMatch match = pattern.match(line);
            if (match.hasMatch())
                return match.captured(1);
        }
        return QString();
    }
    QStringList workingDirectories() const
    {
        return QDir(tmp.path()).entryList({QStringLiteral("upgrade_*")}, QDir::Dirs | QDir::Hidden);
    }

    // The runner's line for the end of the stalled OTP upload.
    QString otpUploadExitPrefix()
    {
        const QString directory = workingDirectory();
        const QStringList arguments{QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                    QStringLiteral("2"), QStringLiteral("-s"), QStringLiteral("0x1FFF7800:512"),
                                    QStringLiteral("-U"), directory + QStringLiteral("/uploaded_OTP.bin")};
        return QStringLiteral("Exit with -1 from \"%1/dfu-util.exe\" %2 returned: ")
            .arg(directory, realmode::quotedList(arguments));
    }

    VirtualBus bus;
    QProcess process;

private:
    QString runtimeDir() const { return tmp.filePath(QStringLiteral("runtime")); }

    QTemporaryDir tmp;
    StandardErrorLines m_errors;
};

} // namespace

class TestToolStalledUnit : public QObject
{
    Q_OBJECT

private slots:
    void signalEndsTheToolWhileAUnitHoldsDfuUtil_data();
    void signalEndsTheToolWhileAUnitHoldsDfuUtil();
    void dfuUtilKilledFromOutsideIsAFailedRead();
};

void TestToolStalledUnit::signalEndsTheToolWhileAUnitHoldsDfuUtil_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM ends the tool while dfu-util hangs") << int(SIGTERM);
    QTest::newRow("SIGINT ends the tool while dfu-util hangs") << int(SIGINT);
}

void TestToolStalledUnit::signalEndsTheToolWhileAUnitHoldsDfuUtil()
{
    QFETCH(int, signalNumber);
    StalledUnitRun run;
    QVERIFY(run.bus.isValid());
    QVERIFY(run.createStallingUnit());
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run.stalledMarker()), flowTimeoutMs);
    const qint64 dfuUtil = run.stalledDfuUtil();
    QVERIFY(processExists(dfuUtil));
    const QString workingDirectory = run.workingDirectory();
    QVERIFY(QFileInfo(workingDirectory).isDir());

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::kill(pid_t(run.process.processId()), signalNumber), 0);
    QVERIFY(run.process.waitForFinished(absurdShutdownMs));
    QVERIFY2(clock.elapsed() < absurdShutdownMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0, qPrintable(run.report()));

    // The hung upload is ended, and reported like any abnormal end.
    const QStringList lines = run.lines();
    const QString exitPrefix = run.otpUploadExitPrefix();
    const QStringList expectedInOrder{QStringLiteral("Received signal %1 - shutting down").arg(signalNumber),
                                      QStringLiteral("Trying to stop sm_A"), QStringLiteral("Oops, SM_A not dead yet"),
                                      exitPrefix, QStringLiteral("app.exec() returns:  0"),
                                      QStringLiteral("Waiting 2 s before deleting objects")};
    int at = 0;
    for (const QString &expected : expectedInOrder) {
        while (at < lines.size() && !lines.at(at).startsWith(expected))
            ++at;
        QVERIFY2(at < lines.size(), qPrintable(expected + QStringLiteral(" missing or out of order; ") + run.report()));
    }
    QVERIFY(!processExists(dfuUtil));
    QVERIFY(!QFileInfo::exists(workingDirectory));
    QCOMPARE(run.workingDirectories(), QStringList());
}

void TestToolStalledUnit::dfuUtilKilledFromOutsideIsAFailedRead()
{
    StalledUnitRun run;
    QVERIFY(run.bus.isValid());
    QVERIFY(run.createStallingUnit());
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run.stalledMarker()), flowTimeoutMs);
    const qint64 dfuUtil = run.stalledDfuUtil();
    QVERIFY(processExists(dfuUtil));

    QCOMPARE(::kill(pid_t(dfuUtil), SIGKILL), 0);
    const QString exitPrefix = run.otpUploadExitPrefix();
    QVERIFY2(run.waitForLine([&exitPrefix](const QString &line) { return line.startsWith(exitPrefix); }),
             qPrintable(run.report()));
    // A failed read: the unit is never shown while it stays attached.
    QVERIFY(!run.lines().contains(b2Line));
    QVERIFY(!run.lines().contains(QStringLiteral("\"SM_A: /sig_DevConn\"")));

    // Another unit in its place is read and offered.
    const int linesBefore = run.lines().size();
    QVERIFY(run.bus.unitCommand(QStringLiteral("unplug"), unitName));
    QVERIFY(run.createUnit(QStringLiteral("healthy"), QStringLiteral("4845414C5459")));
    QVERIFY2(run.waitForLine([&run, linesBefore](const QString &) {
        return run.lines().mid(linesBefore).contains(b2Line);
    }), qPrintable(run.report()));

    QCOMPARE(::kill(pid_t(run.process.processId()), SIGTERM), 0);
    QVERIFY(run.process.waitForFinished(absurdShutdownMs));
    QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0, qPrintable(run.report()));
    QCOMPARE(run.workingDirectories(), QStringList());
}

QTEST_GUILESS_MAIN(TestToolStalledUnit)
#include "tst_tool_stalled_unit.moc"
