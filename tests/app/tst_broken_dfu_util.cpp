// The whole tool in real mode, in this process, with its extracted dfu-util
// replaced on disk by one that is missing, cannot run, is killed, is slow, or
// hangs: polling goes on without showing a unit, and Q still ends the tool.
#include "support/log_capture.h"

#include "app/application_wiring.h"
#include "app/startup.h"
#include "app/workdir.h"
#include "control/sm_a.h"
#include "control/sm_b.h"
#include "dfu/dfu_runner.h"
#include "gui/gui_settings.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QAbstractState>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int flowTimeoutMs = 60000;
// Far beyond the 1 s grace and the 5 s wait after the abort; only an absurd
// shutdown time fails this.
constexpr qint64 absurdShutdownMs = 20000;
const QString stateB1 = QStringLiteral("B1: No (DFU-SE) dev. conn.");

QString currentState()
{
    const QSet<QAbstractState *> states = smB->configuration();
    return states.isEmpty() ? QString() : (*states.begin())->objectName();
}

QString listArguments()
{
    return QStringLiteral("(\"-d\", \"0483\", \"-l\")");
}

QString timeoutLine()
{
    return QStringLiteral(
        "waitForFinished(): Process did not finish in time, exit status: QProcess::NormalExit and output: \"\"");
}

QString waitAgainLine()
{
    return QStringLiteral("will wait again, forever");
}

QString listExitLine()
{
    return QStringLiteral("Exit with -1 from \"%1\" %2 returned: \"\"").arg(dfuUtilExecutablePath(), listArguments());
}

// Puts a program in dfu-util's place in one step, as a file system operation,
// so that the device thread sees either the old or the new one.
bool replaceDfuUtil(const QByteArray &body, QFile::Permissions permissions)
{
    const QString target = dfuUtilExecutablePath();
    if (QFileInfo(target).isDir())
        QDir(target).removeRecursively();
    const QString fresh = target + QStringLiteral(".new");
    QFile file(fresh);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write("#!/bin/sh\n" + body + "\n") < 0)
        return false;
    file.close();
    return file.setPermissions(permissions) && ::rename(QFile::encodeName(fresh), QFile::encodeName(target)) == 0;
}

const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
const QFile::Permissions notExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;

enum class Fault { Deleted, NotExecutable, Directory, KilledBySignal, SlowerThanFirstWait };

// Standard error of this process, collected in a file while it exists: after
// Q the tool logs through the default output again.
class StandardErrorCapture
{
public:
    StandardErrorCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StandardErrorCapture() { restore(); }
    QStringList lines()
    {
        restore();
        QFile file(m_file.fileName());
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestBrokenDfuUtil : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pollingGoesOnWithABrokenDfuUtil_data();
    void pollingGoesOnWithABrokenDfuUtil();
    void quitKeyEndsTheToolWhileDfuUtilHangs();

private:
    bool installWorkingDfuUtil();
    int listRuns() const;

    QTemporaryDir records;
    std::unique_ptr<LogCapture> log;
    QPointer<MainWindow> window;
    int scans = 0;
};

// The working stand-in finds no unit, as dfu-util does with none attached,
// and counts its runs.
bool TestBrokenDfuUtil::installWorkingDfuUtil()
{
    const QByteArray calls = QFile::encodeName(records.filePath(QStringLiteral("calls")));
    return replaceDfuUtil("printf '%s\\n' \"$*\" >> '" + calls + "'\nexit 0", executable);
}

int TestBrokenDfuUtil::listRuns() const
{
    QFile file(records.filePath(QStringLiteral("calls")));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')).count(QStringLiteral("-d 0483 -l"));
}

void TestBrokenDfuUtil::initTestCase()
{
    QVERIFY(records.isValid());
    log = std::make_unique<LogCapture>();
    setupApplication();
    window = mainWindow;
    QVERIFY(window && smA && smB);
    // Before the event loop first runs, so before the device thread starts.
    QVERIFY(installWorkingDfuUtil());
    connect(smA, &SM_A::sig_scanning, this, [this] { ++scans; });
    QTRY_VERIFY_WITH_TIMEOUT(listRuns() >= 2, flowTimeoutMs);
    QCOMPARE(currentState(), stateB1);
}

void TestBrokenDfuUtil::pollingGoesOnWithABrokenDfuUtil_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("firstWaitMs");
    QTest::addColumn<QStringList>("linesOfOnePoll");

    const QStringList notStarted{timeoutLine(), waitAgainLine(), listExitLine()};
    QTest::newRow("a deleted dfu-util") << Fault::Deleted << dfuRunFirstWaitMs() << notStarted;
    QTest::newRow("a dfu-util without execute permission") << Fault::NotExecutable << dfuRunFirstWaitMs() << notStarted;
    QTest::newRow("a directory in dfu-util's place") << Fault::Directory << dfuRunFirstWaitMs() << notStarted;
    QTest::newRow("a dfu-util killed by a signal on every run")
        << Fault::KilledBySignal << dfuRunFirstWaitMs() << QStringList{listExitLine()};
    QTest::newRow("a dfu-util slower than the first wait")
        << Fault::SlowerThanFirstWait << 100 << QStringList{timeoutLine(), waitAgainLine()};
}

void TestBrokenDfuUtil::pollingGoesOnWithABrokenDfuUtil()
{
    QFETCH(Fault, fault);
    QFETCH(int, firstWaitMs);
    QFETCH(QStringList, linesOfOnePoll);
    constexpr int polls = 3;

    const int savedFirstWait = dfuRunFirstWaitMs();
    setDfuRunFirstWaitMs(firstWaitMs);
    const int mark = log->texts().size();
    const int scansBefore = scans;
    const QString path = dfuUtilExecutablePath();
    switch (fault) {
    case Fault::Deleted:
        QVERIFY(QFile::remove(path));
        break;
    case Fault::NotExecutable:
        QVERIFY(replaceDfuUtil("exit 0", notExecutable));
        break;
    case Fault::Directory:
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        break;
    case Fault::KilledBySignal:
        QVERIFY(replaceDfuUtil("kill -KILL $$", executable));
        break;
    case Fault::SlowerThanFirstWait:
        QVERIFY(replaceDfuUtil("sleep 0.4\nexit 0", executable));
        break;
    }
    const int pollLines = polls * linesOfOnePoll.size();
    QTRY_VERIFY_WITH_TIMEOUT(log->texts().size() - mark >= pollLines, flowTimeoutMs);
    setDfuRunFirstWaitMs(savedFirstWait);

    // Nothing but the runner's lines of each failed or slow list run.
    const QStringList lines = log->texts().mid(mark);
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines.at(i), linesOfOnePoll.at(i % linesOfOnePoll.size()));
    // The scans reach this thread queued, a little after the runs' lines.
    QTRY_VERIFY_WITH_TIMEOUT(scans - scansBefore >= polls, flowTimeoutMs);
    QVERIFY(smA->isRunning());
    QCOMPARE(currentState(), stateB1);
    QCOMPARE(window->statusLabel->text(), guiContext().settings.labelText(QStringLiteral("status_noDev")));
    QVERIFY(!window->installButton->isEnabled());
    QVERIFY(!window->progressBar->isVisible());

    // A working dfu-util in its place again is used from the next poll on.
    const int runsBefore = listRuns();
    QVERIFY(installWorkingDfuUtil());
    QTRY_VERIFY_WITH_TIMEOUT(listRuns() >= runsBefore + 2, flowTimeoutMs);
}

void TestBrokenDfuUtil::quitKeyEndsTheToolWhileDfuUtilHangs()
{
    const QString pidFile = records.filePath(QStringLiteral("hung.pid"));
    QVERIFY(replaceDfuUtil("printf '%s' $$ > '" + QFile::encodeName(pidFile) + ".tmp' && mv '"
                               + QFile::encodeName(pidFile) + ".tmp' '" + QFile::encodeName(pidFile) + "'\n"
                               "exec sleep 600",
                           executable));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), flowTimeoutMs);
    QFile file(pidFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const pid_t hungPid = pid_t(file.readAll().toLongLong());
    QVERIFY(hungPid > 0);
    QCOMPARE(::kill(hungPid, 0), 0);

    StandardErrorCapture standardError;
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(window, Qt::Key_Q);
    // The shutdown has run: the thread ended, the hung dfu-util was killed.
    QVERIFY(!smA->isRunning());
    QVERIFY(smA->isFinished());
    QCOMPARE(::kill(hungPid, 0), -1);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), flowTimeoutMs);
    QCOMPARE(teardownApplication(0), 0);
    QVERIFY2(clock.elapsed() < absurdShutdownMs, qPrintable(QString::number(clock.elapsed())));

    const QStringList lines = standardError.lines();
    const QStringList expectedInOrder{QStringLiteral("Msg-handler reset"), QStringLiteral("Trying to stop sm_A"),
                                      QStringLiteral("Oops, SM_A not dead yet"), listExitLine(),
                                      QStringLiteral("app.exec() returns:  0"),
                                      QStringLiteral("Waiting 2 s before deleting objects")};
    int at = 0;
    for (const QString &expected : expectedInOrder) {
        at = lines.indexOf(expected, at);
        QVERIFY2(at >= 0, qPrintable(expected + QStringLiteral(" missing or out of order in:\n") + lines.join('\n')));
    }
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_FONT_DPI", "96");
    // The tool's own command line: real mode; the test's arguments go to QtTest.
    char toolName[] = "lumarex-upgrade-tool";
    char *toolArguments[] = {toolName, nullptr};
    int toolArgumentCount = 1;
    QApplication application(toolArgumentCount, toolArguments);
    TestBrokenDfuUtil test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_broken_dfu_util.moc"
