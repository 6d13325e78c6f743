// Faults of the dfu-util child as the device operations meet them: a child
// killed from outside, a child slower than the runner's first wait, and
// uploads whose target in the working directory cannot be written.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "app/workdir.h"
#include "device/device_info.h"
#include "dfu/device_reader.h"
#include "dfu/dfu_runner.h"
#include "dfu/dfu_scan.h"
#include "dfu/firmware_transfer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

#include <csignal>
#include <sys/types.h>

namespace {

// The result of one device operation, reduced to what the caller acts on.
struct Outcome {
    int code = 0;
    bool passed = false;
};
using Operation = std::function<Outcome()>;

Outcome readDevice()
{
    DeviceInfo info;
    const DfuResult result = readDeviceInfo(info);
    return {result.exitCode, result.exitCode == 0 && info.valid};
}

Outcome download()
{
    const int code = downloadFirmware(workFilePath(WorkFile::FirmwareBin));
    return {code, code == 0};
}

// The verification hands on a truth value only.
Outcome verify()
{
    return {0, uploadAndVerify(embeddedImagePath(), workFilePath(WorkFile::UploadedFw))};
}

Outcome scan()
{
    const DfuScanResult result = scanDfuDevices();
    return {result.code, result.code == 0 && result.serials.size() == 1};
}

// Runs an operation in a thread of its own, as SM_A does, so that the test
// can act on the child meanwhile.
class BackgroundOperation
{
public:
    explicit BackgroundOperation(Operation operation)
        : m_thread(QThread::create([this, operation] { m_outcome = operation(); }))
    {
        m_thread->start();
    }
    // A test that fails while its child hangs must not hang with it.
    ~BackgroundOperation()
    {
        if (!m_thread->wait(0)) {
            abortDfuRuns();
            m_thread->wait();
            resetDfuRunAbort();
        }
    }
    bool finish() { return m_thread->wait(60000); }
    Outcome outcome() const { return m_outcome; }

private:
    Outcome m_outcome;
    std::unique_ptr<QThread> m_thread;
};

QString quotedList(const QStringList &items)
{
    QStringList quoted;
    for (const QString &item : items)
        quoted << QLatin1Char('"') + item + QLatin1Char('"');
    return QLatin1Char('(') + quoted.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QStringList argumentsOf(DfuCommand command, const QStringList &extra)
{
    return dfuCommandEntry(command).arguments + extra;
}

QString startLine(const QString &program, const QStringList &arguments)
{
    return QStringLiteral("Start  \"%1\" %2").arg(program, quotedList(arguments));
}

QString exitLine(int code, const QString &program, const QStringList &arguments, const QString &output)
{
    QString quotedOutput;
    QDebug(&quotedOutput) << output;
    return QStringLiteral("Exit with %1 from \"%2\" %3 returned: %4")
        .arg(code)
        .arg(program, quotedList(arguments), quotedOutput.trimmed());
}

const QString timeoutLinePrefix = QStringLiteral("waitForFinished(): Process did not finish in time, exit status: ");
const QString waitAgainLine = QStringLiteral("will wait again, forever");

bool processExists(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

// Something in the way of an upload target: a directory where the file
// should go (as in a directory that takes no new files), or a link to
// /dev/full, where every write fails for want of space.
enum class Obstacle { None, Directory, FullDevice };

bool placeObstacle(const QString &path, Obstacle obstacle)
{
    QFile::remove(path);
    switch (obstacle) {
    case Obstacle::None:
        return true;
    case Obstacle::Directory:
        return QDir().mkpath(path);
    case Obstacle::FullDevice:
        return QFile::link(QStringLiteral("/dev/full"), path);
    }
    return false;
}

void clearObstacle(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

} // namespace

Q_DECLARE_METATYPE(Operation)
Q_DECLARE_METATYPE(DfuCommand)
Q_DECLARE_METATYPE(Obstacle)
Q_DECLARE_METATYPE(WorkFile)

class TestChildFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void childKilledFromOutsideFailsTheOperation_data();
    void childKilledFromOutsideFailsTheOperation();

    void childSlowerThanTheFirstWaitStillGivesItsResult_data();
    void childSlowerThanTheFirstWaitStillGivesItsResult();

    void uploadThatCannotBeWrittenIsAFailure_data();
    void uploadThatCannotBeWrittenIsAFailure();
};

void TestChildFaults::initTestCase()
{
    QVERIFY(workingDirectory().isValid());
    // Download and verification read the image from the working directory.
    QFile::remove(workFilePath(WorkFile::FirmwareBin));
    QVERIFY(QFile::copy(embeddedImagePath(), workFilePath(WorkFile::FirmwareBin)));
}

void TestChildFaults::cleanup()
{
    resetDfuRunAbort();
    for (WorkFile file : {WorkFile::UploadedOtp, WorkFile::UploadedFwInfo, WorkFile::UploadedFw})
        clearObstacle(workFilePath(file));
}

void TestChildFaults::childKilledFromOutsideFailsTheOperation_data()
{
    QTest::addColumn<DfuCommand>("command");
    QTest::addColumn<QStringList>("extraArguments");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("startLogged");
    QTest::addColumn<int>("code"); // what the operation hands on; 0 for the verification's truth value

    const QStringList readBack{QStringLiteral("-s"),
                               QStringLiteral("0x08000000:%1").arg(fileSize(embeddedImagePath())),
                               QStringLiteral("-U"), workFilePath(WorkFile::UploadedFw)};
    QTest::newRow("an OTP read killed with SIGKILL fails the read")
        << DfuCommand::UploadOtp << QStringList{workFilePath(WorkFile::UploadedOtp)} << Operation(readDevice)
        << int(SIGKILL) << true << -1;
    QTest::newRow("a download killed with SIGTERM reports -1")
        << DfuCommand::DownloadFw << QStringList{workFilePath(WorkFile::FirmwareBin)} << Operation(download)
        << int(SIGTERM) << true << -1;
    QTest::newRow("a read-back killed with SIGKILL fails the verification")
        << DfuCommand::UploadFw << readBack << Operation(verify) << int(SIGKILL) << true << 0;
    QTest::newRow("a device list killed with SIGINT shows no device")
        << DfuCommand::List << QStringList() << Operation(scan) << int(SIGINT) << false << 1;
}

void TestChildFaults::childKilledFromOutsideFailsTheOperation()
{
    QFETCH(DfuCommand, command);
    QFETCH(QStringList, extraArguments);
    QFETCH(Operation, operation);
    QFETCH(int, signalNumber);
    QFETCH(bool, startLogged);
    QFETCH(int, code);

    const CommandTableGuard guard;
    StandInPrograms programs;
    // Prints a first line, as dfu-util does, then hangs until killed; thanks
    // to exec the recorded process id is the hanging process itself.
    const QString program = programs.write(
        QStringLiteral("dfu-util"),
        "printf 'Opening DFU capable USB device...\\n'\n"
        "printf '%s' $$ > \"$(dirname \"$0\")/pid.tmp\" && mv \"$(dirname \"$0\")/pid.tmp\" \"$(dirname \"$0\")/pid\"\n"
        "exec sleep 600");
    dfuCommandEntry(command).program = program;
    // Only this command reaches the stand-in; any other one would fail loudly.
    for (DfuCommand other : {DfuCommand::List, DfuCommand::UploadOtp, DfuCommand::UploadFwInfo, DfuCommand::UploadFw,
                             DfuCommand::DownloadFw})
        if (other != command)
            dfuCommandEntry(other).program = programs.path(QStringLiteral("not-expected"));

    LogCapture log;
    BackgroundOperation run(operation);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(programs.path(QStringLiteral("pid"))), 30000);
    const qint64 pid = readFileBytes(programs.path(QStringLiteral("pid"))).toLongLong();
    QVERIFY(processExists(pid));
    QCOMPARE(::kill(pid_t(pid), signalNumber), 0);
    QVERIFY(run.finish());

    QCOMPARE(run.outcome().code, code);
    QVERIFY(!run.outcome().passed);
    QVERIFY(!processExists(pid));
    const QStringList arguments = argumentsOf(command, extraArguments);
    QStringList expected;
    if (startLogged)
        expected << startLine(program, arguments);
    expected << exitLine(-1, program, arguments, QStringLiteral("Opening DFU capable USB device...\n"));
    QCOMPARE(log.texts(), expected);
}

void TestChildFaults::childSlowerThanTheFirstWaitStillGivesItsResult_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QList<DfuCommand>>("commands");

    // Without fast progress the simulated unit takes 0.5 s for an OTP or
    // block upload and 1 s for a flash read-back, all past a 200 ms first wait.
    QTest::newRow("a slow read of a unit still reads it")
        << QStringLiteral("default") << Operation(readDevice)
        << QList<DfuCommand>{DfuCommand::UploadOtp, DfuCommand::UploadFwInfo};
    QTest::newRow("a slow read-back of an up-to-date unit still verifies")
        << QStringLiteral("current") << Operation(verify) << QList<DfuCommand>{DfuCommand::UploadFw};
}

void TestChildFaults::childSlowerThanTheFirstWaitStillGivesItsResult()
{
    QFETCH(QString, scenario);
    QFETCH(Operation, operation);
    QFETCH(QList<DfuCommand>, commands);

    SimulatorFixture simulator(false);
    qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", QFile::encodeName(embeddedImagePath()));
    QVERIFY(simulator.prepare(scenario));
    const FirstWaitGuard firstWait(200);

    LogCapture log;
    const Outcome outcome = operation();
    QCOMPARE(outcome.code, 0);
    QVERIFY(outcome.passed);

    // Every run: its start line, then the two lines of the first wait's end,
    // and no end line, since each one ended with exit code 0.
    const QStringList lines = log.texts().filter(
        QRegularExpression(QStringLiteral("^(Start |waitForFinished\\(\\)|will wait again|Exit with )")));
    QCOMPARE(lines.size(), 3 * commands.size());
    for (int i = 0; i < commands.size(); ++i) {
        const QString program = dfuCommandEntry(commands.at(i)).program;
        const QString start = lines.at(3 * i);
        const QString timeout = lines.at(3 * i + 1);
        QVERIFY2(start.startsWith(QStringLiteral("Start  \"%1\" ").arg(program)), qPrintable(start));
        QVERIFY2(timeout.startsWith(timeoutLinePrefix + QStringLiteral("QProcess::NormalExit and output: ")),
                 qPrintable(timeout));
        QCOMPARE(lines.at(3 * i + 2), waitAgainLine);
    }
}

void TestChildFaults::uploadThatCannotBeWrittenIsAFailure_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<WorkFile>("target");
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("passes");

    // Root may write anywhere, so a directory mode cannot stand for a
    // read-only working directory; what is in the target's way can.
    QTest::newRow("an OTP target that cannot be created fails the read")
        << "default" << WorkFile::UploadedOtp << Obstacle::Directory << Operation(readDevice) << 73 << false;
    QTest::newRow("an OTP target on a full device fails the read")
        << "default" << WorkFile::UploadedOtp << Obstacle::FullDevice << Operation(readDevice) << 74 << false;
    QTest::newRow("a read-back target that cannot be created fails the verification")
        << "current" << WorkFile::UploadedFw << Obstacle::Directory << Operation(verify) << 0 << false;
    QTest::newRow("a read-back on a full device fails the verification")
        << "current" << WorkFile::UploadedFw << Obstacle::FullDevice << Operation(verify) << 0 << false;
    QTest::newRow("a writable read-back target verifies an up-to-date unit")
        << "current" << WorkFile::UploadedFw << Obstacle::None << Operation(verify) << 0 << true;
}

void TestChildFaults::uploadThatCannotBeWrittenIsAFailure()
{
    QFETCH(QString, scenario);
    QFETCH(WorkFile, target);
    QFETCH(Obstacle, obstacle);
    QFETCH(Operation, operation);
    QFETCH(int, code);
    QFETCH(bool, passes);

    SimulatorFixture simulator;
    qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", QFile::encodeName(embeddedImagePath()));
    QVERIFY(simulator.prepare(scenario));
    const QString targetPath = workFilePath(target);
    QVERIFY(placeObstacle(targetPath, obstacle));

    LogCapture log;
    const Outcome outcome = operation();
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.passed, passes);

    const QStringList exitLines = log.texts().filter(QRegularExpression(QStringLiteral("^Exit with ")));
    if (passes) {
        QCOMPARE(exitLines, QStringList());
        QCOMPARE(readFileBytes(targetPath), readFileBytes(embeddedImagePath()));
    } else {
        // The simulated dfu-util's codes: 73 cannot create, 74 input/output error.
        const int failedCode = obstacle == Obstacle::Directory ? 73 : 74;
        const DfuCommand command = target == WorkFile::UploadedOtp ? DfuCommand::UploadOtp : DfuCommand::UploadFw;
        QStringList extra{targetPath};
        if (command == DfuCommand::UploadFw)
            extra = QStringList{QStringLiteral("-s"),
                                QStringLiteral("0x08000000:%1").arg(fileSize(embeddedImagePath())),
                                QStringLiteral("-U"), targetPath};
        const QString arguments = quotedList(argumentsOf(command, extra));
        const QString expectedStart = QStringLiteral("Exit with %1 from \"%2\" %3 returned: ")
                                          .arg(failedCode)
                                          .arg(dfuCommandEntry(command).program, arguments);
        QCOMPARE(exitLines.size(), 1);
        QVERIFY2(exitLines.first().startsWith(expectedStart), qPrintable(exitLines.first()));
    }
    // The obstacle is left as it was: nothing is removed that is not a file of ours.
    if (obstacle == Obstacle::Directory)
        QVERIFY(QFileInfo(targetPath).isDir());
    if (obstacle == Obstacle::FullDevice)
        QCOMPARE(QFileInfo(targetPath).symLinkTarget(), QStringLiteral("/dev/full"));
}

QTEST_GUILESS_MAIN(TestChildFaults)
#include "tst_child_faults.moc"
