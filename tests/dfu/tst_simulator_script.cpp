// The simulator script, started with the tool's own simulator command lines:
// every prepared scenario, the unit's absence after a download and its state.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "device/fw_info.h"
#include "device/otp_info.h"
#include "dfu/dfu_runner.h"
#include "dfu/dfu_scan.h"
#include "dfu/firmware_transfer.h"
#include "dfu/simulator.h"

#include <QDir>
#include <QtTest>

Q_DECLARE_METATYPE(DfuDeviceStatus)

namespace {

const QString firstSerial = QStringLiteral("336F38723430");
const QString secondSerial = QStringLiteral("2057356B4E31");

DfuResult upload(DfuCommand command, const QString &target)
{
    return runDfuCommand(command, {target});
}

DfuResult uploadFlashBytes(int length, const QString &target)
{
    return runDfuCommand(DfuCommand::UploadFw,
                         {"-s", QStringLiteral("0x08000000:%1").arg(length), "-U", target});
}

} // namespace

class TestSimulatorScript : public QObject
{
    Q_OBJECT

private slots:
    void versionPrintsDfuUtil09sText()
    {
        SimulatorFixture simulator;
        const DfuResult result = runDfuCommand(DfuCommand::Version);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.output.toUtf8(), referenceVersionText());
        QVERIFY(testDfuUtilExecution());
    }

    void listShowsTheScenariosUnits_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<DfuDeviceStatus>("status");
        QTest::addColumn<QStringList>("serials");
        const QStringList one{firstSerial};
        QTest::newRow("default: one unit") << "default" << one_dfu_device << one;
        QTest::newRow("none: no unit") << "none" << no_dfu_device << QStringList();
        QTest::newRow("two: two units with two serials")
            << "two" << multiple_dfu_devices << QStringList{firstSerial, secondSerial};
        QTest::newRow("other_product: one unit") << "other_product" << one_dfu_device << one;
        QTest::newRow("blank_otp: one unit") << "blank_otp" << one_dfu_device << one;
        QTest::newRow("blank_device: one unit") << "blank_device" << one_dfu_device << one;
        QTest::newRow("unknown_type: one unit") << "unknown_type" << one_dfu_device << one;
        QTest::newRow("subtype_mismatch: one unit") << "subtype_mismatch" << one_dfu_device << one;
        QTest::newRow("otp_upload_fails: one unit") << "otp_upload_fails" << one_dfu_device << one;
        QTest::newRow("flash_upload_fails: one unit") << "flash_upload_fails" << one_dfu_device << one;
        QTest::newRow("download_fails: one unit") << "download_fails" << one_dfu_device << one;
        QTest::newRow("verify_fails: one unit") << "verify_fails" << one_dfu_device << one;
        QTest::newRow("current: one unit") << "current" << one_dfu_device << one;
    }
    void listShowsTheScenariosUnits()
    {
        QFETCH(QString, scenario);
        QFETCH(DfuDeviceStatus, status);
        QFETCH(QStringList, serials);
        SimulatorFixture simulator;
        qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", embeddedImagePath().toLocal8Bit());
        QVERIFY(simulator.prepare(scenario));

        const DfuResult list = runDfuCommand(DfuCommand::List);
        QCOMPARE(list.exitCode, 0);
        QVERIFY(list.output.startsWith(QString::fromUtf8(referenceVersionText())));
        const DfuListParse parse = parseDfuList(list.output);
        QCOMPARE(dfuDeviceStatusName(parse.status), dfuDeviceStatusName(status));
        QCOMPARE(parse.serials, serials);
    }

    void listLinesLookLikeDfuUtils()
    {
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("default"));
        const QString prefix =
            QStringLiteral("Found DFU: [0483:df11] ver=2200, devnum=5, cfg=1, intf=0, path=\"1-1\", alt=");
        const QString serial = QStringLiteral(", serial=\"336F38723430\"");
        QCOMPARE(runDfuCommand(DfuCommand::List).output,
                 QString::fromUtf8(referenceVersionText()) + prefix + "3, name=\"@Device Feature/0xFFFF0000/01*004 e\""
                     + serial + "\n" + prefix + "2, name=\"@OTP Memory /0x1FFF7800/01*512 e,01*016 e\"" + serial
                     + "\n" + prefix + "1, name=\"@Option Bytes  /0x1FFFC000/01*016 e\"" + serial + "\n" + prefix
                     + "0, name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\"" + serial + "\n");
        QVERIFY(simulator.prepare("none"));
        QCOMPARE(runDfuCommand(DfuCommand::List).output.toUtf8(), referenceVersionText());
    }

    void uploadsGiveTheScenariosContents_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("otpExit");
        QTest::addColumn<QByteArray>("otpStart"); // hex of the first eight OTP bytes
        QTest::addColumn<int>("blockExit");
        QTest::addColumn<bool>("blockValid");
        QTest::addColumn<QString>("blockProduct");
        QTest::addColumn<QString>("blockRevision");

        const QString arc31 = QStringLiteral("ProductInfo: BRVA (4)");
        QTest::newRow("default: an Arc-31 with firmware 2.3.1")
            << "default" << 0 << QByteArray("1147230104ffffff") << 0 << true << arc31 << "2.3.1";
        QTest::newRow("current: an Arc-31 holding the embedded image")
            << "current" << 0 << QByteArray("1147230104ffffff") << 0 << true << arc31 << "2.4.0";
        QTest::newRow("other_product: an Arc-30 with its own firmware")
            << "other_product" << 0 << QByteArray("1147230103ffffff") << 0 << true << "ProductInfo: HLCN (3)"
            << "1.8.2";
        QTest::newRow("blank_otp: an OTP never programmed")
            << "blank_otp" << 0 << QByteArray("ffffffffffffffff") << 0 << true << arc31 << "2.3.1";
        QTest::newRow("blank_device: OTP and flash erased")
            << "blank_device" << 0 << QByteArray("ffffffffffffffff") << 0 << false << "ProductInfo: invalid (0)"
            << "";
        QTest::newRow("unknown_type: OTP type byte 7")
            << "unknown_type" << 0 << QByteArray("1147230107ffffff") << 0 << true << arc31 << "2.3.1";
        QTest::newRow("subtype_mismatch: OTP subtype 01 FF FF")
            << "subtype_mismatch" << 0 << QByteArray("114723010401ffff") << 0 << true << arc31 << "2.3.1";
        QTest::newRow("otp_upload_fails: only the OTP upload fails")
            << "otp_upload_fails" << 74 << QByteArray() << 0 << true << arc31 << "2.3.1";
        QTest::newRow("flash_upload_fails: only the flash upload fails")
            << "flash_upload_fails" << 0 << QByteArray("1147230104ffffff") << 74 << false << QString() << "";
        QTest::newRow("download_fails: uploads work") << "download_fails" << 0 << QByteArray("1147230104ffffff") << 0
                                                      << true << arc31 << "2.3.1";
        QTest::newRow("verify_fails: uploads work")
            << "verify_fails" << 0 << QByteArray("1147230104ffffff") << 0 << true << arc31 << "2.3.1";
        QTest::newRow("none: nothing to upload from")
            << "none" << 74 << QByteArray() << 74 << false << QString() << "";
        QTest::newRow("two: dfu-util refuses to choose")
            << "two" << 74 << QByteArray() << 74 << false << QString() << "";
    }
    void uploadsGiveTheScenariosContents()
    {
        QFETCH(QString, scenario);
        QFETCH(int, otpExit);
        QFETCH(QByteArray, otpStart);
        QFETCH(int, blockExit);
        QFETCH(bool, blockValid);
        QFETCH(QString, blockProduct);
        QFETCH(QString, blockRevision);
        SimulatorFixture simulator;
        qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", embeddedImagePath().toLocal8Bit());
        QVERIFY(simulator.prepare(scenario));
        const QString otpPath = simulator.scratchPath("uploaded OTP.bin");
        const QString blockPath = simulator.scratchPath("uploaded FW info.bin");

        const DfuResult otp = upload(DfuCommand::UploadOtp, otpPath);
        QCOMPARE(otp.exitCode, otpExit);
        if (otpExit == 0) {
            const QByteArray dump = readFileBytes(otpPath);
            QCOMPARE(dump.size(), 512);
            QCOMPARE(dump.left(8).toHex(), otpStart);
            QCOMPARE(dump.mid(16), QByteArray(496, '\xFF'));
            QVERIFY(otp.output.endsWith(QStringLiteral("Upload\t[=========================] 100%          512 "
                                                       "bytes\nUpload done.\n")));
        }

        const DfuResult block = upload(DfuCommand::UploadFwInfo, blockPath);
        QCOMPARE(block.exitCode, blockExit);
        if (blockExit == 0) {
            QCOMPARE(::fileSize(blockPath), 2048);
            const FwInfo info = readFwInfoFile(blockPath);
            QCOMPARE(info.valid, blockValid);
            QCOMPARE(info.product.toString(), blockProduct);
            QCOMPARE(info.revision, blockRevision);
        }
    }

    void uploadsWriteExactlyTheRequestedBytes_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("written");
        QTest::newRow("one byte") << 1 << 1;
        QTest::newRow("the length of the embedded image") << 788000 << 788000;
        QTest::newRow("the whole flash") << 1048576 << 1048576;
        QTest::newRow("beyond the flash the read-back ends with the flash") << 1048577 << 1048576;
    }
    void uploadsWriteExactlyTheRequestedBytes()
    {
        QFETCH(int, requested);
        QFETCH(int, written);
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("default"));
        const QString target = simulator.scratchPath("read back.bin");
        QVERIFY(writeFileBytes(target, QByteArray(2000000, 'x')));

        const DfuResult result = uploadFlashBytes(requested, target);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(::fileSize(target), written);
        QCOMPARE(result.output.contains(QStringLiteral("Limiting upload to end of memory segment")),
                 written < requested);
        QVERIFY(result.output.endsWith(QStringLiteral("] 100% %1 bytes\nUpload done.\n").arg(written, 12)));
    }

    void aDownloadedUnitIsAwayUntilItComesBack()
    {
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("default"));
        qputenv("DFU_SIMULATOR_LEAVE_MS", "600000");
        const DfuResult download = runDfuCommand(DfuCommand::DownloadFw, {embeddedImagePath()});
        qunsetenv("DFU_SIMULATOR_LEAVE_MS");
        QCOMPARE(download.exitCode, 0);
        QVERIFY(download.output.contains(QStringLiteral("File downloaded successfully\nSubmitting leave request...\n")));

        QCOMPARE(parseDfuList(runDfuCommand(DfuCommand::List).output).status, no_dfu_device);
        QCOMPARE(upload(DfuCommand::UploadOtp, simulator.scratchPath("otp.bin")).exitCode, 74);
        QCOMPARE(runDfuCommand(DfuCommand::DownloadFw, {embeddedImagePath()}).exitCode, 74);
    }

    void aDownloadedUnitReturnsWithTheNewImage()
    {
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("default"));
        QCOMPARE(runDfuCommand(DfuCommand::DownloadFw, {embeddedImagePath()}).exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(parseDfuList(runDfuCommand(DfuCommand::List).output).status == one_dfu_device,
                                 30000);
        QCOMPARE(parseDfuList(runDfuCommand(DfuCommand::List).output).serials, QStringList{firstSerial});

        const QString readBack = simulator.scratchPath("read back.bin");
        QCOMPARE(uploadFlashBytes(788000, readBack).exitCode, 0);
        QCOMPARE(readFileBytes(readBack), readFileBytes(embeddedImagePath()));
    }

    void aFailingDownloadLeavesTheFlashAndTheUnit()
    {
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("download_fails"));
        const QString before = simulator.scratchPath("before.bin");
        const QString after = simulator.scratchPath("after.bin");
        QCOMPARE(uploadFlashBytes(788000, before).exitCode, 0);

        const DfuResult download = runDfuCommand(DfuCommand::DownloadFw, {embeddedImagePath()});
        QCOMPARE(download.exitCode, 74);
        QVERIFY(!download.output.contains(QStringLiteral("leave")));
        // No leave request: the unit is still there, with the old flash.
        QCOMPARE(parseDfuList(runDfuCommand(DfuCommand::List).output).status, one_dfu_device);
        QCOMPARE(uploadFlashBytes(788000, after).exitCode, 0);
        QVERIFY(filesEqual(before, after));
        QVERIFY(readFileBytes(after) != readFileBytes(embeddedImagePath()));
    }

    void verifyFailsChangesOneByteOfTheImage()
    {
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("verify_fails"));
        QCOMPARE(runDfuCommand(DfuCommand::DownloadFw, {embeddedImagePath()}).exitCode, 0);
        QTRY_VERIFY_WITH_TIMEOUT(parseDfuList(runDfuCommand(DfuCommand::List).output).status == one_dfu_device,
                                 30000);
        const QString block = simulator.scratchPath("block.bin");
        QCOMPARE(upload(DfuCommand::UploadFwInfo, block).exitCode, 0);
        QCOMPARE(readFwInfoFile(block).revision, QStringLiteral("2.4.0"));

        const QString readBack = simulator.scratchPath("read back.bin");
        QCOMPARE(uploadFlashBytes(788000, readBack).exitCode, 0);
        const QByteArray flash = readFileBytes(readBack);
        const QByteArray image = readFileBytes(embeddedImagePath());
        QCOMPARE(flash.size(), image.size());
        QList<int> differing;
        for (int i = 0; i < image.size(); ++i) {
            if (flash[i] != image[i])
                differing << i;
        }
        QCOMPARE(differing, QList<int>{787999});
    }

    void badScenariosAreRefusedAndKeepTheState_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QByteArray>("image");
        QTest::newRow("an unknown name") << "factory_reset" << QByteArray("unused");
        QTest::newRow("an unknown failure added to a scenario") << "default+flat_battery" << QByteArray("unused");
        QTest::newRow("current without an image") << "current" << QByteArray();
        QTest::newRow("current with a missing image") << "current" << QByteArray("/nonexistent/firmware.bin");
    }
    void badScenariosAreRefusedAndKeepTheState()
    {
        QFETCH(QString, scenario);
        QFETCH(QByteArray, image);
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("two"));
        if (!image.isEmpty())
            qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", image);

        LogCapture log;
        QCOMPARE(setupSimulationConfig(scenario), 2);
        QVERIFY(log.texts().contains("Failed to setup simulation config  \"" + scenario + "\" with code 2"));
        QCOMPARE(parseDfuList(runDfuCommand(DfuCommand::List).output).serials,
                 QStringList({firstSerial, secondSerial}));
    }

    void aNewStateDirectoryStartsInTheDefaultScenario()
    {
        SimulatorFixture simulator;
        const QString fresh = simulator.stateDirectory() + "/not yet made/state";
        qputenv("DFU_SIMULATOR_STATE_DIR", fresh.toLocal8Bit());
        QVERIFY(!QDir(fresh).exists());

        QCOMPARE(scanDfuDevices().serials, QStringList{firstSerial});
        const QString block = simulator.scratchPath("block.bin");
        QCOMPARE(upload(DfuCommand::UploadFwInfo, block).exitCode, 0);
        QCOMPARE(readFwInfoFile(block).revision, QStringLiteral("2.3.1"));
        QVERIFY(QDir(fresh).exists());
    }

    void scenariosCombineWithFailures()
    {
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare("other_product+otp_upload_fails+verify_fails"));
        QCOMPARE(upload(DfuCommand::UploadOtp, simulator.scratchPath("otp.bin")).exitCode, 74);
        const QString block = simulator.scratchPath("block.bin");
        QCOMPARE(upload(DfuCommand::UploadFwInfo, block).exitCode, 0);
        QCOMPARE(readFwInfoFile(block).revision, QStringLiteral("1.8.2"));
    }

    void withoutFastProgressTheScriptAnswersTheSame()
    {
        SimulatorFixture simulator(false);
        QCOMPARE(dfuCommandEntry(DfuCommand::UploadOtp).arguments.mid(0, 3),
                 QStringList({"--dfu-util-command", "upload_OTP", "-d"}));
        QVERIFY(simulator.prepare("subtype_mismatch"));
        QCOMPARE(scanDfuDevices().serials, QStringList{firstSerial});
        const QString otpPath = simulator.scratchPath("otp.bin");
        QCOMPARE(upload(DfuCommand::UploadOtp, otpPath).exitCode, 0);
        QCOMPARE(readFileBytes(otpPath).left(8).toHex(), QByteArray("114723010401ffff"));
    }
};

QTEST_GUILESS_MAIN(TestSimulatorScript)
#include "tst_simulator_script.moc"
