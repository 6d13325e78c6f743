// A whole upgrade through the device-access functions against the simulator:
// scan, read, download, the unit's return, a fresh read and the verification.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "app/workdir.h"
#include "device/device_info.h"
#include "device/fw_info.h"
#include "dfu/device_reader.h"
#include "dfu/dfu_runner.h"
#include "dfu/dfu_scan.h"
#include "dfu/firmware_transfer.h"

#include <QtTest>

class TestUpgradeEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(extractWorkFiles({WorkFile::FirmwareBin}, true));
    }

    void upgrade_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<bool>("verified");
        QTest::newRow("the default unit takes the image and verifies") << "default" << true;
        QTest::newRow("a unit whose flash keeps one wrong byte shows the revision but fails verification")
            << "verify_fails" << false;
    }
    void upgrade()
    {
        QFETCH(QString, scenario);
        QFETCH(bool, verified);
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare(scenario));
        const QString binPath = workFilePath(WorkFile::FirmwareBin);
        const QString uploadPath = workFilePath(WorkFile::UploadedFw);
        const FwInfo desired = readFwInfoFile(binPath);
        QVERIFY(desired.valid);
        QCOMPARE(int(desired.product.type), 4);

        LogCapture log;
        const DfuScanResult first = scanDfuDevices();
        QCOMPARE(first.code, 0);
        QCOMPARE(first.serials.size(), 1);

        DeviceInfo before;
        QCOMPARE(readDeviceInfo(before).exitCode, 0);
        QVERIFY(before.valid);
        QCOMPARE(int(before.deviceType), int(desired.product.type));
        QCOMPARE(before.fwRevision, QStringLiteral("2.3.1"));
        QVERIFY(!before.hasSameRevision(desired.revision));

        QCOMPARE(downloadFirmware(binPath), 0);
        QTRY_VERIFY_WITH_TIMEOUT(scanDfuDevices().code == 0, 30000);
        QCOMPARE(scanDfuDevices().serials, first.serials);

        DeviceInfo after;
        QCOMPARE(readDeviceInfo(after).exitCode, 0);
        QCOMPARE(after.fwRevision, desired.revision);
        QVERIFY(after.hasSameRevision(desired.revision));
        QVERIFY(!after.hasEmptyOtp());

        QCOMPARE(uploadAndVerify(binPath, uploadPath), verified);
        QCOMPARE(fileSize(uploadPath), fileSize(binPath));
        QCOMPARE(log.texts().filter(QStringLiteral("Exit with")), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestUpgradeEndToEnd)
#include "tst_upgrade_end_to_end.moc"
