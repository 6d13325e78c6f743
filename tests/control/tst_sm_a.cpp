#include "control/sm_a.h"
#include "control_fixtures.h"

#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const int patience = 60000; // ms; a bound for slow (sanitizer) builds, never reached when all is well
const unsigned long shortPause = 20;
const unsigned long endlessPause = 600000;

const QString debugSignalPrefix = QStringLiteral("\"SM_A: /sig_");

QString debugSignalLine(const QString &name)
{
    return QStringLiteral("\"SM_A: /sig_%1\"").arg(name);
}

} // namespace

// One SM_A against the simulator, with its signals recorded as they arrive in
// the test's thread. The thread is stopped before anything else goes.
class SmARun
{
public:
    explicit SmARun(unsigned long noDevicePause = shortPause, unsigned long devicePause = shortPause)
        : smA(QStringLiteral(UPDATER_FIRMWARE_DFU_FILE), firmwareImagePath(),
              units.filePath(QStringLiteral("uploaded_FW.bin")))
    {
        smA.noDevConnSleepMs = noDevicePause;
        smA.devConnSleepMs = devicePause;
    }

    ~SmARun()
    {
        smA.requestStop();
        smA.wait();
    }

    void start()
    {
        signalLog = std::make_unique<SmASignalLog>(&smA);
        smA.start();
    }

    bool stop()
    {
        smA.requestStop();
        const bool ended = smA.wait(patience);
        QCoreApplication::sendPostedEvents();
        return ended;
    }

    const QStringList &names() const { return signalLog->names; }
    int count(const QString &name) const { return signalLog->count(name); }
    QStringList since(int mark) const { return names().mid(mark); }

    SimulatedUnits units;
    LogCapture log;
    SM_A smA;
    std::unique_ptr<SmASignalLog> signalLog;
};

// The debug handlers share one process-wide flag; a non-polling signal,
// emitted here in the test's thread while the loop does not run, puts it in
// its initial state, so that the next polling signal is logged.
void resetDebugPollingFlag(SM_A &smA)
{
    emit smA.sig_readingInfo();
}

QStringList debugSignalLines(const LogCapture &log)
{
    return log.textsStartingWith(debugSignalPrefix);
}

class TestSmA : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void logsItsCreationAndDebugHeader();

    void withoutUnitPollsAndLogsThePollingOnce();
    void readsAUnitOnceThenOnlyPolls();
    void readsAReplacingUnitWithoutPassingNoDevice_data();
    void readsAReplacingUnitWithoutPassingNoDevice();
    void forgetsAnUnpluggedUnitAndReadsItAgain();
    void treatsTwoUnitsAsNone();
    void waitsQuietlyBesideAnUnreadableUnit_data();
    void waitsQuietlyBesideAnUnreadableUnit();

    void downloadsOnRequestAndStartsOver_data();
    void downloadsOnRequestAndStartsOver();
    void verifiesOnRequestAndKeepsPolling_data();
    void verifiesOnRequestAndKeepsPolling();
    void requestWithoutUnit_data();
    void requestWithoutUnit();
    void downloadRequestDoesNotOutliveItsUnit_data();
    void downloadRequestDoesNotOutliveItsUnit();

    void stopDuringADownloadFinishesIt();
    void stopEndsAPauseAtOnce_data();
    void stopEndsAPauseAtOnce();
    void destructorEndsAPausingThread();
};

// The very first pass of the process scans at once, every later one pauses.
// Runs first of all, so the pauses of the other tests are known.
void TestSmA::initTestCase()
{
    SmARun run(endlessPause, shortPause);
    QVERIFY(run.units.isValid());
    QVERIFY(run.units.select(QStringLiteral("none")));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("NoDevConn")) == 2, patience);
    QVERIFY(run.stop());
    QCOMPARE(run.names(), (QStringList{"A0", "A1", "NoDevConn", "A2", "scanning", "A0", "A1", "NoDevConn"}));
}

void TestSmA::logsItsCreationAndDebugHeader()
{
    LogCapture log;
    SM_A smA(QStringLiteral("a.dfu"), QStringLiteral("a.bin"), QStringLiteral("up.bin"));
    smA.addDebugConnections();
    QCOMPARE(log.texts(), (QStringList{"SM_A created",
                                       "SM_A: Adding connections to show debug output (state transitions)"}));
    QCOMPARE(log.entries().at(0).type, QtDebugMsg);
    QCOMPARE(log.entries().at(1).type, QtInfoMsg);
    QCOMPARE(smA.request(), SM_A::RequestNone);
    QCOMPARE(smA.isStopRequested(), false);
    QCOMPARE(smA.noDevConnSleepMs, 200ul);
    QCOMPARE(smA.devConnSleepMs, 200ul);
    smA.setRequest(SM_A::RequestUploadVerify);
    QCOMPARE(smA.request(), SM_A::RequestUploadVerify);
    smA.requestStop();
    QCOMPARE(smA.isStopRequested(), true);
}

void TestSmA::withoutUnitPollsAndLogsThePollingOnce()
{
    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("none")));
    run.smA.addDebugConnections();
    resetDebugPollingFlag(run.smA);
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("A0")) >= 4, patience);
    QVERIFY(run.stop());

    const QStringList cycle{"A0", "A1", "NoDevConn", "A2", "scanning"};
    QCOMPARE(run.names().mid(0, 15), cycle + cycle + cycle);
    QCOMPARE(run.count(QStringLiteral("readingInfo")), 0);
    QCOMPARE(run.units.calls().filter(QStringLiteral("upload")), QStringList{});
    QCOMPARE(debugSignalLines(run.log), (QStringList{debugSignalLine("readingInfo"), debugSignalLine("NoDevConn")}));
}

void TestSmA::readsAUnitOnceThenOnlyPolls()
{
    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("default")));
    run.smA.addDebugConnections();
    resetDebugPollingFlag(run.smA);
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("A4")) >= 4, patience);
    QVERIFY(run.stop());

    QCOMPARE(run.names().mid(0, 16),
             (QStringList{"A0", "A1", "NoDevConn", "A2", "scanning", "readingInfo", "NoDevConn", "DevConnInfo",
                          "DevConn", "A4", "A2", "scanning", "A4", "A2", "scanning", "A4"}));
    QCOMPARE(run.count(QStringLiteral("readingInfo")), 1);
    QCOMPARE(run.units.calls().filter(QStringLiteral("upload")), (QStringList{"upload_OTP", "upload_FW"}));

    QCOMPARE(run.signalLog->reportedInfos.size(), 1);
    const DeviceInfo &info = run.signalLog->reportedInfos.first();
    QCOMPARE(info.valid, true);
    QCOMPARE(int(info.deviceType), 4);
    QCOMPARE(info.fwRevision, QStringLiteral("2.3.1"));

    // Only the first of each run of polling signals is logged.
    QCOMPARE(debugSignalLines(run.log),
             (QStringList{debugSignalLine("readingInfo"), debugSignalLine("NoDevConn"),
                          debugSignalLine("readingInfo"), debugSignalLine("NoDevConn"), debugSignalLine("DevConn"),
                          debugSignalLine("scanning")}));
}

void TestSmA::readsAReplacingUnitWithoutPassingNoDevice_data()
{
    QTest::addColumn<QString>("newContents");
    QTest::addColumn<int>("expectedType");
    QTest::addColumn<QString>("expectedRevision");

    QTest::newRow("a unit of the same kind with another serial number is read") << QString() << 4 << "2.3.1";
    QTest::newRow("a unit of another product is read") << "other_product" << 3 << "1.8.2";
    QTest::newRow("a unit whose firmware names another product keeps no revision of its predecessor")
        << "subtype_mismatch" << 4 << QString();
}

void TestSmA::readsAReplacingUnitWithoutPassingNoDevice()
{
    QFETCH(QString, newContents);
    QFETCH(int, expectedType);
    QFETCH(QString, expectedRevision);

    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("default")));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 1, patience);
    // Contents first: the same serial number is not read again.
    if (!newContents.isEmpty())
        QVERIFY(run.units.replaceContents(newContents));
    QVERIFY(run.units.setSerial(secondSerial));
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 2, patience);
    QVERIFY(run.stop());

    const int first = run.names().indexOf(QStringLiteral("DevConn"));
    const int second = run.names().indexOf(QStringLiteral("DevConn"), first + 1);
    QCOMPARE(run.names().mid(second - 5, 6),
             (QStringList{"A2", "scanning", "readingInfo", "NoDevConn", "DevConnInfo", "DevConn"}));
    const QStringList between = run.names().mid(first, second - first);
    QVERIFY(!between.contains(QStringLiteral("A0")));
    QVERIFY(!between.contains(QStringLiteral("A1")));
    const DeviceInfo &info = run.signalLog->reportedInfos.at(1);
    QCOMPARE(int(info.deviceType), expectedType);
    QCOMPARE(info.fwRevision, expectedRevision);
}

void TestSmA::forgetsAnUnpluggedUnitAndReadsItAgain()
{
    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("default")));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 1, patience);
    const int mark = run.names().size();
    QVERIFY(run.units.unplug());
    QTRY_VERIFY_WITH_TIMEOUT(run.since(mark).contains(QStringLiteral("A0")), patience);
    QVERIFY(run.units.plugIn(QStringLiteral("default")));
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 2, patience);
    QVERIFY(run.stop());

    const int gone = run.names().indexOf(QStringLiteral("A0"), run.names().indexOf(QStringLiteral("DevConn")));
    QCOMPARE(run.names().mid(gone - 2, 5), (QStringList{"A2", "scanning", "A0", "A1", "NoDevConn"}));
    QCOMPARE(run.units.calls().count(QStringLiteral("upload_OTP")), 2);
    QCOMPARE(run.signalLog->reportedInfos.at(1).fwRevision, QStringLiteral("2.3.1"));
}

void TestSmA::treatsTwoUnitsAsNone()
{
    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("two")));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("A0")) >= 3, patience);
    QVERIFY(run.stop());

    const QStringList cycle{"A0", "A1", "NoDevConn", "A2", "scanning"};
    QCOMPARE(run.names().mid(0, 10), cycle + cycle);
    QCOMPARE(run.count(QStringLiteral("readingInfo")), 0);
    QCOMPARE(run.units.calls().filter(QStringLiteral("upload")), QStringList{});
}

void TestSmA::waitsQuietlyBesideAnUnreadableUnit_data()
{
    QTest::addColumn<bool>("swapBetweenPolls");

    QTest::newRow("the unreadable unit is unplugged, then a good one attached") << false;
    QTest::newRow("the unreadable unit is swapped for a good one between two polls") << true;
}

void TestSmA::waitsQuietlyBesideAnUnreadableUnit()
{
    QFETCH(bool, swapBetweenPolls);

    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("otp_upload_fails")));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("A7")) == 1, patience);
    // Several polls of the faulty unit, and nothing but polls.
    const int failedRead = run.units.calls().lastIndexOf(QStringLiteral("upload_OTP"));
    QTRY_VERIFY_WITH_TIMEOUT(run.units.calls().mid(failedRead + 1).count(QStringLiteral("list")) >= 3, patience);
    QCOMPARE(run.units.calls().mid(failedRead + 1).filter(QStringLiteral("upload")), QStringList{});
    QCOMPARE(run.names().mid(5),
             (QStringList{"readingInfo", "NoDevConn", "DeviceError", "A7", "scanning"}));
    QCOMPARE(run.signalLog->errorMessages.size(), 1);
    QVERIFY2(run.signalLog->errorMessages.first().contains(QStringLiteral("Opening DFU capable USB device")),
             qPrintable(run.signalLog->errorMessages.first()));
    QCOMPARE(run.count(QStringLiteral("DevConn")), 0);

    if (swapBetweenPolls) {
        QVERIFY(run.units.clearFaults());
        QVERIFY(run.units.setSerial(secondSerial));
    } else {
        QVERIFY(run.units.unplug());
        QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("A0")) >= 2, patience);
        QVERIFY(run.units.plugIn(QStringLiteral("default")));
    }
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 1, patience);
    QVERIFY(run.stop());

    QCOMPARE(run.names().mid(10, 3), (QStringList{"A0", "A1", "NoDevConn"}));
    QCOMPARE(run.signalLog->reportedInfos.first().fwRevision, QStringLiteral("2.3.1"));
}

void TestSmA::downloadsOnRequestAndStartsOver_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("revisionAfter");

    QTest::newRow("the unit comes back with the image's revision and is read afresh")
        << "default" << firmwareOfImage().revision;
    QTest::newRow("a failed download goes unreported; the unchanged unit is read afresh")
        << "download_fails" << "2.3.1";
}

void TestSmA::downloadsOnRequestAndStartsOver()
{
    QFETCH(QString, scenario);
    QFETCH(QString, revisionAfter);

    SmARun run;
    QVERIFY(run.units.select(scenario));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 1, patience);
    run.smA.setRequest(SM_A::RequestDownload);
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 2, patience);
    QVERIFY(run.stop());

    const int download = run.names().indexOf(QStringLiteral("A5"));
    QVERIFY(download > 0);
    QCOMPARE(run.names().at(download - 1), QStringLiteral("A4"));
    QCOMPARE(run.names().mid(download, 6),
             (QStringList{"A5", "FwDownloading", "FwDownloaded", "A0", "A1", "NoDevConn"}));
    QVERIFY(run.names().mid(download).contains(QStringLiteral("readingInfo")));
    QCOMPARE(run.count(QStringLiteral("A5")), 1);
    QCOMPARE(run.units.calls().count(QStringLiteral("download_FW")), 1);
    QCOMPARE(run.smA.request(), SM_A::RequestNone);
    QCOMPARE(run.signalLog->reportedInfos.at(1).fwRevision, revisionAfter);
}

void TestSmA::verifiesOnRequestAndKeepsPolling_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("expectedResult");
    QTest::addColumn<QString>("expectedLogLine");

    QTest::newRow("a unit holding the image matches") << "current" << "FwUploadedMatches" << "Uploaded FW matches";
    QTest::newRow("a unit holding older firmware differs")
        << "default" << "FwUploadedDiffers" << "Uploaded FW does not match";
}

void TestSmA::verifiesOnRequestAndKeepsPolling()
{
    QFETCH(QString, scenario);
    QFETCH(QString, expectedResult);
    QFETCH(QString, expectedLogLine);

    SmARun run;
    QVERIFY(run.units.select(scenario));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 1, patience);
    run.smA.setRequest(SM_A::RequestUploadVerify);
    QTRY_VERIFY_WITH_TIMEOUT(run.count(expectedResult) == 1, patience);
    const int verified = run.names().indexOf(expectedResult);
    QTRY_VERIFY_WITH_TIMEOUT(run.since(verified).count(QStringLiteral("A4")) >= 2, patience);
    QVERIFY(run.stop());

    QCOMPARE(run.names().mid(verified - 3, 7),
             (QStringList{"A4", "A6", "FwUploading", expectedResult, "A2", "scanning", "A4"}));
    QCOMPARE(run.count(QStringLiteral("FwUploadedMatches")) + run.count(QStringLiteral("FwUploadedDiffers")), 1);
    QCOMPARE(run.count(QStringLiteral("readingInfo")), 1);
    QCOMPARE(run.smA.request(), SM_A::RequestNone);
    QCOMPARE(run.log.count(expectedLogLine), 1);
    QCOMPARE(run.units.calls().count(QStringLiteral("upload_FW")), 2);
}

void TestSmA::requestWithoutUnit_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<QString>("expectedResult");

    QTest::newRow("a download request made without a unit is dropped") << int(SM_A::RequestDownload) << QString();
    QTest::newRow("a verification request made without a unit is carried out on the next unit")
        << int(SM_A::RequestUploadVerify) << "FwUploadedDiffers";
}

void TestSmA::requestWithoutUnit()
{
    QFETCH(int, request);
    QFETCH(QString, expectedResult);

    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("none")));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("A0")) >= 2, patience);
    run.smA.setRequest(request);
    const int mark = run.names().size();
    QTRY_VERIFY_WITH_TIMEOUT(run.since(mark).contains(QStringLiteral("A0")), patience);
    QVERIFY(run.units.plugIn(QStringLiteral("default")));
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 1, patience);
    const int connected = run.names().indexOf(QStringLiteral("DevConn"));
    QTRY_VERIFY_WITH_TIMEOUT(run.since(connected).count(QStringLiteral("A4")) >= 3, patience);
    QVERIFY(run.stop());

    QCOMPARE(run.count(QStringLiteral("A5")), 0);
    QCOMPARE(run.units.calls().count(QStringLiteral("download_FW")), 0);
    QCOMPARE(run.smA.request(), SM_A::RequestNone);
    if (expectedResult.isEmpty()) {
        QCOMPARE(run.count(QStringLiteral("A6")), 0);
        QCOMPARE(run.log.count(QStringLiteral("SM_A: Download request dropped, its device is gone")), 1);
    } else {
        QCOMPARE(run.count(QStringLiteral("A6")), 1);
        QCOMPARE(run.count(expectedResult), 1);
    }
}

void TestSmA::downloadRequestDoesNotOutliveItsUnit_data()
{
    QTest::addColumn<bool>("clickAfterTheLoopNoticed");

    QTest::newRow("the unit goes while the loop pauses beside it, just before the click") << false;
    QTest::newRow("the unit has gone and the loop has noticed when the click comes") << true;
}

// A click meant for a unit that has gone must not reach the next unit.
void TestSmA::downloadRequestDoesNotOutliveItsUnit()
{
    QFETCH(bool, clickAfterTheLoopNoticed);

    // A long pause beside the unit, so that the unit goes and the click comes
    // while the loop pauses after its read.
    SmARun run(shortPause, 2000);
    QVERIFY(run.units.select(QStringLiteral("default")));
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("A4")) == 1, patience);
    const int mark = run.names().size();
    QVERIFY(run.units.unplug());
    if (clickAfterTheLoopNoticed)
        QTRY_VERIFY_WITH_TIMEOUT(run.since(mark).contains(QStringLiteral("NoDevConn")), patience);
    run.smA.setRequest(SM_A::RequestDownload);
    QTRY_VERIFY_WITH_TIMEOUT(run.since(mark).contains(QStringLiteral("NoDevConn")), patience);
    QVERIFY(run.units.plugIn(QStringLiteral("default")));
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 2, patience);
    const int connected = run.names().lastIndexOf(QStringLiteral("DevConn"));
    QTRY_VERIFY_WITH_TIMEOUT(run.since(connected).count(QStringLiteral("A4")) >= 2, patience);
    QVERIFY(run.stop());

    QCOMPARE(run.count(QStringLiteral("A5")), 0);
    QCOMPARE(run.count(QStringLiteral("FwDownloading")), 0);
    QCOMPARE(run.units.calls().count(QStringLiteral("download_FW")), 0);
    QCOMPARE(run.smA.request(), SM_A::RequestNone);
}

void TestSmA::stopDuringADownloadFinishesIt()
{
    SmARun run;
    QVERIFY(run.units.select(QStringLiteral("default")));
    SM_A &smA = run.smA;
    // Called in SM_A's thread as the download's child is about to start.
    run.log.setHook([&smA](const QString &text) {
        if (text.startsWith(QLatin1String("Start ")) && text.contains(QLatin1String("download_FW")))
            smA.requestStop();
    });
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(run.count(QStringLiteral("DevConn")) == 1, patience);
    run.smA.setRequest(SM_A::RequestDownload);
    QVERIFY(run.smA.wait(patience));
    QCoreApplication::sendPostedEvents();

    const int download = run.names().indexOf(QStringLiteral("A5"));
    QVERIFY(download > 0);
    QCOMPARE(run.names().mid(download), (QStringList{"A5", "FwDownloading", "FwDownloaded", "A0", "A1"}));
    QCOMPARE(run.units.calls().count(QStringLiteral("download_FW")), 1);
}

void TestSmA::stopEndsAPauseAtOnce_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<unsigned long>("noDevicePause");
    QTest::addColumn<unsigned long>("devicePause");
    QTest::addColumn<QStringList>("namesUntilThePause");

    QTest::newRow("no unit: the pause in A1") << "none" << endlessPause << shortPause
                                              << QStringList{"A0", "A1", "NoDevConn"};
    QTest::newRow("beside a unit: the pause in A4")
        << "default" << shortPause << endlessPause
        << QStringList{"A0", "A1", "NoDevConn", "A2", "scanning", "readingInfo", "NoDevConn", "DevConnInfo",
                       "DevConn", "A4"};
    QTest::newRow("beside an unreadable unit: the wait in A7")
        << "otp_upload_fails" << shortPause << endlessPause
        << QStringList{"A0", "A1", "NoDevConn", "A2", "scanning", "readingInfo", "NoDevConn", "DeviceError", "A7",
                       "scanning"};
}

void TestSmA::stopEndsAPauseAtOnce()
{
    QFETCH(QString, scenario);
    QFETCH(unsigned long, noDevicePause);
    QFETCH(unsigned long, devicePause);
    QFETCH(QStringList, namesUntilThePause);

    SmARun run(noDevicePause, devicePause);
    QVERIFY(run.units.select(scenario));
    run.start();
    QTRY_COMPARE_WITH_TIMEOUT(run.names(), namesUntilThePause, patience);
    // The pause lasts ten minutes; the stop must not wait for it, and nothing
    // may follow it.
    QVERIFY(run.stop());
    QCOMPARE(run.names(), namesUntilThePause);
}

void TestSmA::destructorEndsAPausingThread()
{
    SimulatedUnits units;
    QVERIFY(units.select(QStringLiteral("none")));
    LogCapture log;
    auto smA = std::make_unique<SM_A>(QString(), firmwareImagePath(), units.filePath(QStringLiteral("up.bin")));
    smA->noDevConnSleepMs = endlessPause;
    SmASignalLog signalLog(smA.get());
    smA->start();
    QTRY_VERIFY_WITH_TIMEOUT(signalLog.count(QStringLiteral("NoDevConn")) == 1, patience);

    // Should the destructor not wake the pause, this stops the thread after a
    // while, so that the test fails instead of hanging.
    std::mutex mutex;
    std::condition_variable deleted;
    bool done = false;
    std::atomic<bool> rescued{false};
    SM_A *raw = smA.get();
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!deleted.wait_for(lock, std::chrono::milliseconds(patience), [&] { return done; })) {
            rescued = true;
            raw->requestStop();
        }
    });
    smA.reset();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    deleted.notify_one();
    watchdog.join();

    QVERIFY(!rescued);
    QCOMPARE(log.count(QStringLiteral("SM_A: Waiting in dtor")), 1);
}

QTEST_GUILESS_MAIN(TestSmA)
#include "tst_sm_a.moc"
