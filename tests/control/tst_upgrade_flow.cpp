#include "control/sm_a.h"
#include "control/sm_b.h"
#include "control_fixtures.h"

#include <QSignalSpy>
#include <QState>
#include <QtTest>

namespace {

const int patience = 60000; // ms; a bound for slow (sanitizer) builds

} // namespace

// SM_A against the simulator and SM_B, wired as the application wires them:
// SM_B's start starts SM_A's thread, SM_A's signals reach SM_B queued.
class UpgradeFlow
{
public:
    UpgradeFlow()
        : smA(QStringLiteral(UPDATER_FIRMWARE_DFU_FILE), firmwareImagePath(),
              units.filePath(QStringLiteral("uploaded_FW.bin"))),
          smB(&smA, firmwareOfImage().type, firmwareOfImage().revision)
    {
        smA.noDevConnSleepMs = 20;
        smA.devConnSleepMs = 20;
        for (QState *state : smB.findChildren<QState *>()) {
            const QString name = state->objectName().left(2);
            QObject::connect(state, &QState::entered, &smB, [this, name] { events << name; });
        }
        QObject::connect(&smB, &SM_B::sig_UpgradePossible, &smB,
                         [this] { events << QStringLiteral("sig_UpgradePossible"); });
        QObject::connect(&smB, &SM_B::sig_FwDiffers, &smB, [this] { events << QStringLiteral("sig_FwDiffers"); });
        QObject::connect(&smB, &QStateMachine::started, &smB, [this] { smA.start(); }, Qt::DirectConnection);
    }

    ~UpgradeFlow()
    {
        smB.stop();
        smA.requestStop();
        smA.wait();
    }

    QStringList entries() const { return events.filter(QRegularExpression(QStringLiteral("^B\\d$"))); }
    bool entered(const QString &state) const { return events.contains(state); }

    SimulatedUnits units;
    SM_A smA;
    SM_B smB;
    QStringList events;
};

class TestUpgradeFlow : public QObject
{
    Q_OBJECT

private slots:
    void oneInstallRunsTheWholeFlow_data();
    void oneInstallRunsTheWholeFlow();
};

void TestUpgradeFlow::oneInstallRunsTheWholeFlow_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("expectedEntries");
    QTest::addColumn<QString>("expectedEvent");

    QTest::newRow("an older unit is upgraded and verified")
        << "default" << QStringList{"B1", "B2", "B3", "B1", "B4", "B6"} << "B6";
    QTest::newRow("a unit whose read-back differs ends where it can be installed again")
        << "verify_fails" << QStringList{"B1", "B2", "B3", "B1", "B4", "B7"} << "B7";
}

void TestUpgradeFlow::oneInstallRunsTheWholeFlow()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, expectedEntries);
    QFETCH(QString, expectedEvent);

    UpgradeFlow flow;
    QVERIFY(flow.units.select(scenario));
    QSignalSpy connected(&flow.smB, &SM_B::sig_DeviceConnected);
    flow.smB.start();
    QTRY_VERIFY_WITH_TIMEOUT(flow.entered(QStringLiteral("B2")), patience);
    QCOMPARE(flow.smB.deviceInfoSnapshot.fwRevision, QStringLiteral("2.3.1"));

    flow.smB.do_download();
    QTRY_VERIFY_WITH_TIMEOUT(flow.entered(expectedEvent), patience);
    QCOMPARE(flow.entries(), expectedEntries);
    QCOMPARE(connected.count(), 2);
    QCOMPARE(flow.smB.deviceInfoSnapshot.fwRevision, firmwareOfImage().revision);
    QCOMPARE(flow.units.calls().count(QStringLiteral("download_FW")), 1);

    if (expectedEvent == QLatin1String("B7")) {
        // Entering B7 offers the install again, and it is taken.
        QCOMPARE(flow.events.mid(flow.events.size() - 3),
                 (QStringList{"sig_UpgradePossible", "sig_FwDiffers", "B7"}));
        flow.smB.do_download();
        QTRY_VERIFY_WITH_TIMEOUT(flow.entries().count(QStringLiteral("B3")) == 2, patience);
        QTRY_VERIFY_WITH_TIMEOUT(flow.units.calls().count(QStringLiteral("download_FW")) == 2, patience);
    }
}

QTEST_GUILESS_MAIN(TestUpgradeFlow)
#include "tst_upgrade_flow.moc"
