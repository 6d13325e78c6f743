// Download of the image and its verification by read-back, against the simulator.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "dfu/dfu_runner.h"
#include "dfu/firmware_transfer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int flashSize = 1048576;

QStringList startLines(const LogCapture &log)
{
    return log.texts().filter(QRegularExpression(QStringLiteral("^Start ")));
}

} // namespace

class TestFirmwareTransfer : public QObject
{
    Q_OBJECT

private slots:
    void fileSize_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("size");
        QTest::newRow("a missing file has size -1") << QByteArray() << false << -1;
        QTest::newRow("an empty file has size 0") << QByteArray() << true << 0;
        QTest::newRow("a file of five bytes has size 5") << QByteArray("\0\1\2\3\4", 5) << true << 5;
    }
    void fileSize()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString path = dir.filePath("some file.bin");
        if (exists)
            QVERIFY(writeFileBytes(path, content));
        QCOMPARE(::fileSize(path), size);
    }

    void filesEqual_data()
    {
        QByteArray image(4096, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7 + 3);
        auto flipped = [&image](int at) {
            QByteArray copy = image;
            copy[at] = char(~copy[at]);
            return copy;
        };
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("aExists");
        QTest::addColumn<bool>("bExists");
        QTest::addColumn<bool>("equal");
        QTest::newRow("identical contents are equal") << image << image << true << true << true;
        QTest::newRow("the first byte differing makes them differ") << image << flipped(0) << true << true << false;
        QTest::newRow("a byte in the middle differing makes them differ")
            << image << flipped(2049) << true << true << false;
        QTest::newRow("the last byte differing makes them differ") << image << flipped(4095) << true << true << false;
        QTest::newRow("a shorter second file differs") << image << image.left(4095) << true << true << false;
        QTest::newRow("a longer second file differs") << image << image + 'x' << true << true << false;
        QTest::newRow("two empty files are not equal") << QByteArray() << QByteArray() << true << true << false;
        QTest::newRow("a missing first file is not equal") << image << image << false << true << false;
        QTest::newRow("a missing second file is not equal") << image << image << true << false << false;
    }
    void filesEqual()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, aExists);
        QFETCH(bool, bExists);
        QFETCH(bool, equal);
        QTemporaryDir dir;
        if (aExists)
            QVERIFY(writeFileBytes(dir.filePath("a"), a));
        if (bExists)
            QVERIFY(writeFileBytes(dir.filePath("b"), b));
        QCOMPARE(::filesEqual(dir.filePath("a"), dir.filePath("b")), equal);
    }

    void downloadFirmware_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("a download to the unit ends with 0") << "default" << 0;
        QTest::newRow("a failing download returns dfu-util's code") << "download_fails" << 74;
        QTest::newRow("a download without a unit returns dfu-util's code") << "none" << 74;
    }
    void downloadFirmware()
    {
        QFETCH(QString, scenario);
        QFETCH(int, exitCode);
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare(scenario));

        LogCapture log;
        QCOMPARE(::downloadFirmware(embeddedImagePath()), exitCode);
        const QStringList started = startLines(log);
        QCOMPARE(started.size(), 1);
        QVERIFY2(started.first().endsWith(QStringLiteral(
                     "(\"--dfu-util-command\", \"download_FW\", \"--fast-progress\", \"-d\", \"0483\", \"-a\", "
                     "\"0\", \"-s\", \"0x08000000:leave\", \"-D\", \"")
                                          + embeddedImagePath() + "\")"),
                 qPrintable(started.first()));
    }

    void uploadFlashReplacesTheTarget_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("written");
        QTest::newRow("an upload writes exactly the requested bytes over a stale file") << "default" << 0 << 4096;
        // dfu-util creates the target before the transfer fails.
        QTest::newRow("a failed upload leaves no stale content behind") << "flash_upload_fails" << 74 << 0;
    }
    void uploadFlashReplacesTheTarget()
    {
        QFETCH(QString, scenario);
        QFETCH(int, exitCode);
        QFETCH(int, written);
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare(scenario));
        const QString target = simulator.scratchPath("uploaded FW.bin");
        QVERIFY(writeFileBytes(target, QByteArray(10000, 'x')));

        LogCapture log;
        QCOMPARE(uploadFlash(target, 4096), exitCode);
        QCOMPARE(::fileSize(target), written);
        QVERIFY(startLines(log).first().endsWith(
            "\"-d\", \"0483\", \"-a\", \"0\", \"-s\", \"0x08000000:4096\", \"-U\", \"" + target + "\")"));
    }

    void uploadAndVerify_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("reference"); // image, flipped, oversized, empty or missing
        QTest::addColumn<bool>("verified");
        QTest::addColumn<int>("uploaded"); // size of the read-back, -1 when no upload ran
        QTest::newRow("a unit holding the image verifies") << "current" << "image" << true << 788000;
        QTest::newRow("a unit holding an older firmware does not") << "default" << "image" << false << 788000;
        QTest::newRow("a reference differing in one byte does not verify")
            << "current" << "flipped" << false << 788000;
        QTest::newRow("a read-back cut short at the end of the flash does not verify")
            << "current" << "oversized" << false << flashSize;
        QTest::newRow("a failed read-back is not compared") << "flash_upload_fails" << "image" << false << 0;
        QTest::newRow("an empty reference runs no command") << "current" << "empty" << false << -1;
        QTest::newRow("a missing reference runs no command") << "current" << "missing" << false << -1;
    }
    void uploadAndVerify()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, reference);
        QFETCH(bool, verified);
        QFETCH(int, uploaded);
        SimulatorFixture simulator;
        qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", embeddedImagePath().toLocal8Bit());
        QVERIFY(simulator.prepare(scenario));

        const QByteArray image = readFileBytes(embeddedImagePath());
        QCOMPARE(image.size(), 788000);
        QByteArray referenceBytes = image;
        if (reference == "flipped")
            referenceBytes[400000] = char(~referenceBytes[400000]);
        else if (reference == "oversized")
            referenceBytes += QByteArray(flashSize - image.size() + 1, '\xFF');
        else if (reference == "empty")
            referenceBytes.clear();
        const QString referencePath = simulator.scratchPath("firmware.bin");
        if (reference != "missing")
            QVERIFY(writeFileBytes(referencePath, referenceBytes));
        const QString uploadPath = simulator.scratchPath("uploaded_FW.bin");

        LogCapture log;
        QCOMPARE(::uploadAndVerify(referencePath, uploadPath), verified);
        QCOMPARE(::fileSize(uploadPath), uploaded);
        const QStringList started = startLines(log);
        if (reference == "empty" || reference == "missing") {
            QCOMPARE(started, QStringList());
            return;
        }
        QCOMPARE(started.size(), 1);
        QVERIFY(started.first().contains(
            QStringLiteral("\"-s\", \"0x08000000:%1\", \"-U\", \"%2\")").arg(referenceBytes.size()).arg(uploadPath)));
    }
};

QTEST_GUILESS_MAIN(TestFirmwareTransfer)
#include "tst_firmware_transfer.moc"
