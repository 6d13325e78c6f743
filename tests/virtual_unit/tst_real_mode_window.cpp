// The tool binary in real mode on a virtual X display, driven as a user drives
// it: the window is found by its title, the install button clicked with the
// pointer, the tool ended with the Q key. Its dfu-util talks to a virtual unit.
#include "real_mode_support.h"
#include "support/standard_error_lines.h"
#include "support/virtual_display.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

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

    QStringList errorLines() { return m_standardError.read(process); }
    bool waitForLine(const QString &line) { return m_standardError.waitFor(process, line, boundMs); }
    QString standardError() const { return m_standardError.text(); }

    QTemporaryDir tmp;
    QProcess process; // killed with the object when a test gives up on it

private:
    StandardErrorLines m_standardError;
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
    QVERIFY2(display.start(96), "Xvfb did not start on a free display");

    ToolProcess tool(display.name(), bus);
    tool.process.start(QStringLiteral(UPDATER_TOOL_EXECUTABLE), QStringList());
    QVERIFY(tool.process.waitForStarted(boundMs));

    QString search;
    QVERIFY2(runXdotool(display.name(),
                        {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--name"), windowTitle},
                        &search),
             qPrintable(tool.errorLines().join(QLatin1Char('\n'))));
    const QStringList windows = search.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(windows.size(), 1);
    const QString window = windows.first();

    QString geometry;
    QVERIFY(runXdotool(display.name(), {QStringLiteral("getwindowgeometry"), window}, &geometry));
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("Geometry: (\\d+x\\d+)")).match(geometry);
    QVERIFY2(size.hasMatch(), qPrintable(geometry));
    QCOMPARE(size.captured(1), QStringLiteral("665x517"));

    const QStringList directories = tool.workingDirectories();
    QCOMPARE(directories.size(), 1);
    const QString workDir = QDir(tool.tmp.path()).filePath(directories.first());

    QVERIFY2(tool.waitForLine(QStringLiteral("\"SM_B: entered B2: Conn. to (DFU-SE) dev. with diff. FW rev.\"")),
             qPrintable(tool.standardError()));
    QVERIFY(tool.errorLines().contains(QStringLiteral("MainWindow downloadMode: setEnabled true")));

    QVERIFY(runXdotool(display.name(), QStringList{QStringLiteral("mousemove"), QStringLiteral("--window"), window}
                                           + installButtonCentre
                                           + QStringList{QStringLiteral("click"), QStringLiteral("1")}));
    QVERIFY2(tool.waitForLine(QStringLiteral("Install clicked")), qPrintable(tool.standardError()));
    QVERIFY2(tool.waitForLine(QStringLiteral("\"SM_B: entered B6: FW in dev. matches\"")),
             qPrintable(tool.standardError()));
    const QStringList lines = tool.errorLines();
    QVERIFY(lines.contains(QStringLiteral("Start  \"%1/dfu-util.exe\" (\"-d\", \"0483\", \"-a\", \"0\", \"-s\", "
                                          "\"0x08000000:leave\", \"-D\", \"%1/firmware.bin\")")
                               .arg(workDir)));
    QVERIFY(lines.contains(QStringLiteral("Uploaded FW matches")));

    QVERIFY(
        runXdotool(display.name(), {QStringLiteral("key"), QStringLiteral("--window"), window, QStringLiteral("q")}));
    QVERIFY2(waitForProcess(tool.process, boundMs), qPrintable(tool.standardError()));
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
