// The whole upgrade in one process in real mode: the tool's own dfu-util,
// extracted into its working directory, against a virtual Arc-31 holding an
// older firmware image, driven by a click on the window.
#include "real_mode_support.h"

#include "app/startup.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QLabel>

using namespace realmode;

namespace {

constexpr int flowTimeoutMs = 60000;
const QString unitName = QStringLiteral("arc31");

} // namespace

class TestRealModeFlow : public QObject
{
    Q_OBJECT

public:
    explicit TestRealModeFlow(const VirtualBus &virtualBus) : bus(virtualBus) {}

private slots:
    void initTestCase();
    void cleanup();
    void olderUnitIsShownWithItsRevisionAndOffered();
    void installShowsDoneAndLeavesTheImageInTheUnit();
    void quitKeyEndsTheToolCleanly();

private:
    const VirtualBus &bus;
    // Installed once QtTest has installed its own handler.
    std::unique_ptr<LogCapture> capture;
    std::unique_ptr<LogTrail> logTrail;
    const LogTrail &log() const { return *logTrail; }
    QPointer<MainWindow> window;
    InstallButton *button() const { return window->installButton; }
    ProgressBar *bar() const { return window->progressBar; }
    QString status() const { return window->statusLabel->text(); }
};

void TestRealModeFlow::initTestCase()
{
    capture = std::make_unique<LogCapture>();
    logTrail = std::make_unique<LogTrail>(*capture);
    QVERIFY(bus.isValid());
    const QString older = writeOlderImage(bus);
    QVERIFY(!older.isEmpty());
    QVERIFY(bus.createUnit(unitName, arc31Options(QLatin1String(VirtualBus::defaultSerial), older)));

    setupApplication();
    window = mainWindow;
    QVERIFY(window);
    QVERIFY(smA && smB);
    QVERIFY(desiredRevision() != olderRevision);
    // Real mode: dfu-util is the extracted copy, started with its full path.
    QVERIFY(log().since(0).contains(QStringLiteral("Will use real device (i.e. no option 'use_simulator'.)")));
    QVERIFY(QFileInfo(dfuUtilExecutablePath()).isExecutable());
    QVERIFY(log().since(0).contains(startLine({QStringLiteral("-V")})));
}

void TestRealModeFlow::cleanup()
{
    if (QTest::currentTestFailed())
        log().dumpToStandardError();
}

// Ends showing: the older revision of the Arc-31, install button enabled, no bar.
void TestRealModeFlow::olderUnitIsShownWithItsRevisionAndOffered()
{
    QTRY_COMPARE_WITH_TIMEOUT(status(), revisionText(olderRevision), flowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(button()->isEnabled(), flowTimeoutMs);
    QCOMPARE(currentState(), QLatin1String(stateB2));
    QVERIFY(!bar()->isVisible());
    const QStringList reads = log().since(0);
    QVERIFY(reads.contains(startLine({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                      QStringLiteral("2"), QStringLiteral("-s"), QStringLiteral("0x1FFF7800:512"),
                                      QStringLiteral("-U"), workFilePath(WorkFile::UploadedOtp)})));
    QVERIFY(reads.contains(startLine({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                      QStringLiteral("0"), QStringLiteral("-s"), QStringLiteral("0x08000000:2048"),
                                      QStringLiteral("-U"), workFilePath(WorkFile::UploadedFwInfo)})));
}

// Ends showing: "Done. Disconnect USB cable." on the full bar and the new
// revision; the install button disabled.
void TestRealModeFlow::installShowsDoneAndLeavesTheImageInTheUnit()
{
    const int mark = log().mark();
    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(bar()->format(), QStringLiteral("Upgrading firmware"));
    QVERIFY(bar()->isVisible());

    QTRY_COMPARE_WITH_TIMEOUT(bar()->format(), QStringLiteral("Done. Disconnect USB cable."), flowTimeoutMs);
    QVERIFY(bar()->isVisible());
    QCOMPARE(bar()->value(), bar()->maximum());
    QCOMPARE(status(), revisionText(desiredRevision()));
    QCOMPARE(currentState(), QLatin1String(stateB6));
    QVERIFY(!button()->isEnabled());

    // Download, the unit away (back to the first state), read afresh, verified.
    QCOMPARE(log().enteredStatesSince(mark), QStringList({enteredLine(stateB3), enteredLine(stateB1),
                                                        enteredLine(stateB4), enteredLine(stateB6)}));
    const QStringList lines = log().since(mark);
    const QByteArray image = firmwareImage();
    QVERIFY(lines.contains(startLine({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                      QStringLiteral("0"), QStringLiteral("-s"), QStringLiteral("0x08000000:leave"),
                                      QStringLiteral("-D"), workFilePath(WorkFile::FirmwareBin)})));
    QVERIFY(lines.contains(startLine({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                      QStringLiteral("0"), QStringLiteral("-s"),
                                      QStringLiteral("0x08000000:%1").arg(image.size()), QStringLiteral("-U"),
                                      workFilePath(WorkFile::UploadedFw)})));
    QVERIFY(lines.contains(QStringLiteral("Uploaded FW matches")));
    QVERIFY2(!log().hasLineStartingWith(mark, QStringLiteral("Exit with")), "every dfu-util run succeeded");

    QCOMPARE(bus.flash(unitName).left(image.size()), image);
    // The leave request took the unit off the bus once; it came back by itself.
    QVERIFY2(bus.show(unitName).contains(QStringLiteral("bus: attached 2\n")), qPrintable(bus.show(unitName)));
}

// Ends showing: nothing; the window is closed and both machines are stopped.
void TestRealModeFlow::quitKeyEndsTheToolCleanly()
{
    QTest::keyClick(window, Qt::Key_Q);
    QVERIFY(!smA->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!smB->isRunning(), flowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), flowTimeoutMs);
    QCOMPARE(teardownApplication(0), 0);
    QVERIFY(!smA);
    QVERIFY(!smB);
}

int main(int argc, char *argv[])
{
    VirtualBus bus;
    prepareRealModeEnvironment(bus.busDir());
    // The tool's own command line, without the simulator option.
    char toolName[] = "lumarex-upgrade-tool";
    char *toolArguments[] = {toolName, nullptr};
    int toolArgumentCount = 1;
    QApplication application(toolArgumentCount, toolArguments);
    TestRealModeFlow test(bus);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_real_mode_flow.moc"
