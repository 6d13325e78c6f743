// Reading a unit's OTP record and firmware-information block, and judging
// whether the block belongs to the product the OTP names; driven through the
// simulator's prepared scenarios.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "app/workdir.h"
#include "device/device_info.h"
#include "dfu/device_reader.h"
#include "dfu/dfu_runner.h"

#include <QFile>
#include <QtTest>

namespace {

const QString mismatchHead = QStringLiteral("FW assumed invalid because of product type mismatch.\nOTP contains");
const QString arc31Block = QStringLiteral("FW info:\n  Type: ProductInfo: BRVA (4)\n  Name: Arc-31 main firmware\n"
                                          "  Rev.: 2.3.1\n  Details:");
const QString invalidBlock = QStringLiteral("FW info:\n\tInvalid");

bool startedAnUploadOf(const QStringList &log, const QString &operation)
{
    for (const QString &line : log) {
        if (line.startsWith(QStringLiteral("Start ")) && line.contains("\"" + operation + "\""))
            return true;
    }
    return false;
}

} // namespace

class TestDeviceReader : public QObject
{
    Q_OBJECT

private slots:
    void readDeviceInfo_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("deviceType");
        QTest::addColumn<bool>("otpBlank");
        QTest::addColumn<bool>("fwValid");
        QTest::addColumn<QString>("fwRevision");
        QTest::addColumn<QString>("otpProduct"); // named in the mismatch text; empty when the products agree
        QTest::addColumn<QString>("blockStart");

        QTest::newRow("an Arc-31 with its own older firmware agrees and shows the revision")
            << "default" << 0 << true << 4 << false << true << "2.3.1" << QString() << arc31Block;
        QTest::newRow("an Arc-30 with Arc-30 firmware agrees with itself")
            << "other_product" << 0 << true << 3 << false << true << "1.8.2" << QString()
            << "FW info:\n  Type: ProductInfo: HLCN (3)\n  Name: Arc-30 main firmware\n  Rev.: 1.8.2";
        QTest::newRow("an OTP subtype 01 FF FF does not own a block with subtype FF FF FF")
            << "subtype_mismatch" << 0 << true << 4 << false << false << QString()
            << "ProductInfo: BRVA (4) [04 01 ff ff]" << arc31Block;
        QTest::newRow("a blank OTP is judged against the block like any other")
            << "blank_otp" << 0 << true << 0 << true << false << QString() << "ProductInfo: invalid (0)"
            << arc31Block;
        QTest::newRow("a blank OTP and an erased flash agree, with no revision")
            << "blank_device" << 0 << true << 0 << true << false << QString() << QString() << invalidBlock;
        QTest::newRow("a blank OTP and a failed block upload agree, with no revision")
            << "blank_otp+flash_upload_fails" << 0 << true << 0 << true << false << QString() << QString()
            << invalidBlock;
        QTest::newRow("an OTP type without a product is forced to 0 and owns no block")
            << "unknown_type" << 0 << true << 0 << false << false << QString() << "ProductInfo: invalid (0)"
            << arc31Block;
        QTest::newRow("a failed block upload leaves the default block, which an Arc-31 does not own")
            << "flash_upload_fails" << 0 << true << 4 << false << false << QString() << "ProductInfo: BRVA (4)"
            << invalidBlock;
        QTest::newRow("a failed OTP upload is a device error and reads nothing more")
            << "otp_upload_fails" << 74 << false << 0 << false << false << QString() << QString() << QString();
        QTest::newRow("without a unit the OTP upload fails")
            << "none" << 74 << false << 0 << false << false << QString() << QString() << QString();
        QTest::newRow("with two units dfu-util refuses the OTP upload")
            << "two" << 74 << false << 0 << false << false << QString() << QString() << QString();
    }
    void readDeviceInfo()
    {
        QFETCH(QString, scenario);
        QFETCH(int, exitCode);
        QFETCH(bool, valid);
        QFETCH(int, deviceType);
        QFETCH(bool, otpBlank);
        QFETCH(bool, fwValid);
        QFETCH(QString, fwRevision);
        QFETCH(QString, otpProduct);
        QFETCH(QString, blockStart);
        SimulatorFixture simulator;
        QVERIFY(simulator.prepare(scenario));

        LogCapture log;
        DeviceInfo info;
        const DfuResult result = ::readDeviceInfo(info);
        const QStringList lines = log.texts();

        QCOMPARE(result.exitCode, exitCode);
        QCOMPARE(info.valid, valid);
        QCOMPARE(int(info.deviceType), deviceType);
        QCOMPARE(info.otp.blank, otpBlank);
        QCOMPARE(info.fw.valid, fwValid);
        QCOMPARE(info.fwRevision, fwRevision);

        if (exitCode != 0) {
            QVERIFY(result.output.startsWith(QStringLiteral("dfu-util 0.9\n")));
            QVERIFY(!startedAnUploadOf(lines, "upload_FW"));
            QVERIFY(lines.last().startsWith(QStringLiteral("Exit with 74 from")));
            return;
        }
        QVERIFY(startedAnUploadOf(lines, "upload_FW"));
        QVERIFY(lines.contains(quoted(info.otp.toString())));

        const int mismatchAt = result.output.indexOf(mismatchHead);
        const QString uploadText = mismatchAt < 0 ? result.output : result.output.left(mismatchAt);
        QVERIFY(uploadText.endsWith(QStringLiteral("Upload done.\n")));
        QCOMPARE(lines.contains(uploadText + " OTP is blank.\n"), otpBlank);

        if (otpProduct.isEmpty()) {
            QCOMPARE(mismatchAt, -1);
            QCOMPARE(lines.mid(lines.size() - 2), QStringList({info.toString(), info.fw.toString()}));
            QVERIFY(info.fw.toString().startsWith(blockStart));
        } else {
            const QString judgement = mismatchHead + otpProduct + "\nwhereas FW contains\n" + blockStart;
            QCOMPARE(result.output.mid(mismatchAt, judgement.size()), judgement);
            QCOMPARE(lines.last(), result.output);
        }
    }

    void readFwInfoFromDeviceReadsNoStaleFile_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::newRow("an upload that ends with 0 but writes nothing gives the default block") << 0;
        QTest::newRow("a failed upload gives the default block") << 1;
    }
    void readFwInfoFromDeviceReadsNoStaleFile()
    {
        QFETCH(int, exitCode);
        const CommandTableGuard guard;
        StandInPrograms programs;
        dfuCommandEntry(DfuCommand::UploadFwInfo).program =
            programs.write("silent", "exit " + QByteArray::number(exitCode));
        const QString stale = workFilePath(WorkFile::UploadedFwInfo);
        QVERIFY(writeFileBytes(stale, readFileBytes(embeddedImagePath()).left(2048)));

        const FwInfo info = readFwInfoFromDevice();
        QVERIFY(!info.valid);
        QCOMPARE(info.revision, QString());
        QCOMPARE(int(info.product.type), 0);
        QVERIFY(!QFile::exists(stale));
    }

    void aStaleOtpDumpIsNotReadAgain()
    {
        const CommandTableGuard guard;
        StandInPrograms programs;
        dfuCommandEntry(DfuCommand::UploadOtp).program = programs.write("otp", "printf 'Upload done.\\n'");
        dfuCommandEntry(DfuCommand::UploadFwInfo).program = programs.write("fwinfo", "exit 0");
        QByteArray staleOtp(512, '\xFF');
        staleOtp.replace(0, 8, QByteArray::fromHex("1147230104ffffff"));
        QVERIFY(writeFileBytes(workFilePath(WorkFile::UploadedOtp), staleOtp));

        DeviceInfo info;
        QCOMPARE(::readDeviceInfo(info).exitCode, 0);
        QVERIFY(info.valid);
        QVERIFY(!info.otp.valid);
        QVERIFY(!info.otp.blank);
        QCOMPARE(int(info.deviceType), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeviceReader)
#include "tst_device_reader.moc"
