#include "device/device_info.h"
#include "device_test_support.h"

#include <QDebug>
#include <QtTest>

Q_DECLARE_METATYPE(DeviceInfo)

namespace {

DeviceInfo readDevice(quint8 type, const QString &revision)
{
    DeviceInfo info;
    info.valid = true;
    info.otp = parseOtpInfo(otpDump({{0, otpRecord(type)}}));
    info.deviceType = info.otp.product.type;
    info.fw = parseFwInfo(fwBlock(0xFFFFFF00 | type, "Arc-31 main firmware", revision.toUtf8()));
    info.fwRevision = revision;
    return info;
}

} // namespace

class TestDeviceInfo : public QObject {
    Q_OBJECT

private slots:
    void textForm_data();
    void textForm();
    void debugStreamWritesTextFormUnquoted();

    void validType_data();
    void validType();

    void emptyOtp_data();
    void emptyOtp();

    void sameRevision_data();
    void sameRevision();

    void desiredFirmwareCopiesNameTypeAndRevision();
};

void TestDeviceInfo::textForm_data()
{
    QTest::addColumn<DeviceInfo>("info");
    QTest::addColumn<QString>("text");

    QTest::newRow("the default prints Invalid on its second line") << DeviceInfo() << "DeviceInfo:\nInvalid";
    QTest::newRow("a read Arc-31 prints type and revision")
        << readDevice(4, "2.4.0") << "DeviceInfo:\n\tDevice type:\t4\n\tFW_revision:\t2.4.0\n";
    DeviceInfo blank;
    blank.valid = true;
    blank.otp = parseOtpInfo(QByteArray(512, '\xFF'));
    QTest::newRow("a blank device prints type 0 and an empty revision")
        << blank << "DeviceInfo:\n\tDevice type:\t0\n\tFW_revision:\t\n";
    QTest::newRow("an undefined type prints 255")
        << readDevice(255, "") << "DeviceInfo:\n\tDevice type:\t255\n\tFW_revision:\t\n";
}

void TestDeviceInfo::textForm()
{
    QFETCH(DeviceInfo, info);
    QFETCH(QString, text);
    QCOMPARE(info.toString(), text);
}

void TestDeviceInfo::debugStreamWritesTextFormUnquoted()
{
    LogCapture capture;
    qDebug() << readDevice(4, "2.4.0") << DeviceInfo();
    QCOMPARE(capture.lines(),
             QStringList{"debug: DeviceInfo:\n\tDevice type:\t4\n\tFW_revision:\t2.4.0\n DeviceInfo:\nInvalid"});
}

void TestDeviceInfo::validType_data()
{
    QTest::addColumn<DeviceInfo>("info");
    QTest::addColumn<int>("desiredType");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("an Arc-31 is of the desired type 4")
        << readDevice(4, "2.4.0") << 4 << true << QByteArray("device_has_valid_type(4): valid 1, device_type: 4\n");
    QTest::newRow("an Arc-30 with type 3 is not of type 4")
        << readDevice(3, "1.0") << 4 << false << QByteArray("device_has_valid_type(4): valid 1, device_type: 3\n");
    QTest::newRow("a device not read is of no type")
        << DeviceInfo() << 4 << false << QByteArray("device_has_valid_type(4): valid 0, device_type: 0\n");
    DeviceInfo unread = readDevice(4, "2.4.0");
    unread.valid = false;
    QTest::newRow("an unread device is not of its own type")
        << unread << 4 << false << QByteArray("device_has_valid_type(4): valid 0, device_type: 4\n");
    QTest::newRow("desired type 140 prints three digits")
        << readDevice(140, "x") << 140 << true << QByteArray("device_has_valid_type(140): valid 1, device_type: 140\n");
}

void TestDeviceInfo::validType()
{
    QFETCH(DeviceInfo, info);
    QFETCH(int, desiredType);
    QFETCH(bool, result);
    QFETCH(QByteArray, line);

    bool answer = !result;
    const QByteArray printed = captureStdout([&] { answer = info.device_has_valid_type(quint8(desiredType)); });
    QCOMPARE(answer, result);
    QCOMPARE(printed, line);
}

void TestDeviceInfo::emptyOtp_data()
{
    QTest::addColumn<QByteArray>("dump");
    QTest::addColumn<bool>("empty");

    QTest::newRow("an erased OTP area is empty") << QByteArray(512, '\xFF') << true;
    QTest::newRow("an empty dump is empty") << QByteArray() << true;
    QTest::newRow("an OTP with a record is not empty") << otpDump({{0, otpRecord(4)}}) << false;
    QTest::newRow("an OTP with a foreign marker is not empty") << otpDump({{8, otpRecord(4)}}) << false;
}

void TestDeviceInfo::emptyOtp()
{
    QFETCH(QByteArray, dump);
    QFETCH(bool, empty);

    DeviceInfo info;
    info.valid = true;
    info.otp = parseOtpInfo(dump);
    QCOMPARE(info.hasEmptyOtp(), empty);
}

void TestDeviceInfo::sameRevision_data()
{
    QTest::addColumn<DeviceInfo>("info");
    QTest::addColumn<QString>("desiredRevision");
    QTest::addColumn<bool>("same");

    QTest::newRow("an Arc-31 with the desired revision has it") << readDevice(4, "2.4.0") << "2.4.0" << true;
    QTest::newRow("another revision differs") << readDevice(4, "2.3.9") << "2.4.0" << false;
    QTest::newRow("revisions compare case-sensitively") << readDevice(4, "v2.4") << "V2.4" << false;
    // The OTP names subtype 01 FF FF, the block FF FF FF: the block is not taken.
    DeviceInfo otherSubtype = readDevice(4, "2.4.0");
    otherSubtype.otp = parseOtpInfo(otpDump({{0, otpRecord(4, {{0x01, 0xFF, 0xFF}})}}));
    otherSubtype.fw.valid = false;
    otherSubtype.fwRevision.clear();
    QTest::newRow("a block naming another product leaves no revision")
        << otherSubtype << "2.4.0" << false;
    DeviceInfo unread = readDevice(4, "2.4.0");
    unread.valid = false;
    QTest::newRow("a device not read never has the desired revision") << unread << "2.4.0" << false;
    DeviceInfo blank;
    blank.valid = true;
    blank.otp = parseOtpInfo(QByteArray(512, '\xFF'));
    QTest::newRow("without a readable embedded image no revision is the desired one")
        << blank << "" << false;
}

void TestDeviceInfo::sameRevision()
{
    QFETCH(DeviceInfo, info);
    QFETCH(QString, desiredRevision);
    QFETCH(bool, same);
    QCOMPARE(info.hasSameRevision(desiredRevision), same);
}

void TestDeviceInfo::desiredFirmwareCopiesNameTypeAndRevision()
{
    const DesiredFirmware desired =
        desiredFirmwareFrom(parseFwInfo(fwBlock(0x0302018C, "M50 firmware", "7.1")));
    QCOMPARE(desired.name, QStringLiteral("M50 firmware"));
    QCOMPARE(int(desired.type), 140);
    QCOMPARE(desired.revision, QStringLiteral("7.1"));

    const DesiredFirmware fromDefault = desiredFirmwareFrom(FwInfo());
    QVERIFY(fromDefault.name.isEmpty());
    QCOMPARE(int(fromDefault.type), 0);
    QVERIFY(fromDefault.revision.isEmpty());
}

QTEST_GUILESS_MAIN(TestDeviceInfo)
#include "tst_device_info.moc"
