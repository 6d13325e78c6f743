#include "device/otp_info.h"
#include "device_test_support.h"

#include <QDebug>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString unknownTypeMessage = QStringLiteral("info: Unknown device type according to OTP info,  \"%1\"");
const QString invalidInfoMessage = QStringLiteral("info: Device not used, has invalid info in its OTP info.");

} // namespace

class TestOtpInfo : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();

    void recordCutShortIsNotReadBeyondTheDump_data();
    void recordCutShortIsNotReadBeyondTheDump();

    void extraBytesAreCarriedAlong();

    void textForm_data();
    void textForm();
    void debugStreamWritesTextFormUnquoted();

    void readFile_data();
    void readFile();
    void unreadableFileGivesDefaultSilently();
};

void TestOtpInfo::parse_data()
{
    QTest::addColumn<QByteArray>("dump");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("blank");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("rawType");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QStringList>("log");

    const QString blankProduct = QStringLiteral("ProductInfo: invalid (0)");

    // Blank dumps
    QTest::newRow("an empty dump is blank") << QByteArray() << false << true << 0 << 0 << blankProduct
                                            << QStringList();
    QTest::newRow("512 erased bytes are blank") << QByteArray(512, '\xFF') << false << true << 0 << 0
                                                << blankProduct << QStringList();
    QTest::newRow("all erased but one byte, without marker, is neither blank nor valid")
        << placedAt(QByteArray(1, '\0'), 300, 512, '\xFF') << false << false << 0 << 0 << blankProduct << QStringList();

    // Marker placement
    QTest::newRow("a type-4 record at offset 0 is valid")
        << otpDump({{0, otpRecord(4)}}) << true << false << 4 << 4 << "ProductInfo: BRVA (4)" << QStringList();
    QTest::newRow("a record among zero bytes is valid and not blank")
        << otpDump({{32, otpRecord(4)}}, 512, '\0') << true << false << 4 << 4 << "ProductInfo: BRVA (4)"
        << QStringList();
    QTest::newRow("of records at offsets 0 and 16, the one at 16 counts")
        << otpDump({{0, otpRecord(3)}, {16, otpRecord(4, {{0x01, 0xFF, 0xFF}})}}) << true << false << 4 << 4
        << "ProductInfo: BRVA (4) [04 01 ff ff]" << QStringList();
    QTest::newRow("the only marker at offset 8 is misplaced and silent")
        << otpDump({{8, otpRecord(4)}}) << false << false << 0 << 0 << blankProduct << QStringList();
    QTest::newRow("a misplaced last marker hides a correctly placed record")
        << otpDump({{0, otpRecord(4)}, {36, otpRecord(4)}}) << false << false << 0 << 0 << blankProduct
        << QStringList();
    QTest::newRow("a record in the last slot at offset 496 is accepted")
        << otpDump({{496, otpRecord(4)}}) << true << false << 4 << 4 << "ProductInfo: BRVA (4)" << QStringList();
    QTest::newRow("a marker at offset 500 is not accepted")
        << otpDump({{496, otpRecord(4)}, {500, littleEndian32(0x01234711)}}) << false << false << 0 << 0
        << blankProduct << QStringList();
    QTest::newRow("a marker in slot 512 of a longer dump is not accepted")
        << otpDump({{0, otpRecord(4)}, {512, otpRecord(4)}}, 1024) << false << false << 0 << 0 << blankProduct
        << QStringList();
    QTest::newRow("a dump without marker is silent")
        << QByteArray(512, '\0') << false << false << 0 << 0 << blankProduct << QStringList();

    // Product types
    QTest::newRow("type byte 0 is logged and stays invalid")
        << otpDump({{0, otpRecord(0)}}) << false << false << 0 << 0 << blankProduct
        << QStringList{invalidInfoMessage};
    QTest::newRow("type byte 255 is logged and stays 255")
        << otpDump({{0, otpRecord(255)}}) << false << false << 255 << 255 << "ProductInfo: undefined (255)"
        << QStringList{invalidInfoMessage};
    QTest::newRow("type byte 7 without a row is logged as unknown and forced to 0")
        << otpDump({{0, otpRecord(7)}}) << false << false << 0 << 7 << blankProduct
        << QStringList{unknownTypeMessage.arg("ProductInfo: unknown (254) [07 ff ff ff]")};
    QTest::newRow("type byte 254 behaves like one without a row")
        << otpDump({{0, otpRecord(254)}}) << false << false << 0 << 254 << blankProduct
        << QStringList{unknownTypeMessage.arg("ProductInfo: unknown (254) [fe ff ff ff]")};
    QTest::newRow("an unknown type with a subtype keeps the subtype")
        << otpDump({{0, otpRecord(9, {{0x01, 0x02, 0x03}})}}) << false << false << 0 << 9
        << "ProductInfo: invalid (0) [09 01 02 03]"
        << QStringList{unknownTypeMessage.arg("ProductInfo: unknown (254) [09 01 02 03]")};
    QTest::newRow("type byte 3 of another product is valid")
        << otpDump({{0, otpRecord(3)}}) << true << false << 3 << 3 << "ProductInfo: HLCN (3)" << QStringList();
}

void TestOtpInfo::parse()
{
    QFETCH(QByteArray, dump);
    QFETCH(bool, valid);
    QFETCH(bool, blank);
    QFETCH(int, type);
    QFETCH(int, rawType);
    QFETCH(QString, product);
    QFETCH(QStringList, log);

    LogCapture capture;
    const OtpInfo otp = parseOtpInfo(dump);
    QCOMPARE(otp.valid, valid);
    QCOMPARE(otp.blank, blank);
    QCOMPARE(int(otp.product.type), type);
    QCOMPARE(otp.product.rawType, rawType);
    QCOMPARE(otp.product.toString(), product);
    QCOMPARE(capture.lines(), log);
}

void TestOtpInfo::recordCutShortIsNotReadBeyondTheDump_data()
{
    QTest::addColumn<QByteArray>("memory");
    QTest::addColumn<int>("dumpSize");

    // Behind the dump's end the memory holds the rest of a valid record.
    QTest::newRow("a marker at offset 16 of a 20-byte dump")
        << otpDump({{16, otpRecord(4)}}, 32) << 20;
    QTest::newRow("a record at offset 0 of a 15-byte dump")
        << otpDump({{0, otpRecord(4)}}, 16) << 15;
    QTest::newRow("a marker alone as a 4-byte dump")
        << otpDump({{0, otpRecord(4)}}, 16) << 4;
}

void TestOtpInfo::recordCutShortIsNotReadBeyondTheDump()
{
    QFETCH(QByteArray, memory);
    QFETCH(int, dumpSize);

    LogCapture capture;
    const OtpInfo otp = parseOtpInfo(QByteArray::fromRawData(memory.constData(), dumpSize));
    QVERIFY(!otp.valid);
    QVERIFY(!otp.blank);
    QCOMPARE(otp.product.toString(), QStringLiteral("ProductInfo: invalid (0)"));
    QCOMPARE(otp.extra, (std::array<quint8, 8>{}));
    QCOMPARE(capture.lines(), QStringList());
}

void TestOtpInfo::extraBytesAreCarriedAlong()
{
    const OtpInfo otp = parseOtpInfo(otpDump({{16, otpRecord(4, {{0xFF, 0xFF, 0xFF}}, "\x01\x02\x03\x04\x05\x06\x07\x08")}}));
    QCOMPARE(otp.extra, (std::array<quint8, 8>{{1, 2, 3, 4, 5, 6, 7, 8}}));
    QCOMPARE(parseOtpInfo(otpDump({{8, otpRecord(4, {{0xFF, 0xFF, 0xFF}}, "\x01\x02")}})).extra,
             (std::array<quint8, 8>{}));
}

void TestOtpInfo::textForm_data()
{
    QTest::addColumn<QByteArray>("dump");
    QTest::addColumn<QString>("text");

    QTest::newRow("a valid type-4 record")
        << otpDump({{0, otpRecord(4)}}) << "OTP info:\nMarker valid\nProduct: ProductInfo: BRVA (4)\n";
    QTest::newRow("a blank dump") << QByteArray(512, '\xFF')
                                  << "OTP info:\nMarker invalid\nProduct: ProductInfo: invalid (0)\n";
    QTest::newRow("an undefined type")
        << otpDump({{0, otpRecord(255)}}) << "OTP info:\nMarker invalid\nProduct: ProductInfo: undefined (255)\n";
    QTest::newRow("a record with a subtype")
        << otpDump({{0, otpRecord(4, {{0x01, 0xFF, 0xFF}})}})
        << "OTP info:\nMarker valid\nProduct: ProductInfo: BRVA (4) [04 01 ff ff]\n";
}

void TestOtpInfo::textForm()
{
    QFETCH(QByteArray, dump);
    QFETCH(QString, text);
    QCOMPARE(parseOtpInfo(dump).toString(), text);
}

void TestOtpInfo::debugStreamWritesTextFormUnquoted()
{
    const OtpInfo otp = parseOtpInfo(otpDump({{0, otpRecord(4)}}));
    LogCapture capture;
    qInfo() << otp << 1;
    QCOMPARE(capture.lines(),
             QStringList{"info: OTP info:\nMarker valid\nProduct: ProductInfo: BRVA (4)\n 1"});
}

void TestOtpInfo::readFile_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("an empty file") << QByteArray();
    QTest::newRow("a dump with a type-4 record") << otpDump({{48, otpRecord(4)}});
    QTest::newRow("a dump with an unknown type") << otpDump({{0, otpRecord(7)}});
}

void TestOtpInfo::readFile()
{
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("uploaded_OTP.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), qint64(content.size()));
    file.close();

    LogCapture fromFile;
    const OtpInfo read = readOtpInfoFile(file.fileName());
    const QStringList fileLog = fromFile.lines();
    LogCapture fromBytes;
    const OtpInfo parsed = parseOtpInfo(content);

    QCOMPARE(read.valid, parsed.valid);
    QCOMPARE(read.blank, parsed.blank);
    QCOMPARE(read.toString(), parsed.toString());
    QCOMPARE(read.product.rawType, parsed.product.rawType);
    QCOMPARE(fileLog, fromBytes.lines());
}

void TestOtpInfo::unreadableFileGivesDefaultSilently()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    LogCapture capture;
    const OtpInfo otp = readOtpInfoFile(dir.filePath("missing.bin"));
    QVERIFY(!otp.valid);
    QVERIFY(!otp.blank);
    QCOMPARE(otp.product.toString(), QStringLiteral("ProductInfo: invalid (0)"));
    QCOMPARE(capture.lines(), QStringList());
}

QTEST_GUILESS_MAIN(TestOtpInfo)
#include "tst_otp_info.moc"
