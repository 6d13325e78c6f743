// Faulty units as the tool meets them in real mode, one after another in one
// running tool: each case puts its own units on the bus in one step and the
// window is watched until it settles.
#include "real_mode_support.h"

#include "app/startup.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QLabel>

#include <memory>
#include <vector>

using namespace realmode;

namespace {

constexpr int flowTimeoutMs = 60000;
constexpr int dfuUtilIoError = 74;
// Scans the device loop must start after a change of the bus before the
// window's state counts as its answer: one may have begun before the change,
// the next ran wholly after it, and a third shows that one has finished.
constexpr int settlingScans = 3;

QStringList otpUploadArguments()
{
    return {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"), QStringLiteral("2"),
            QStringLiteral("-s"), QStringLiteral("0x1FFF7800:512"), QStringLiteral("-U"),
            workFilePath(WorkFile::UploadedOtp)};
}

QStringList downloadArguments()
{
    return {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"), QStringLiteral("0"),
            QStringLiteral("-s"), QStringLiteral("0x08000000:leave"), QStringLiteral("-D"),
            workFilePath(WorkFile::FirmwareBin)};
}

QString exitLinePrefix(int exitCode, const QStringList &arguments)
{
    return QStringLiteral("Exit with %1 from \"%2\" %3 returned:")
        .arg(exitCode)
        .arg(dfuUtilExecutablePath(), quotedList(arguments));
}

} // namespace

class TestRealModeFaults : public QObject
{
    Q_OBJECT

public:
    explicit TestRealModeFaults(BusSwitch &busSwitch) : bus(busSwitch) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void stalledOtpUploadShowsNoDeviceUntilReplugged();
    void unitLostDuringDownloadIsUpgradedOnItsReturn_data();
    void unitLostDuringDownloadIsUpgradedOnItsReturn();
    void byteThatDoesNotProgramFailsTheVerification();
    void unitsThatAreNotOneValidDeviceShowNoDevice_data();
    void unitsThatAreNotOneValidDeviceShowNoDevice();
    void quitKeyEndsTheToolCleanly();

private:
    // A fresh directory of units with its own serial numbers, kept until the end.
    VirtualBus &newStage();
    bool switchTo(const VirtualBus &stage);
    bool waitForSettlingScans();

    BusSwitch &bus;
    std::vector<std::unique_ptr<VirtualBus>> stages;
    QString olderImage;
    std::unique_ptr<LogCapture> capture;
    std::unique_ptr<LogTrail> logTrail;
    std::unique_ptr<DeviceLoopTrail> loopTrail;
    const LogTrail &log() const { return *logTrail; }
    QPointer<MainWindow> window;
    InstallButton *button() const { return window->installButton; }
    ProgressBar *bar() const { return window->progressBar; }
    QString status() const { return window->statusLabel->text(); }
};

VirtualBus &TestRealModeFaults::newStage()
{
    stages.push_back(std::make_unique<VirtualBus>());
    return *stages.back();
}

bool TestRealModeFaults::switchTo(const VirtualBus &stage)
{
    // Entries already queued belong to the bus before the change.
    QCoreApplication::processEvents();
    return bus.pointTo(stage.busDir());
}

bool TestRealModeFaults::waitForSettlingScans()
{
    const int mark = loopTrail->mark();
    QDeadlineTimer deadline(flowTimeoutMs);
    while (loopTrail->countSince(mark, QStringLiteral("A2")) < settlingScans && !deadline.hasExpired())
        QTest::qWait(20);
    return loopTrail->countSince(mark, QStringLiteral("A2")) >= settlingScans;
}

void TestRealModeFaults::initTestCase()
{
    capture = std::make_unique<LogCapture>();
    logTrail = std::make_unique<LogTrail>(*capture);
    QVERIFY(bus.isValid());
    olderImage = writeOlderImage(newStage());
    QVERIFY(!olderImage.isEmpty());

    setupApplication();
    window = mainWindow;
    QVERIFY(window);
    QVERIFY(smA && smB);
    loopTrail = std::make_unique<DeviceLoopTrail>();
}

// Every case starts from an empty bus and the no-device window.
void TestRealModeFaults::init()
{
    QVERIFY(bus.pointToEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QLatin1String(stateB1), flowTimeoutMs);
    QCOMPARE(status(), noDeviceText());
    QVERIFY(!button()->isEnabled());
    QVERIFY(!bar()->isVisible());
}

void TestRealModeFaults::cleanup()
{
    if (QTest::currentTestFailed()) {
        log().dumpToStandardError();
        std::fprintf(stderr, "  | SM_A trail: %s\n", qPrintable(loopTrail->since(0).join(QLatin1Char(' '))));
    }
}

// Ends showing: the older revision of the re-plugged unit, install enabled.
// While the OTP upload hangs the window stays at the no-device text.
void TestRealModeFaults::stalledOtpUploadShowsNoDeviceUntilReplugged()
{
    VirtualBus &stage = newStage();
    const QString unit = QStringLiteral("stalling");
    QVERIFY(stage.createUnit(unit, arc31Options(QStringLiteral("5354414C4C31"), olderImage)));
    QVERIFY(stage.unitCommand(QStringLiteral("fault"), unit, {QStringLiteral("stall-otp-upload")}));
    const QString stalledMarker = QDir(stage.unitDir(unit)).filePath(QStringLiteral("stalled"));

    const int mark = log().mark();
    const int loopMark = loopTrail->mark();
    QVERIFY(switchTo(stage));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(stalledMarker), flowTimeoutMs);
    QVERIFY(log().since(mark).contains(startLine(otpUploadArguments())));
    QVERIFY(log().since(mark).contains(QStringLiteral("\"SM_A: /sig_readingInfo\"")));
    // The read hangs inside dfu-util: no device is shown, none is offered.
    QCOMPARE(currentState(), QLatin1String(stateB1));
    QCOMPARE(status(), noDeviceText());
    QVERIFY(!button()->isEnabled());
    QCOMPARE(log().enteredStatesSince(mark), QStringList());
    QVERIFY(!log().since(mark).contains(QStringLiteral("\"SM_A: /sig_DevConn\"")));

    // Unplugging ends the hanging run with an error; the loop waits for the
    // failed unit to be gone before it looks for a unit again.
    QVERIFY(stage.unitCommand(QStringLiteral("unplug"), unit));
    QTRY_VERIFY_WITH_TIMEOUT(log().hasLineStartingWith(mark, exitLinePrefix(dfuUtilIoError, otpUploadArguments())),
                             flowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(loopTrail->since(loopMark).join(QLatin1Char(' ')).contains(QStringLiteral("A7 A0")),
                             flowTimeoutMs);
    QVERIFY(!QFile::exists(stalledMarker));
    QCOMPARE(currentState(), QLatin1String(stateB1));
    QCOMPARE(status(), noDeviceText());
    QCOMPARE(log().enteredStatesSince(mark), QStringList());

    QVERIFY(stage.unitCommand(QStringLiteral("fault"), unit, {QStringLiteral("none")}));
    QVERIFY(stage.unitCommand(QStringLiteral("plug"), unit));
    QTRY_COMPARE_WITH_TIMEOUT(status(), revisionText(olderRevision), flowTimeoutMs);
    QCOMPARE(currentState(), QLatin1String(stateB2));
    QVERIFY(button()->isEnabled());
    QVERIFY(!bar()->isVisible());
}

void TestRealModeFaults::unitLostDuringDownloadIsUpgradedOnItsReturn_data()
{
    QTest::addColumn<int>("vanishAfter");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("returnState");  // where the re-plugged unit leads
    QTest::addColumn<bool>("blockWritten");    // whether the new block reached the flash

    // Erasing comes first: lost before the first data block, the unit holds
    // erased flash only, so no firmware block and an unknown revision.
    QTest::newRow("a unit lost before the first block returns erased, with an unknown revision")
        << 0 << QStringLiteral("4C4F53543030") << QString::fromLatin1(stateB2) << false;
    // Lost mid-image, the unit already holds the new block: it claims the new
    // revision and only the read-back shows the image incomplete.
    QTest::newRow("a unit lost mid-image returns with the new revision and fails the read-back")
        << 100001 << QStringLiteral("4C4F53543031") << QString::fromLatin1(stateB7) << true;
}

// Ends showing: "Done. Disconnect USB cable." and the new revision after the
// second download; between the two, what the partial flash holds.
void TestRealModeFaults::unitLostDuringDownloadIsUpgradedOnItsReturn()
{
    QFETCH(int, vanishAfter);
    QFETCH(QString, serial);
    QFETCH(QString, returnState);
    QFETCH(bool, blockWritten);

    VirtualBus &stage = newStage();
    const QString unit = QStringLiteral("vanishing");
    QVERIFY(stage.createUnit(unit, arc31Options(serial, olderImage)));
    QVERIFY(stage.unitCommand(QStringLiteral("fault"), unit,
                              {QStringLiteral("vanish-after"), QString::number(vanishAfter)}));
    QVERIFY(switchTo(stage));
    QTRY_COMPARE_WITH_TIMEOUT(status(), revisionText(olderRevision), flowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(button()->isEnabled(), flowTimeoutMs);

    const int mark = log().mark();
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(log().hasLineStartingWith(mark, exitLinePrefix(dfuUtilIoError, downloadArguments())),
                             flowTimeoutMs);
    // Back to no device: the bar hidden, nothing offered.
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QLatin1String(stateB1), flowTimeoutMs);
    QCOMPARE(status(), noDeviceText());
    QVERIFY(!bar()->isVisible());
    QVERIFY(!button()->isEnabled());
    QVERIFY(stage.show(unit).contains(QStringLiteral("present: no\n")));

    const QByteArray image = firmwareImage();
    const QByteArray partial = stage.flash(unit).left(image.size());
    QCOMPARE(partial.left(vanishAfter), image.left(vanishAfter));
    QCOMPARE(partial.mid(vanishAfter), QByteArray(image.size() - vanishAfter, char(0xFF)));
    QCOMPARE(parseFwInfo(partial).valid, blockWritten);

    const int returnMark = log().mark();
    QVERIFY(stage.unitCommand(QStringLiteral("fault"), unit, {QStringLiteral("vanish-after"), QStringLiteral("off")}));
    QVERIFY(stage.unitCommand(QStringLiteral("plug"), unit));
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), returnState, flowTimeoutMs);
    if (blockWritten) {
        QCOMPARE(log().enteredStatesSince(returnMark),
                 QStringList({enteredLine(stateB4), enteredLine(stateB7)}));
        QCOMPARE(status(), revisionText(desiredRevision()));
        QVERIFY(log().since(returnMark).contains(QStringLiteral("Uploaded FW does not match")));
    } else {
        QCOMPARE(log().enteredStatesSince(returnMark), QStringList({enteredLine(stateB2)}));
        QCOMPARE(status(), unknownRevisionText());
    }
    QVERIFY(!bar()->isVisible());
    QVERIFY(button()->isEnabled());

    const int secondMark = log().mark();
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(bar()->format(), QStringLiteral("Done. Disconnect USB cable."), flowTimeoutMs);
    QCOMPARE(bar()->value(), bar()->maximum());
    QVERIFY(bar()->isVisible());
    QCOMPARE(status(), revisionText(desiredRevision()));
    QCOMPARE(currentState(), QLatin1String(stateB6));
    QVERIFY(!button()->isEnabled());
    QCOMPARE(log().enteredStatesSince(secondMark), QStringList({enteredLine(stateB3), enteredLine(stateB1),
                                                              enteredLine(stateB4), enteredLine(stateB6)}));
    QCOMPARE(stage.flash(unit).left(image.size()), image);
}

// Ends showing: the new revision with the bar hidden and install enabled again.
void TestRealModeFaults::byteThatDoesNotProgramFailsTheVerification()
{
    constexpr int stuckOffset = 500001;
    const QByteArray image = firmwareImage();
    QVERIFY(stuckOffset < image.size());
    QVERIFY2(image.at(stuckOffset) != char(0xFF), "the image byte must differ from erased flash");

    VirtualBus &stage = newStage();
    const QString unit = QStringLiteral("stuck");
    QVERIFY(stage.createUnit(unit, arc31Options(QStringLiteral("535455434B31"), olderImage)));
    QVERIFY(stage.unitCommand(QStringLiteral("fault"), unit,
                              {QStringLiteral("stuck-byte"), QString::number(stuckOffset)}));
    QVERIFY(switchTo(stage));
    QTRY_COMPARE_WITH_TIMEOUT(status(), revisionText(olderRevision), flowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(button()->isEnabled(), flowTimeoutMs);

    const int mark = log().mark();
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QLatin1String(stateB7), flowTimeoutMs);
    QCOMPARE(log().enteredStatesSince(mark), QStringList({enteredLine(stateB3), enteredLine(stateB1),
                                                        enteredLine(stateB4), enteredLine(stateB7)}));
    QVERIFY(log().since(mark).contains(QStringLiteral("Uploaded FW does not match")));
    QVERIFY(!bar()->isVisible());
    QCOMPARE(bar()->format(), QStringLiteral("FW differs"));
    QVERIFY(button()->isEnabled());
    QCOMPARE(status(), revisionText(desiredRevision()));
    QCOMPARE(differingOffsets(stage.flash(unit).left(image.size()), image), QVector<int>{stuckOffset});
}

void TestRealModeFaults::unitsThatAreNotOneValidDeviceShowNoDevice_data()
{
    QTest::addColumn<int>("unitCount");
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<int>("listedInterfaces"); // what dfu-util itself lists

    QTest::newRow("two units at once show no device") << 2 << QStringList() << 8;
    QTest::newRow("a unit with another device version shows no device")
        << 1 << QStringList({QStringLiteral("bcd-device"), QStringLiteral("2100")}) << 4;
    QTest::newRow("a unit with three interfaces shows no device")
        << 1 << QStringList({QStringLiteral("three-interfaces")}) << 3;
}

// Ends showing: the no-device text, nothing offered; no unit is read.
void TestRealModeFaults::unitsThatAreNotOneValidDeviceShowNoDevice()
{
    QFETCH(int, unitCount);
    QFETCH(QStringList, fault);
    QFETCH(int, listedInterfaces);

    VirtualBus &stage = newStage();
    for (int i = 0; i < unitCount; ++i) {
        const QString unit = QStringLiteral("unit%1").arg(i);
        QVERIFY(stage.createUnit(unit, arc31Options(QStringLiteral("4F4E4C5930%1%2").arg(i).arg(unitCount), olderImage)));
        if (!fault.isEmpty())
            QVERIFY(stage.unitCommand(QStringLiteral("fault"), unit, fault));
    }
    // dfu-util does see the units: what follows is the tool's own judgement.
    const DfuRun list = stage.runDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-l")});
    QCOMPARE(list.exitCode, 0);
    QCOMPARE(list.deviceLines().size(), listedInterfaces);

    const int mark = log().mark();
    QVERIFY(switchTo(stage));
    QVERIFY(waitForSettlingScans());
    QCOMPARE(currentState(), QLatin1String(stateB1));
    QCOMPARE(status(), noDeviceText());
    QVERIFY(!button()->isEnabled());
    QVERIFY(!bar()->isVisible());
    QCOMPARE(log().enteredStatesSince(mark), QStringList());
    QVERIFY(!log().since(mark).contains(QStringLiteral("\"SM_A: /sig_readingInfo\"")));
}

// Ends showing: nothing; the window is closed and both machines are stopped.
void TestRealModeFaults::quitKeyEndsTheToolCleanly()
{
    QTest::keyClick(window, Qt::Key_Q);
    QVERIFY(!smA->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!smB->isRunning(), flowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), flowTimeoutMs);
    loopTrail.reset();
    QCOMPARE(teardownApplication(0), 0);
    QVERIFY(!smA);
    QVERIFY(!smB);
}

int main(int argc, char *argv[])
{
    BusSwitch bus;
    prepareRealModeEnvironment(bus.path());
    char toolName[] = "lumarex-upgrade-tool";
    char *toolArguments[] = {toolName, nullptr};
    int toolArgumentCount = 1;
    QApplication application(toolArgumentCount, toolArguments);
    TestRealModeFaults test(bus);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_real_mode_faults.moc"
