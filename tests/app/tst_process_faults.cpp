// The tool's process under faults from outside: signals at awkward moments,
// two instances at once, odd and unusable temporary-files paths, and what it
// leaves on the machine.
//
// A complete upgrade needs a click, which a process on the offscreen platform
// cannot be given from outside. For those cases this executable starts itself
// with "--as-tool ROLE": it then is the tool, set up and run exactly as main()
// does, with a small driver that clicks install and presses Q once the unit is
// verified.
#include "support/standard_error_lines.h"

#include "app/application_wiring.h"
#include "app/startup.h"
#include "app/workdir.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString toolPath = QStringLiteral(UPDATER_TOOL_EXECUTABLE);
const QString simulatorScript = QStringLiteral(UPDATER_SOURCE_DIR "/updater/simulator/dfu-util_simulator.sh");
const QString upgradeRole = QStringLiteral("upgrade");
const QString signalAtStartUpRole = QStringLiteral("signal-at-start-up");
const QString verifiedLine = QStringLiteral("Driver: upgrade verified");
constexpr int flowTimeoutMs = 60000;
// Far beyond the 1 s grace, the 5 s wait after an abort and the 2 s pause of
// the teardown; only an absurd shutdown time fails this.
constexpr qint64 absurdShutdownMs = 20000;

// ----------------------------------------------------------------- the tool's side

// Clicks install once it is offered and presses Q once the unit is verified.
class UpgradeDriver : public QObject
{
public:
    UpgradeDriver()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { step(); });
        m_timer.start(50);
    }

private:
    void step()
    {
        MainWindow *window = mainWindow;
        if (!window)
            return;
        if (!m_clicked && window->installButton->isEnabled()) {
            m_clicked = true;
            qInfo() << "Driver: install clicked";
            QTest::mouseClick(window->installButton, Qt::LeftButton);
        }
        ProgressBar *bar = window->progressBar;
        if (m_clicked && !m_quitting && bar->isVisible()
            && bar->format() == QLatin1String("Done. Disconnect USB cable.")) {
            m_quitting = true;
            qInfo().noquote() << verifiedLine;
            QTest::keyClick(window, Qt::Key_Q);
        }
    }

    QTimer m_timer;
    bool m_clicked = false;
    bool m_quitting = false;
};

// In dfu-util's place before start-up extracts it (the copy does not
// overwrite): the execution test's run sends the tool SIGTERM.
bool placeSignallingDfuUtil()
{
    QFile file(dfuUtilExecutablePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\n[ \"$1\" = -V ] && kill -TERM $PPID\nexit 0\n");
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

int runAsTool(const QString &role)
{
    char toolName[] = "lumarex-upgrade-tool";
    char simulatorOption[] = "-s";
    char *simulated[] = {toolName, simulatorOption, nullptr};
    char *real[] = {toolName, nullptr};
    const bool useSimulator = role == upgradeRole;
    int argumentCount = useSimulator ? 2 : 1;
    QApplication application(argumentCount, useSimulator ? simulated : real);
    if (role == signalAtStartUpRole && !placeSignallingDfuUtil())
        return 3;
    setupApplication();
    std::unique_ptr<UpgradeDriver> driver;
    if (useSimulator)
        driver = std::make_unique<UpgradeDriver>();
    const int exitCode = application.exec();
    return teardownApplication(exitCode);
}

// ----------------------------------------------------------------- the test's side

// A text as the debug stream quotes it, without its escapes (only '"' and
// '\\' are escaped in the paths used here).
QString unescaped(const QString &text)
{
    QString plain;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\') && i + 1 < text.size())
            ++i;
        plain += text.at(i);
    }
    return plain;
}

// A run of the tool (the binary, or this executable as the tool) in a
// directory tree of its own: temporary files, runtime directory, simulator.
class ToolProcess
{
public:
    explicit ToolProcess(const QString &temporaryFiles = QString())
    {
        QDir().mkpath(tmpDir(temporaryFiles));
        QDir().mkpath(runtimeDir());
        ::chmod(QFile::encodeName(runtimeDir()).constData(), 0700);
        m_tmp = tmpDir(temporaryFiles);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), m_tmp);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DFU_SIMULATOR_STATE_DIR"), simulatorDir());
        env.insert(QStringLiteral("DFU_SIMULATOR_FAST_PROGRESS"), QStringLiteral("1"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    }

    QString root() const { return m_root.path(); }
    QString tmp() const { return m_tmp; }
    QString runtimeDir() const { return m_root.filePath(QStringLiteral("runtime")); }
    QString simulatorDir() const { return m_root.filePath(QStringLiteral("simulator")); }

    bool prepareScenario(const QString &name)
    {
        QProcess script;
        script.setProcessEnvironment(env);
        script.start(simulatorScript, {QStringLiteral("--dfu-util-command"), QStringLiteral("setup_prepared_config"),
                                       name});
        return script.waitForFinished(30000) && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
    }

    void startBinary(const QStringList &arguments)
    {
        process.setProcessEnvironment(env);
        process.start(toolPath, arguments);
    }
    void startAsTool(const QString &role)
    {
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--as-tool"), role});
    }

    QStringList lines() { return m_errors.read(process); }
    bool waitForLine(const std::function<bool(const QString &)> &wanted, int timeoutMs = flowTimeoutMs)
    {
        return m_errors.waitFor(process, wanted, timeoutMs);
    }
    bool waitForLine(const QString &line, int timeoutMs = flowTimeoutMs)
    {
        return m_errors.waitFor(process, line, timeoutMs);
    }
    int count(const QString &line) { return lines().count(line); }

    // The working directory the tool named when it made dfu-util executable.
    QString workingDirectory()
    {
        static const QRegularExpression pattern(
            QStringLiteral("^Changing file permissions to make it executable: \"(.*)/dfu-util.exe\"$"));
        for (const QString &line : lines()) {
            const QRegularExpressionMatch match = pattern.match(line);
            if (match.hasMatch())
                return unescaped(match.captured(1));
        }
        return QString();
    }
    QStringList workingDirectories() const
    {
        return QDir(m_tmp).entryList({QStringLiteral("upgrade_*")}, QDir::Dirs | QDir::Hidden);
    }

    bool finish(int timeoutMs = flowTimeoutMs)
    {
        const bool finished = process.waitForFinished(timeoutMs);
        lines();
        return finished;
    }
    QString failureReport()
    {
        return QStringLiteral("exit status %1, code %2; standard error:\n%3")
            .arg(process.exitStatus())
            .arg(process.exitCode())
            .arg(lines().join(QLatin1Char('\n')));
    }

    QProcessEnvironment env;
    QProcess process;

private:
    QString tmpDir(const QString &name) const
    {
        return m_root.filePath(name.isEmpty() ? QStringLiteral("tmp") : name);
    }

    QTemporaryDir m_root;
    QString m_tmp;
    StandardErrorLines m_errors;
};

bool isExitLineOfADownload(const QString &line)
{
    return line.startsWith(QStringLiteral("Exit with -1 from \"")) && line.contains(QStringLiteral("\"download_FW\""));
}

bool isStartLineOfADownload(const QString &line)
{
    return line.startsWith(QStringLiteral("Start  \"")) && line.contains(QStringLiteral("\"download_FW\""));
}

// Every path under a directory, hidden ones and links included.
QSet<QString> treeOf(const QString &directory)
{
    QSet<QString> paths;
    QDirIterator it(directory, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.insert(it.next());
    return paths;
}

QStringList namesStartingWith(const QString &directory, const QString &prefix)
{
    QStringList found;
    for (const QString &path : treeOf(directory))
        if (QFileInfo(path).fileName().startsWith(prefix))
            found << path;
    return found;
}

int permissionBits(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return int(status.st_mode & 07777);
}

} // namespace

class TestProcessFaults : public QObject
{
    Q_OBJECT

private slots:
    void signalDuringStartUpEndsTheToolCleanly();
    void signalDuringDownloadEndsTheToolCleanly_data();
    void signalDuringDownloadEndsTheToolCleanly();
    void twoInstancesWorkSideBySide();
    void temporaryPathWithShellMetacharactersWorks();
    void nothingIsWrittenOutsideTheWorkingDirectory();
    void unusableTemporaryPathTouchesNothingElse_data();
    void unusableTemporaryPathTouchesNothingElse();
};

void TestProcessFaults::signalDuringStartUpEndsTheToolCleanly()
{
    ToolProcess run;
    run.startAsTool(signalAtStartUpRole);
    QVERIFY(run.finish());
    QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0,
             qPrintable(run.failureReport()));
    // Handled once the event loop runs, like any later signal.
    const QStringList lines = run.lines();
    const int received = lines.indexOf(QStringLiteral("Received signal 15 - shutting down"));
    QVERIFY2(received > lines.indexOf(QStringLiteral("Starting sm_A")) && lines.contains("Starting sm_A"),
             qPrintable(run.failureReport()));
    QVERIFY(lines.indexOf(QStringLiteral("Trying to stop sm_A")) > received);
    QVERIFY(lines.contains(QStringLiteral("app.exec() returns:  0")));
    QCOMPARE(run.workingDirectories(), QStringList());
}

void TestProcessFaults::signalDuringDownloadEndsTheToolCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM during a download ends the tool cleanly") << int(SIGTERM);
    QTest::newRow("SIGINT during a download ends the tool cleanly") << int(SIGINT);
}

// The simulated download takes 6 s without fast progress: well past the 1 s
// the shutdown grants the device thread.
void TestProcessFaults::signalDuringDownloadEndsTheToolCleanly()
{
    QFETCH(int, signalNumber);
    ToolProcess run;
    run.env.remove(QStringLiteral("DFU_SIMULATOR_FAST_PROGRESS"));
    QVERIFY(run.prepareScenario(QStringLiteral("default")));
    run.startAsTool(upgradeRole);
    QVERIFY2(run.waitForLine(isStartLineOfADownload), qPrintable(run.failureReport()));
    const QString workingDirectory = run.workingDirectory();
    QVERIFY(QFileInfo(workingDirectory).isDir());

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::kill(pid_t(run.process.processId()), signalNumber), 0);
    QVERIFY(run.finish());
    QVERIFY2(clock.elapsed() < absurdShutdownMs, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0,
             qPrintable(run.failureReport()));

    const QStringList lines = run.lines();
    const int received = lines.indexOf(QStringLiteral("Received signal %1 - shutting down").arg(signalNumber));
    QVERIFY(received >= 0);
    const int oops = lines.indexOf(QStringLiteral("Oops, SM_A not dead yet"), received);
    QVERIFY2(oops > received, qPrintable(run.failureReport()));
    // The download is ended, and reported like any abnormal end.
    QVERIFY(std::find_if(lines.begin() + oops, lines.end(), isExitLineOfADownload) != lines.end());
    QVERIFY(!lines.contains(verifiedLine));
    QVERIFY(!QFileInfo::exists(workingDirectory));
    QCOMPARE(run.workingDirectories(), QStringList());
}

void TestProcessFaults::twoInstancesWorkSideBySide()
{
    // One temporary-files directory, one simulated unit for each instance.
    ToolProcess first;
    ToolProcess second;
    second.env.insert(QStringLiteral("TMPDIR"), first.tmp());
    QVERIFY(first.prepareScenario(QStringLiteral("default")));
    QVERIFY(second.prepareScenario(QStringLiteral("default")));
    first.startBinary({QStringLiteral("-s")});
    second.startBinary({QStringLiteral("-s")});

    const QString unitRead = QStringLiteral("\"SM_B: entered B2: Conn. to (DFU-SE) dev. with diff. FW rev.\"");
    QVERIFY2(first.waitForLine(unitRead), qPrintable(first.failureReport()));
    QVERIFY2(second.waitForLine(unitRead), qPrintable(second.failureReport()));

    const QString firstDirectory = first.workingDirectory();
    const QString secondDirectory = second.workingDirectory();
    QVERIFY(!firstDirectory.isEmpty() && !secondDirectory.isEmpty());
    QVERIFY(firstDirectory != secondDirectory);
    QCOMPARE(QFileInfo(firstDirectory).path(), first.tmp());
    QCOMPARE(QFileInfo(secondDirectory).path(), first.tmp());
    QCOMPARE(first.workingDirectories().size(), 2);
    // Each read its own unit into its own directory.
    for (const QString &directory : {firstDirectory, secondDirectory}) {
        QCOMPARE(QFileInfo(directory + QStringLiteral("/uploaded_OTP.bin")).size(), 512);
        QCOMPARE(QFileInfo(directory + QStringLiteral("/uploaded_FW_info.bin")).size(), 2048);
    }

    QCOMPARE(::kill(pid_t(first.process.processId()), SIGTERM), 0);
    QCOMPARE(::kill(pid_t(second.process.processId()), SIGTERM), 0);
    QVERIFY(first.finish());
    QVERIFY(second.finish());
    QVERIFY2(first.process.exitStatus() == QProcess::NormalExit && first.process.exitCode() == 0,
             qPrintable(first.failureReport()));
    QVERIFY2(second.process.exitStatus() == QProcess::NormalExit && second.process.exitCode() == 0,
             qPrintable(second.failureReport()));
    QCOMPARE(first.workingDirectories(), QStringList());
}

void TestProcessFaults::temporaryPathWithShellMetacharactersWorks()
{
    // Every character a shell would act on, and two commands it would run.
    ToolProcess run(QStringLiteral("x y;$(touch pwned)&'q\"`touch pwned2`|<>*?!#~\\ z"));
    const QString cwd = run.root() + QStringLiteral("/cwd");
    QVERIFY(QDir().mkpath(cwd));
    run.process.setWorkingDirectory(cwd);
    QVERIFY(run.prepareScenario(QStringLiteral("default")));
    run.startAsTool(upgradeRole);
    QVERIFY(run.finish(2 * flowTimeoutMs));
    QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0,
             qPrintable(run.failureReport()));

    // The unit was found, read, upgraded and verified through that path.
    QVERIFY2(run.lines().contains(verifiedLine), qPrintable(run.failureReport()));
    QCOMPARE(QFileInfo(run.workingDirectory()).path(), run.tmp());
    QVERIFY(run.lines().contains(QStringLiteral("\"SM_B: entered B6: FW in dev. matches\"")));
    QCOMPARE(run.workingDirectories(), QStringList());
    QCOMPARE(namesStartingWith(run.root(), QStringLiteral("pwned")), QStringList());
    for (const QString &place : {QDir::currentPath(), QFileInfo(simulatorScript).path()})
        QCOMPARE(QDir(place).entryList({QStringLiteral("pwned*")}, QDir::AllEntries | QDir::Hidden), QStringList());
}

void TestProcessFaults::nothingIsWrittenOutsideTheWorkingDirectory()
{
    ToolProcess run;
    const QStringList places{QStringLiteral("home"), QStringLiteral("config"), QStringLiteral("cache"),
                             QStringLiteral("data"), QStringLiteral("state"), QStringLiteral("cwd")};
    for (const QString &place : places)
        QVERIFY(QDir().mkpath(run.root() + QLatin1Char('/') + place));
    run.env.insert(QStringLiteral("HOME"), run.root() + QStringLiteral("/home"));
    run.env.insert(QStringLiteral("XDG_CONFIG_HOME"), run.root() + QStringLiteral("/config"));
    run.env.insert(QStringLiteral("XDG_CACHE_HOME"), run.root() + QStringLiteral("/cache"));
    run.env.insert(QStringLiteral("XDG_DATA_HOME"), run.root() + QStringLiteral("/data"));
    run.env.insert(QStringLiteral("XDG_STATE_HOME"), run.root() + QStringLiteral("/state"));
    run.process.setWorkingDirectory(run.root() + QStringLiteral("/cwd"));
    QVERIFY(run.prepareScenario(QStringLiteral("default")));
    const QSet<QString> before = treeOf(run.root());

    run.startAsTool(upgradeRole);
    QTRY_VERIFY_WITH_TIMEOUT(run.workingDirectories().size() == 1, flowTimeoutMs);
    const QString workingDirectory = run.tmp() + QLatin1Char('/') + run.workingDirectories().first();
    QCOMPARE(permissionBits(workingDirectory), 0700);
    QVERIFY(run.finish(2 * flowTimeoutMs));
    QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0,
             qPrintable(run.failureReport()));
    QVERIFY2(run.lines().contains(verifiedLine), qPrintable(run.failureReport()));
    QCOMPARE(run.workingDirectory(), workingDirectory);

    // Only the simulated unit, which the simulator keeps, has changed.
    QStringList added;
    for (const QString &path : treeOf(run.root()))
        if (!before.contains(path) && !path.startsWith(run.simulatorDir() + QLatin1Char('/')))
            added << path;
    added.sort();
    QCOMPARE(added, QStringList());
    QVERIFY(!QFileInfo::exists(workingDirectory));
}

void TestProcessFaults::unusableTemporaryPathTouchesNothingElse_data()
{
    QTest::addColumn<QString>("temporaryFiles");
    QTest::addColumn<bool>("workingDirectoryMade");

    QTest::newRow("a temporary-files path that names no directory falls back to /tmp")
        << QStringLiteral("<root>/missing/tmp") << true;
    QTest::newRow("a temporary-files path that takes no directory leaves the devices alone")
        << QStringLiteral("/proc") << false;
}

// In real mode, with a stand-in dfu-util first in PATH that records whatever
// it is asked to do.
void TestProcessFaults::unusableTemporaryPathTouchesNothingElse()
{
    QFETCH(QString, temporaryFiles);
    QFETCH(bool, workingDirectoryMade);

    ToolProcess run;
    const QString standIns = run.root() + QStringLiteral("/bin");
    const QString calls = run.root() + QStringLiteral("/calls");
    QVERIFY(QDir().mkpath(standIns));
    QFile standIn(standIns + QStringLiteral("/dfu-util"));
    QVERIFY(standIn.open(QIODevice::WriteOnly));
    standIn.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + QFile::encodeName(calls) + "'\nexit 0\n");
    standIn.close();
    QVERIFY(standIn.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    run.env.insert(QStringLiteral("PATH"), standIns + QLatin1Char(':') + run.env.value(QStringLiteral("PATH")));
    temporaryFiles.replace(QStringLiteral("<root>"), run.root());
    run.env.insert(QStringLiteral("TMPDIR"), temporaryFiles);
    const QStringList rootEntries = QDir(QStringLiteral("/")).entryList({QStringLiteral("upgrade_*")}, QDir::Dirs);

    run.startBinary({});
    if (workingDirectoryMade) {
        QVERIFY2(run.waitForLine(QStringLiteral("\"SM_B: entered B1: No (DFU-SE) dev. conn.\"")),
                 qPrintable(run.failureReport()));
        QVERIFY2(run.workingDirectory().startsWith(QStringLiteral("/tmp/upgrade_")), qPrintable(run.failureReport()));
        QVERIFY(QFileInfo(run.workingDirectory()).isDir());
    } else {
        QVERIFY2(run.waitForLine([](const QString &line) {
            return line.startsWith(QStringLiteral("Failed to create temporary directory: \""));
        }), qPrintable(run.failureReport()));
        // Polling goes on, but no dfu-util of any kind is started.
        const QString refused =
            QStringLiteral("Not started, device access has been aborted: \"dfu-util\" (\"-d\", \"0483\", \"-l\")");
        QVERIFY2(run.waitForLine([&run, &refused](const QString &) { return run.count(refused) >= 3; }),
                 qPrintable(run.failureReport()));
    }
    const QString workingDirectory = run.workingDirectory();

    QCOMPARE(::kill(pid_t(run.process.processId()), SIGTERM), 0);
    QVERIFY(run.finish());
    QVERIFY2(run.process.exitStatus() == QProcess::NormalExit && run.process.exitCode() == 0,
             qPrintable(run.failureReport()));
    QVERIFY(!QFileInfo::exists(calls));
    QCOMPARE(QDir(QStringLiteral("/")).entryList({QStringLiteral("upgrade_*")}, QDir::Dirs), rootEntries);
    if (workingDirectoryMade)
        QVERIFY(!QFileInfo::exists(workingDirectory));
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--as-tool") == 0)
        return runAsTool(QString::fromLocal8Bit(argv[2]));
    QCoreApplication application(argc, argv);
    TestProcessFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_process_faults.moc"
