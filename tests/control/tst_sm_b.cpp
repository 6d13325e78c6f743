#include "control/sm_a.h"
#include "control/sm_b.h"
#include "control_fixtures.h"

#include <QSignalSpy>
#include <QState>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

const quint8 desiredType = 4;
const QString desiredRevision = QStringLiteral("2.4.0");

const QString b1Name = QStringLiteral("B1: No (DFU-SE) dev. conn.");
const QString b2Name = QStringLiteral("B2: Conn. to (DFU-SE) dev. with diff. FW rev.");
const QString b3Name = QStringLiteral("B3: Upgrading FW");
const QString b4Name = QStringLiteral("B4: Uploading and verifying FW");
const QString b6Name = QStringLiteral("B6: FW in dev. matches");
const QString b7Name = QStringLiteral("B7: FW in dev. differs");
const QString b8Name = QStringLiteral("B8: Invalid (DFU-SE) dev. conn.");
const QString b9Name = QStringLiteral("B9: Conn. to (DFU-SE) dev. with Empty OTP.");

DeviceInfo readDevice(quint8 type, const QString &revision)
{
    DeviceInfo info;
    info.valid = true;
    info.deviceType = type;
    info.fwRevision = revision;
    info.otp.valid = true;
    info.otp.product.type = type;
    return info;
}

// A device whose OTP was read and found never programmed.
DeviceInfo blankDevice()
{
    DeviceInfo info;
    info.valid = true;
    info.otp.blank = true;
    return info;
}

QString typeLine(int valid, int type)
{
    return QStringLiteral("device_has_valid_type(4): valid %1, device_type: %2").arg(valid).arg(type);
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

// SM_B driven by a real SM_A object that is never started: the test emits its
// signals, here in the machine's own thread (direct delivery) unless a test
// says otherwise.
class SmBFixture
{
public:
    SmBFixture()
        : source(QString(), QString(), QString()), machine(&source, desiredType, desiredRevision)
    {
    }

    // Records state entries ("B2") and SM_B's signals ("sig_DoDownload") in order.
    void record()
    {
        const auto recordSignal = [this](void (SM_B::*signal)(), const char *name) {
            const QString text = QString::fromLatin1(name);
            QObject::connect(&machine, signal, &machine, [this, text] { events << text; });
        };
        recordSignal(&SM_B::sig_UpgradeImpossible, "sig_UpgradeImpossible");
        recordSignal(&SM_B::sig_UpgradePossible, "sig_UpgradePossible");
        recordSignal(&SM_B::sig_DifferingRevision, "sig_DifferingRevision");
        recordSignal(&SM_B::sig_DoDownload, "sig_DoDownload");
        recordSignal(&SM_B::sig_UploadingVerifying, "sig_UploadingVerifying");
        recordSignal(&SM_B::sig_FwMatches, "sig_FwMatches");
        recordSignal(&SM_B::sig_FwDiffers, "sig_FwDiffers");
        recordSignal(&SM_B::sig_DeviceConnected, "sig_DeviceConnected");
        recordSignal(&SM_B::sig_InvalidProduct, "sig_InvalidProduct");
        for (QState *state : machine.findChildren<QState *>()) {
            const QString name = state->objectName().left(2);
            QObject::connect(state, &QState::entered, &machine, [this, name] { events << name; });
        }
    }

    bool start()
    {
        machine.start();
        return QTest::qWaitFor([this] { return activeState() == b1Name; }, 10000);
    }

    QString activeState() const
    {
        const QSet<QAbstractState *> active = machine.configuration();
        return active.size() == 1 ? (*active.begin())->objectName() : QString();
    }

    void report(const DeviceInfo &info)
    {
        emit source.sig_DevConnInfo(info);
        emit source.sig_DevConn();
        QCoreApplication::processEvents();
    }

    // Acts as the test data names it: "2.3.1" reports a device of the desired
    // type with that revision, "other" one of type 3, "blank" a blank OTP,
    // "nodev", "download", "matches" and "differs" the other inputs.
    void apply(const QString &action)
    {
        if (action == QLatin1String("nodev"))
            emit source.sig_NoDevConn();
        else if (action == QLatin1String("download"))
            machine.do_download();
        else if (action == QLatin1String("matches"))
            emit source.sig_FwUploadedMatches();
        else if (action == QLatin1String("differs"))
            emit source.sig_FwUploadedDiffers();
        else if (action == QLatin1String("blank"))
            report(blankDevice());
        else if (action == QLatin1String("other"))
            report(readDevice(3, QStringLiteral("1.8.2")));
        else
            report(readDevice(desiredType, action));
        QCoreApplication::processEvents();
    }

    SM_A source;
    SM_B machine;
    QStringList events;
};

class TestSmB : public QObject
{
    Q_OBJECT

private slots:
    void startsInB1WithDefaultSnapshot();

    void leavesB1ByTheFirstGuardThatHolds_data();
    void leavesB1ByTheFirstGuardThatHolds();

    void reactsOnlyToItsTransitions_data();
    void reactsOnlyToItsTransitions();

    void setsTheDownloadRequestOnEveryEntryIntoB3();

    void snapshotIsTakenBeforeTheTargetSignals();
    void handOverKeepsEachReportsOwnDeviceInformation();

    void debugConnectionsLogEverySignalAndEntry_data();
    void debugConnectionsLogEverySignalAndEntry();
};

void TestSmB::startsInB1WithDefaultSnapshot()
{
    SmBFixture fixture;
    QSignalSpy impossible(&fixture.machine, &SM_B::sig_UpgradeImpossible);
    QVERIFY(fixture.start());
    QCOMPARE(impossible.count(), 1);
    QCOMPARE(fixture.machine.deviceInfoSnapshot.valid, false);
    QCOMPARE(fixture.machine.deviceInfoSnapshot.toString(), DeviceInfo().toString());
    QCOMPARE(fixture.machine.findChildren<QState *>().size(), 8);
}

void TestSmB::leavesB1ByTheFirstGuardThatHolds_data()
{
    QTest::addColumn<DeviceInfo>("device");
    QTest::addColumn<QString>("expectedState");
    QTest::addColumn<QStringList>("expectedEvents");
    QTest::addColumn<QStringList>("expectedTypeLines");
    QTest::addColumn<int>("expectedRequest");

    QTest::newRow("a read device with a blank OTP goes to B9, not to B8")
        << blankDevice() << b9Name
        << QStringList{"sig_DeviceConnected", "sig_UpgradeImpossible", "sig_DifferingRevision", "B9"}
        << QStringList{} << SM_A::RequestNone;
    QTest::newRow("a device of another product goes to B8 after one type check")
        << readDevice(3, QStringLiteral("1.8.2")) << b8Name
        << QStringList{"sig_DeviceConnected", "sig_InvalidProduct", "B8"} << QStringList{typeLine(1, 3)}
        << SM_A::RequestNone;
    QTest::newRow("a device whose type has no product (type 0) goes to B8")
        << readDevice(0, QString()) << b8Name << QStringList{"sig_DeviceConnected", "sig_InvalidProduct", "B8"}
        << QStringList{typeLine(1, 0)} << SM_A::RequestNone;
    QTest::newRow("the desired product with another revision goes to B2 after two type checks")
        << readDevice(desiredType, QStringLiteral("2.3.1")) << b2Name
        << QStringList{"sig_DeviceConnected", "sig_UpgradePossible", "sig_DifferingRevision", "B2"}
        << QStringList{typeLine(1, 4), typeLine(1, 4)} << SM_A::RequestNone;
    QTest::newRow("the desired product without a revision goes to B2")
        << readDevice(desiredType, QString()) << b2Name
        << QStringList{"sig_DeviceConnected", "sig_UpgradePossible", "sig_DifferingRevision", "B2"}
        << QStringList{typeLine(1, 4), typeLine(1, 4)} << SM_A::RequestNone;
    QTest::newRow("the desired product with the desired revision goes to B4 after three type checks")
        << readDevice(desiredType, desiredRevision) << b4Name
        << QStringList{"sig_DeviceConnected", "sig_UploadingVerifying", "B4"}
        << QStringList{typeLine(1, 4), typeLine(1, 4), typeLine(1, 4)} << SM_A::RequestUploadVerify;
    QTest::newRow("an unread device stays in B1 and emits nothing")
        << DeviceInfo() << b1Name << QStringList{} << QStringList{typeLine(0, 0), typeLine(0, 0)}
        << SM_A::RequestNone;
}

void TestSmB::leavesB1ByTheFirstGuardThatHolds()
{
    QFETCH(DeviceInfo, device);
    QFETCH(QString, expectedState);
    QFETCH(QStringList, expectedEvents);
    QFETCH(QStringList, expectedTypeLines);
    QFETCH(int, expectedRequest);

    SmBFixture fixture;
    QVERIFY(fixture.start());
    fixture.record();

    StdoutCapture capture;
    fixture.report(device);
    const QString standardOutput = capture.finish();

    QTRY_COMPARE(fixture.activeState(), expectedState);
    QCOMPARE(fixture.events, expectedEvents);
    QCOMPARE(linesStartingWith(standardOutput, QStringLiteral("device_has_valid_type")), expectedTypeLines);
    QCOMPARE(fixture.source.request(), expectedRequest);
}

void TestSmB::reactsOnlyToItsTransitions_data()
{
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("expectedState");

    const QStringList toB2{"2.3.1"};
    const QStringList toB3{"2.3.1", "download"};
    const QStringList toB4{desiredRevision};
    const QStringList toB6{desiredRevision, "matches"};
    const QStringList toB7{desiredRevision, "differs"};
    const QStringList toB8{"other"};
    const QStringList toB9{"blank"};

    // Transitions 5 to 15.
    QTest::newRow("B2: the install request leads to B3") << toB2 << "download" << b3Name;
    QTest::newRow("B2: losing the device leads to B1") << toB2 << "nodev" << b1Name;
    QTest::newRow("B3: losing the device leads to B1") << toB3 << "nodev" << b1Name;
    QTest::newRow("B4: a matching read-back leads to B6") << toB4 << "matches" << b6Name;
    QTest::newRow("B4: a differing read-back leads to B7") << toB4 << "differs" << b7Name;
    QTest::newRow("B6: losing the device leads to B1") << toB6 << "nodev" << b1Name;
    QTest::newRow("B7: the install request leads to B3") << toB7 << "download" << b3Name;
    QTest::newRow("B7: losing the device leads to B1") << toB7 << "nodev" << b1Name;
    QTest::newRow("B8: losing the device leads to B1") << toB8 << "nodev" << b1Name;
    QTest::newRow("B9: the install request leads to B3") << toB9 << "download" << b3Name;
    QTest::newRow("B9: losing the device leads to B1") << toB9 << "nodev" << b1Name;

    // Signals without a row for the state.
    QTest::newRow("B1 ignores losing a device") << QStringList{} << "nodev" << b1Name;
    QTest::newRow("B1 ignores the install request") << QStringList{} << "download" << b1Name;
    QTest::newRow("B1 ignores a read-back result") << QStringList{} << "matches" << b1Name;
    QTest::newRow("B2 ignores another device report") << toB2 << "2.3.1" << b2Name;
    QTest::newRow("B2 ignores a read-back result") << toB2 << "differs" << b2Name;
    QTest::newRow("B3 ignores the install request") << toB3 << "download" << b3Name;
    QTest::newRow("B3 ignores a device report") << toB3 << desiredRevision << b3Name;
    QTest::newRow("B4 ignores losing the device") << toB4 << "nodev" << b4Name;
    QTest::newRow("B4 ignores the install request") << toB4 << "download" << b4Name;
    QTest::newRow("B4 ignores a device report") << toB4 << "2.3.1" << b4Name;
    QTest::newRow("B6 ignores the install request") << toB6 << "download" << b6Name;
    QTest::newRow("B6 ignores a device report") << toB6 << "2.3.1" << b6Name;
    QTest::newRow("B7 ignores a device report") << toB7 << "2.3.1" << b7Name;
    QTest::newRow("B8 ignores the install request") << toB8 << "download" << b8Name;
    QTest::newRow("B8 ignores a device report") << toB8 << "2.3.1" << b8Name;
    QTest::newRow("B9 ignores a device report") << toB9 << "2.3.1" << b9Name;
}

void TestSmB::reactsOnlyToItsTransitions()
{
    QFETCH(QStringList, path);
    QFETCH(QString, trigger);
    QFETCH(QString, expectedState);

    SmBFixture fixture;
    QVERIFY(fixture.start());
    for (const QString &step : path)
        fixture.apply(step);
    const QString before = fixture.activeState();
    fixture.source.setRequest(SM_A::RequestNone);
    fixture.record();

    fixture.apply(trigger);

    QTRY_COMPARE(fixture.activeState(), expectedState);
    const QStringList entries = fixture.events.filter(QRegularExpression(QStringLiteral("^B\\d$")));
    if (expectedState == before) {
        QCOMPARE(entries, QStringList{});
    } else {
        QCOMPARE(entries, QStringList{expectedState.left(2)});
    }
    // The install request is announced whatever the state does with it.
    QCOMPARE(fixture.events.contains(QStringLiteral("sig_DoDownload")), trigger == QLatin1String("download"));
    if (expectedState == b3Name && before != b3Name)
        QCOMPARE(fixture.source.request(), SM_A::RequestDownload);
    if (expectedState == b1Name && before != b1Name)
        QCOMPARE(fixture.machine.deviceInfoSnapshot.valid, false);
}

void TestSmB::setsTheDownloadRequestOnEveryEntryIntoB3()
{
    SmBFixture fixture;
    QVERIFY(fixture.start());
    fixture.apply(QStringLiteral("2.3.1"));
    fixture.apply(QStringLiteral("download"));
    QTRY_COMPARE(fixture.activeState(), b3Name);
    QCOMPARE(fixture.source.request(), SM_A::RequestDownload);

    // As SM_A does when it takes the request, then reports the unit afresh.
    fixture.source.setRequest(SM_A::RequestNone);
    fixture.apply(QStringLiteral("nodev"));
    fixture.apply(desiredRevision);
    QTRY_COMPARE(fixture.activeState(), b4Name);
    QCOMPARE(fixture.source.request(), SM_A::RequestUploadVerify);
    fixture.source.setRequest(SM_A::RequestNone);
    fixture.apply(QStringLiteral("differs"));
    QTRY_COMPARE(fixture.activeState(), b7Name);
    QCOMPARE(fixture.source.request(), SM_A::RequestNone);

    fixture.apply(QStringLiteral("download"));
    QTRY_COMPARE(fixture.activeState(), b3Name);
    QCOMPARE(fixture.source.request(), SM_A::RequestDownload);
}

void TestSmB::snapshotIsTakenBeforeTheTargetSignals()
{
    SmBFixture fixture;
    QVERIFY(fixture.start());
    QStringList seen;
    const auto watch = [&](void (SM_B::*signal)(), const QString &name) {
        QObject::connect(&fixture.machine, signal, &fixture.machine, [&, name] {
            const DeviceInfo &snapshot = fixture.machine.deviceInfoSnapshot;
            seen << name + QLatin1Char(':') + (snapshot.valid ? snapshot.fwRevision : QStringLiteral("none"));
        });
    };
    watch(&SM_B::sig_DeviceConnected, QStringLiteral("DeviceConnected"));
    watch(&SM_B::sig_UpgradePossible, QStringLiteral("UpgradePossible"));
    watch(&SM_B::sig_DifferingRevision, QStringLiteral("DifferingRevision"));
    watch(&SM_B::sig_UpgradeImpossible, QStringLiteral("UpgradeImpossible"));

    LogCapture log;
    fixture.apply(QStringLiteral("2.3.1"));
    QTRY_COMPARE(fixture.activeState(), b2Name);
    QCOMPARE(seen, (QStringList{"DeviceConnected:2.3.1", "UpgradePossible:2.3.1", "DifferingRevision:2.3.1"}));
    const QStringList connected = log.textsStartingWith(QStringLiteral("Device connected with:"));
    QCOMPARE(connected,
             QStringList{"Device connected with:\n DeviceInfo:\n\tDevice type:\t4\n\tFW_revision:\t2.3.1\n"});
    for (const LogCapture::Entry &entry : log.entries()) {
        if (entry.text.startsWith(QLatin1String("Device connected with:")))
            QCOMPARE(entry.type, QtInfoMsg);
    }

    // Back in B1 the receivers of sig_UpgradeImpossible still see the old
    // snapshot; it is cleared right after.
    seen.clear();
    fixture.apply(QStringLiteral("nodev"));
    QTRY_COMPARE(fixture.activeState(), b1Name);
    QCOMPARE(seen, QStringList{"UpgradeImpossible:2.3.1"});
    QCOMPARE(fixture.machine.deviceInfoSnapshot.valid, false);
}

// SM_A may read another unit before the GUI thread has handled the report of
// the previous one; each report must still be judged with its own information.
void TestSmB::handOverKeepsEachReportsOwnDeviceInformation()
{
    SmBFixture fixture;
    QVERIFY(fixture.start());
    QStringList seen;
    QObject::connect(&fixture.machine, &SM_B::sig_DeviceConnected, &fixture.machine, [&] {
        seen << QString::number(fixture.machine.deviceInfoSnapshot.deviceType) + QLatin1Char('/')
                    + fixture.machine.deviceInfoSnapshot.fwRevision;
    });
    fixture.record();

    SM_A &source = fixture.source;
    std::unique_ptr<QThread> emitter(QThread::create([&source] {
        DeviceInfo first = readDevice(desiredType, QStringLiteral("2.3.1"));
        emit source.sig_DevConnInfo(first);
        emit source.sig_DevConn();
        // The loop then forgets the unit and reads the next one.
        first = DeviceInfo();
        emit source.sig_NoDevConn();
        emit source.sig_DevConnInfo(readDevice(3, QStringLiteral("1.8.2")));
        emit source.sig_DevConn();
    }));
    emitter->start();
    // Nothing is delivered before all five signals are queued.
    QVERIFY(emitter->wait(30000));

    QTRY_COMPARE(fixture.activeState(), b8Name);
    QCOMPARE(seen, (QStringList{"4/2.3.1", "3/1.8.2"}));
    QCOMPARE(fixture.events.filter(QRegularExpression(QStringLiteral("^B\\d$"))),
             (QStringList{"B2", "B1", "B8"}));
}

void TestSmB::debugConnectionsLogEverySignalAndEntry_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("expectedLines");

    const QString header = QStringLiteral("SM_B: Add connections to show emitted signals");
    const QStringList started{header, quoted("SM_B: /sig_UpgradeImpossible"), quoted("SM_B: entered " + b1Name)};

    QTest::newRow("another revision, install, the unit goes")
        << QStringList{"2.3.1", "download", "nodev"}
        << started + QStringList{quoted("SM_B: /sig_DeviceConnected"), quoted("SM_B: /sig_UpgradePossible"),
                                 quoted("SM_B: /sig_DifferingRevision"), quoted("SM_B: entered " + b2Name),
                                 quoted("SM_B: /sig_DoDownload"), quoted("SM_B: entered " + b3Name),
                                 quoted("SM_B: /sig_UpgradeImpossible"), quoted("SM_B: entered " + b1Name)};
    QTest::newRow("a unit with a blank OTP")
        << QStringList{"blank"}
        << started + QStringList{quoted("SM_B: /sig_DeviceConnected"), quoted("SM_B: /sig_UpgradeImpossible"),
                                 quoted("SM_B: /sig_DifferingRevision"), quoted("SM_B: entered " + b9Name)};
    QTest::newRow("a unit of another product")
        << QStringList{"other"}
        << started + QStringList{quoted("SM_B: /sig_DeviceConnected"), quoted("SM_B: /sig_InvalidProduct"),
                                 quoted("SM_B: entered " + b8Name)};
    QTest::newRow("an up-to-date unit that verifies")
        << QStringList{desiredRevision, "matches"}
        << started + QStringList{quoted("SM_B: /sig_DeviceConnected"), quoted("SM_B: /sig_UploadingVerifying"),
                                 quoted("SM_B: entered " + b4Name), quoted("SM_B: /sig_FwMatches"),
                                 quoted("SM_B: entered " + b6Name)};
    QTest::newRow("an up-to-date unit that differs and is installed again")
        << QStringList{desiredRevision, "differs", "download"}
        << started + QStringList{quoted("SM_B: /sig_DeviceConnected"), quoted("SM_B: /sig_UploadingVerifying"),
                                 quoted("SM_B: entered " + b4Name), quoted("SM_B: /sig_UpgradePossible"),
                                 quoted("SM_B: /sig_FwDiffers"), quoted("SM_B: entered " + b7Name),
                                 quoted("SM_B: /sig_DoDownload"), quoted("SM_B: entered " + b3Name)};
    QTest::newRow("an install request without a unit is logged, nothing else")
        << QStringList{"download"} << started + QStringList{quoted("SM_B: /sig_DoDownload")};
}

void TestSmB::debugConnectionsLogEverySignalAndEntry()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, expectedLines);

    LogCapture log;
    SmBFixture fixture;
    fixture.machine.addDebugConnections();
    QVERIFY(fixture.start());
    for (const QString &action : actions)
        fixture.apply(action);
    QTRY_COMPARE(log.texts().filter(QStringLiteral("SM_B: ")), expectedLines);
    for (const LogCapture::Entry &entry : log.entries()) {
        if (entry.text.startsWith(QLatin1String("\"SM_B: ")))
            QCOMPARE(entry.type, QtDebugMsg);
        else if (entry.text.startsWith(QLatin1String("SM_B: ")))
            QCOMPARE(entry.type, QtInfoMsg);
    }
}

QTEST_GUILESS_MAIN(TestSmB)
#include "tst_sm_b.moc"
