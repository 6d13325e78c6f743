// The whole upgrade in one process, started as main() starts it, in simulator
// mode, driven by clicks on the window while the simulated unit changes.
#include "app/application_wiring.h"
#include "app/startup.h"
#include "app/workdir.h"
#include "control/sm_a.h"
#include "control/sm_b.h"
#include "gui/gui_settings.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int flowTimeoutMs = 90000;
const QString simulatorScript = QStringLiteral(UPDATER_SOURCE_DIR "/updater/simulator/dfu-util_simulator.sh");

QString statusText(const QString &id)
{
    return guiContext().settings.labelText(id);
}

bool prepareScenario(const QString &name)
{
    QProcess script;
    script.start(simulatorScript, {QStringLiteral("--dfu-util-command"), QStringLiteral("setup_prepared_config"),
                                   name, QStringLiteral(UPDATER_FIRMWARE_BIN_FILE)});
    return script.waitForFinished(30000) && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
}

QString currentState()
{
    for (QAbstractState *state : smB->configuration())
        return state->objectName();
    return QString();
}

} // namespace

class TestCompleteFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noUnitShowsTheNoDeviceText();
    void olderUnitIsUpgradedAndVerified();
    void unpluggingAfterSuccessHidesTheBar();
    void verificationFailureOffersTheDownloadAgain();
    void otherProductIsNotOffered();
    void blankOtpIsNotOffered();
    void quitKeyStopsBothMachinesAndClosesTheWindow();

private:
    QPointer<MainWindow> window;
    InstallButton *button() const { return window->installButton; }
    ProgressBar *bar() const { return window->progressBar; }
    QString status() const { return window->statusLabel->text(); }
};

void TestCompleteFlow::initTestCase()
{
    QVERIFY(prepareScenario(QStringLiteral("none")));
    setupApplication();
    window = mainWindow;
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Lumarex Firmware Upgrade Tool"));
    QVERIFY(smA && smB);
}

void TestCompleteFlow::noUnitShowsTheNoDeviceText()
{
    QTRY_VERIFY_WITH_TIMEOUT(smA->isRunning(), flowTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QStringLiteral("B1: No (DFU-SE) dev. conn."), flowTimeoutMs);
    QCOMPARE(status(), statusText(QStringLiteral("status_noDev")));
    QVERIFY(!button()->isEnabled());
    QVERIFY(!bar()->isVisible());
}

void TestCompleteFlow::olderUnitIsUpgradedAndVerified()
{
    QVERIFY(prepareScenario(QStringLiteral("default")));
    const QString olderRevision = statusText(QStringLiteral("status_devRev")).arg(QStringLiteral("Arc-31"), QStringLiteral("2.3.1"));
    QTRY_COMPARE_WITH_TIMEOUT(status(), olderRevision, flowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(button()->isEnabled(), flowTimeoutMs);
    QCOMPARE(currentState(), QStringLiteral("B2: Conn. to (DFU-SE) dev. with diff. FW rev."));

    QTest::mouseClick(button(), Qt::LeftButton);
    QCOMPARE(bar()->format(), QStringLiteral("Upgrading firmware"));
    QVERIFY(bar()->isVisible());

    // The unit leaves DFU mode after the download: no device, bar hidden.
    QTRY_COMPARE_WITH_TIMEOUT(status(), statusText(QStringLiteral("status_noDev")), flowTimeoutMs);
    QVERIFY(!bar()->isVisible());
    QVERIFY(!button()->isEnabled());

    // It comes back with the new revision and is read back and verified.
    QTRY_COMPARE_WITH_TIMEOUT(bar()->format(), QStringLiteral("Done. Disconnect USB cable."), flowTimeoutMs);
    QVERIFY(bar()->isVisible());
    QCOMPARE(bar()->value(), bar()->maximum());
    QCOMPARE(status(), statusText(QStringLiteral("status_devRev")).arg(QStringLiteral("Arc-31"), QStringLiteral("2.4.0")));
    QCOMPARE(currentState(), QStringLiteral("B6: FW in dev. matches"));
    QVERIFY(!button()->isEnabled());
}

void TestCompleteFlow::unpluggingAfterSuccessHidesTheBar()
{
    QVERIFY(prepareScenario(QStringLiteral("none")));
    QTRY_VERIFY_WITH_TIMEOUT(!bar()->isVisible(), flowTimeoutMs);
    QCOMPARE(status(), statusText(QStringLiteral("status_noDev")));
    QCOMPARE(currentState(), QStringLiteral("B1: No (DFU-SE) dev. conn."));
}

void TestCompleteFlow::verificationFailureOffersTheDownloadAgain()
{
    QVERIFY(prepareScenario(QStringLiteral("verify_fails")));
    QTRY_VERIFY_WITH_TIMEOUT(button()->isEnabled(), flowTimeoutMs);
    QTest::mouseClick(button(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QStringLiteral("B7: FW in dev. differs"), flowTimeoutMs);
    QVERIFY(!bar()->isVisible());
    QCOMPARE(bar()->format(), QStringLiteral("FW differs"));
    QVERIFY(button()->isEnabled());
    QCOMPARE(status(), statusText(QStringLiteral("status_devRev")).arg(QStringLiteral("Arc-31"), QStringLiteral("2.4.0")));
}

void TestCompleteFlow::otherProductIsNotOffered()
{
    QVERIFY(prepareScenario(QStringLiteral("none")));
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QStringLiteral("B1: No (DFU-SE) dev. conn."), flowTimeoutMs);
    QVERIFY(prepareScenario(QStringLiteral("other_product")));
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QStringLiteral("B8: Invalid (DFU-SE) dev. conn."), flowTimeoutMs);
    QCOMPARE(status(), statusText(QStringLiteral("status_devConn")).arg(QStringLiteral("Arc-30")));
    QVERIFY(!button()->isEnabled());
}

void TestCompleteFlow::blankOtpIsNotOffered()
{
    QVERIFY(prepareScenario(QStringLiteral("none")));
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QStringLiteral("B1: No (DFU-SE) dev. conn."), flowTimeoutMs);
    QVERIFY(prepareScenario(QStringLiteral("blank_otp")));
    QTRY_COMPARE_WITH_TIMEOUT(currentState(), QStringLiteral("B9: Conn. to (DFU-SE) dev. with Empty OTP."), flowTimeoutMs);
    // A blank OTP names no product: the model of type 0 and no usable revision.
    QCOMPARE(status(), statusText(QStringLiteral("status_devRevUnknown")).arg(QStringLiteral("N/A")));
    QVERIFY(!button()->isEnabled());
}

void TestCompleteFlow::quitKeyStopsBothMachinesAndClosesTheWindow()
{
    QTest::keyClick(window, Qt::Key_Q);
    QVERIFY(!smA->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!smB->isRunning(), flowTimeoutMs);
    // Closing the last window is what ends the event loop of the running tool.
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), flowTimeoutMs);
    QCOMPARE(teardownApplication(0), 0);
    QVERIFY(!smA);
    QVERIFY(!smB);
}

int main(int argc, char *argv[])
{
    QTemporaryDir simulatorState;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_FONT_DPI", "96");
    qputenv("DFU_SIMULATOR_STATE_DIR", simulatorState.path().toUtf8());
    qputenv("DFU_SIMULATOR_FAST_PROGRESS", "1");
    // The tool's own command line; the test's arguments go to QtTest.
    char toolName[] = "lumarex-upgrade-tool";
    char simulatorOption[] = "-s";
    char *toolArguments[] = {toolName, simulatorOption, nullptr};
    int toolArgumentCount = 2;
    QApplication application(toolArgumentCount, toolArguments);
    TestCompleteFlow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_complete_flow.moc"
