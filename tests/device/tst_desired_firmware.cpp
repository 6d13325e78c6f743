#include "app/workdir.h"
#include "device/device_info.h"
#include "device_test_support.h"

#include <QFile>
#include <QtTest>

// The desired block is cached process-wide: this test owns its first read.
class TestDesiredFirmware : public QObject {
    Q_OBJECT

private slots:
    void readsExtractedImageOnceAndCachesIt();
};

void TestDesiredFirmware::readsExtractedImageOnceAndCachesIt()
{
    const QString path = workFilePath(firmwareBinFileName);
    QVERIFY(path.startsWith(workingDirectoryPath() + QLatin1Char('/')));
    removeFileIfExists(path);
    QVERIFY(QFile::copy(QStringLiteral(UPDATER_FIRMWARE_BIN_FILE), path));
    const FwInfo expected = readFwInfoFile(QStringLiteral(UPDATER_FIRMWARE_BIN_FILE));
    QVERIFY(expected.valid);

    LogCapture capture;
    const FwInfo &first = desiredFwInfo();
    QCOMPARE(capture.lines(), QStringList{QStringLiteral("debug: Reading desired FW_Info from  \"%1\"").arg(path)});
    QVERIFY(first.valid);
    QCOMPARE(int(first.product.type), 4);
    QCOMPARE(first.toString(), expected.toString());

    // A changed file is not read again: the first result stays.
    QVERIFY(QFile::remove(path));
    QFile blank(path);
    QVERIFY(blank.open(QIODevice::WriteOnly));
    blank.write(QByteArray(2048, '\xFF'));
    blank.close();

    capture.clear();
    const FwInfo &second = desiredFwInfo();
    QCOMPARE(&second, &first);
    QVERIFY(second.valid);
    QCOMPARE(second.toString(), expected.toString());
    QCOMPARE(capture.lines(), QStringList());

    const DesiredFirmware desired = desiredFirmwareFrom(second);
    QCOMPARE(desired.name, expected.name);
    QCOMPARE(int(desired.type), 4);
    QCOMPARE(desired.revision, expected.revision);
}

QTEST_GUILESS_MAIN(TestDesiredFirmware)
#include "tst_desired_firmware.moc"
