#include "device/fw_info.h"
#include "device_test_support.h"

#include <QDebug>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const FwPairs threePairs = {
    {"Creation date", "2026-11-20"},
    {"Git tag", "arc31-v2.4.0"},
    {"Compiler", "gcc 12"},
};

QStringList keysOf(const FwInfo &info)
{
    QStringList keys;
    for (const auto &pair : info.details)
        keys.append(pair.first);
    return keys;
}

QStringList valuesOf(const FwInfo &info)
{
    QStringList values;
    for (const auto &pair : info.details)
        values.append(pair.second);
    return values;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestFwInfo : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();

    void readField_data();
    void readField();

    void textForm_data();
    void textForm();
    void debugStreamWritesTextFormUnquoted();

    void embeddedImageCarriesValidBlock();
    void unreadableFileGivesDefaultSilently();
};

void TestFwInfo::parse_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("rawType");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("revision");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("log");

    const QByteArray block = fwBlock(0xFFFFFF04, "Arc-31 main firmware", "2.4.0", threePairs);
    const QStringList keys{"Creation date", "Git tag", "Compiler"};
    const QStringList values{"2026-11-20", "arc31-v2.4.0", "gcc 12"};
    const QStringList none;

    // Valid blocks
    QTest::newRow("a block at offset 512 of a 2048-byte dump is valid")
        << placedAt(block, 512, 2048) << true << 4 << 4 << "Arc-31 main firmware" << "2.4.0" << keys << values
        << none;
    QTest::newRow("a block without pairs is valid")
        << placedAt(fwBlock(0xFFFFFF04, "n", "r"), 0, 200) << true << 4 << 4 << "n" << "r" << none << none << none;
    QTest::newRow("a block ending exactly at byte 1952 is valid")
        << placedAt(fwBlock(0xFFFFFF04, "n", "r"), 1948 - 72, 2048) << true << 4 << 4 << "n" << "r" << none
        << none << none;
    QTest::newRow("the first start and the first end marker count")
        << placedAt(block + block, 0, 2048) << true << 4 << 4 << "Arc-31 main firmware" << "2.4.0" << keys
        << values << none;
    QTest::newRow("type byte 7 gives type 254 and the block stays valid")
        << fwBlock(0xFFFFFF07, "n", "r") << true << 254 << 7 << "n" << "r" << none << none << none;
    QTest::newRow("UTF-8 text is decoded")
        << fwBlock(0xFFFFFF04, "Bl\xc3\xbc" "te", "r") << true << 4 << 4 << QString::fromUtf8("Bl\xc3\xbc" "te")
        << "r" << none << none << none;
    QTest::newRow("a 31-byte name fills its field")
        << fwBlock(0xFFFFFF04, QByteArray(31, 'x'), "r") << true << 4 << 4 << QString(31, 'x') << "r" << none
        << none << none;

    // Fields that read as empty
    QTest::newRow("a name of 32 bytes without NUL is empty, the block stays valid")
        << fwBlock(0xFFFFFF04, QByteArray(32, 'x'), "2.4.0", threePairs) << true << 4 << 4 << "" << "2.4.0"
        << keys << values << none;
    FwPairs nine;
    for (int i = 0; i < 9; ++i)
        nine.append({QByteArray("key ") + QByteArray::number(i), QByteArray("value ") + QByteArray::number(i)});
    FwPairs emptyFourthKey = nine;
    emptyFourthKey[3].first.clear();
    QTest::newRow("nine pairs whose fourth key is empty keep the first three")
        << fwBlock(0xFFFFFF04, "n", "r", emptyFourthKey) << true << 4 << 4 << "n" << "r"
        << QStringList{"key 0", "key 1", "key 2"} << QStringList{"value 0", "value 1", "value 2"} << none;
    FwPairs emptySecondValue = nine;
    emptySecondValue[1].second.clear();
    QTest::newRow("an empty value also ends the pairs")
        << fwBlock(0xFFFFFF04, "n", "r", emptySecondValue) << true << 4 << 4 << "n" << "r"
        << QStringList{"key 0"} << QStringList{"value 0"} << none;

    // Invalid blocks
    QTest::newRow("no markers at all is logged with -1 twice")
        << QByteArray(2048, '\0') << false << 0 << 0 << "" << "" << none << none
        << QStringList{"debug: index_beg =  -1 index_end =  -1"};
    QTest::newRow("a missing end marker is logged")
        << placedAt(block.left(block.size() - 4), 100, 2048) << false << 0 << 0 << "" << "" << none << none
        << QStringList{"debug: index_beg =  100 index_end =  -1"};
    QTest::newRow("a missing start marker is logged")
        << placedAt(block.mid(4), 96, 2048) << false << 0 << 0 << "" << "" << none << none
        << QStringList{"debug: index_beg =  -1 index_end =  356"};
    QTest::newRow("100 pair bytes are logged with the offsets and the count")
        << placedAt(littleEndian32(0x01234712), 0, 172) + littleEndian32(0x01234713) << false << 0 << 0 << ""
        << "" << none << none << QStringList{"debug: index_beg =  0 index_end =  172 nr_of_pair_bytes = 100"};
    QTest::newRow("an end marker before the start marker is logged with negative pair bytes")
        << placedAt(littleEndian32(0x01234713), 0, 64) + fwBlock(0xFFFFFF04, "n", "r") << false << 0 << 0 << ""
        << "" << none << none << QStringList{"debug: index_beg =  64 index_end =  0 nr_of_pair_bytes = -136"};
    QTest::newRow("a start marker at offset 1949 is silent")
        << placedAt(fwBlock(0xFFFFFF04, "n", "r"), 1949, 2100) << false << 0 << 0 << "" << "" << none << none
        << none;
    QTest::newRow("an end marker at offset 1949 is silent")
        << placedAt(fwBlock(0xFFFFFF04, "n", "r"), 1949 - 72, 2100) << false << 0 << 0 << "" << "" << none
        << none << none;
    QTest::newRow("an empty array is logged with -1 twice")
        << QByteArray() << false << 0 << 0 << "" << "" << none << none
        << QStringList{"debug: index_beg =  -1 index_end =  -1"};
}

void TestFwInfo::parse()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, valid);
    QFETCH(int, type);
    QFETCH(int, rawType);
    QFETCH(QString, name);
    QFETCH(QString, revision);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, values);
    QFETCH(QStringList, log);

    LogCapture capture;
    const FwInfo info = parseFwInfo(data);
    QCOMPARE(info.valid, valid);
    QCOMPARE(int(info.product.type), type);
    QCOMPARE(info.product.rawType, rawType);
    QCOMPARE(info.name, name);
    QCOMPARE(info.revision, revision);
    QCOMPARE(keysOf(info), keys);
    QCOMPARE(valuesOf(info), values);
    QCOMPARE(capture.lines(), log);
}

void TestFwInfo::readField_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("text");

    QTest::newRow("a text ends at its NUL") << QByteArray("xxabc\0def", 9) << 2 << "abc";
    QTest::newRow("a field starting with NUL is empty") << QByteArray("ab\0cd", 5) << 2 << "";
    QTest::newRow("a NUL in the 32nd byte ends a 31-byte text")
        << QByteArray(31, 'y') + QByteArray(1, '\0') << 0 << QString(31, 'y');
    QTest::newRow("a NUL only in the 33rd byte leaves the field without text")
        << QByteArray(32, 'y') + QByteArray(1, '\0') << 0 << "";
    QTest::newRow("a field running past the end keeps its terminated text")
        << QByteArray("abc\0", 4) << 0 << "abc";
    QTest::newRow("a field cut short without NUL has no text") << QByteArray("abc") << 0 << "";
    QTest::newRow("an offset at the end reads nothing") << QByteArray("abc\0", 4) << 4 << "";
    QTest::newRow("an offset beyond the end reads nothing") << QByteArray("abc\0", 4) << 100 << "";
    QTest::newRow("a negative offset reads nothing") << QByteArray("abc\0", 4) << -1 << "";
}

void TestFwInfo::readField()
{
    QFETCH(QByteArray, data);
    QFETCH(int, offset);
    QFETCH(QString, text);
    QCOMPARE(readFwInfoField(data, offset), text);
}

void TestFwInfo::textForm_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("text");

    QTest::newRow("an invalid block") << QByteArray(64, '\0') << "FW info:\n\tInvalid";
    QTest::newRow("a block without pairs ends with the Details line")
        << fwBlock(0xFFFFFF04, "Arc-31 main firmware", "2.4.0")
        << "FW info:\n  Type: ProductInfo: BRVA (4)\n  Name: Arc-31 main firmware\n  Rev.: 2.4.0\n  Details:";
    QTest::newRow("pairs are padded to 31 characters")
        << fwBlock(0xFFFFFF04, "n", "r", {{"Git tag", "v1"}, {"Compiler", "gcc"}})
        << "FW info:\n  Type: ProductInfo: BRVA (4)\n  Name: n\n  Rev.: r\n  Details:"
           "\n    Git tag                        : v1                             "
           "\n    Compiler                       : gcc                            ";
    QTest::newRow("a 31-character key fills its column exactly")
        << fwBlock(0xFFFFFF04, "n", "r", {{QByteArray(31, 'k'), QByteArray(31, 'v')}})
        << "FW info:\n  Type: ProductInfo: BRVA (4)\n  Name: n\n  Rev.: r\n  Details:\n    "
               + QString(31, 'k') + ": " + QString(31, 'v');
    QTest::newRow("a type without a row shows raw type and subtype")
        << fwBlock(0xFFFFFF07, "n", "r")
        << "FW info:\n  Type: ProductInfo: unknown (254) [07 ff ff ff]\n  Name: n\n  Rev.: r\n  Details:";
    QTest::newRow("empty name and revision leave their lines")
        << fwBlock(0xFFFFFF04, "", "") << "FW info:\n  Type: ProductInfo: BRVA (4)\n  Name: \n  Rev.: \n  Details:";
}

void TestFwInfo::textForm()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, text);
    QCOMPARE(parseFwInfo(data).toString(), text);
}

void TestFwInfo::debugStreamWritesTextFormUnquoted()
{
    const FwInfo info = parseFwInfo(fwBlock(0xFFFFFF04, "n", "r"));
    LogCapture capture;
    qInfo() << "Desired (embedded)" << info;
    qInfo() << FwInfo() << QStringLiteral("next");
    QCOMPARE(capture.lines(),
             (QStringList{"info: Desired (embedded) FW info:\n  Type: ProductInfo: BRVA (4)\n  Name: n\n  Rev.: r\n  Details:",
                          "info: FW info:\n\tInvalid \"next\""}));
}

void TestFwInfo::embeddedImageCarriesValidBlock()
{
    const QByteArray image = readFile(QStringLiteral(UPDATER_FIRMWARE_BIN_FILE));
    QVERIFY(image.size() > 2048);

    LogCapture capture;
    const FwInfo info = readFwInfoFile(QStringLiteral(UPDATER_FIRMWARE_BIN_FILE));
    QVERIFY(info.valid);
    QCOMPARE(int(info.product.type), 4);
    QCOMPARE(info.product.subtype, (std::array<quint8, 3>{{0xFF, 0xFF, 0xFF}}));
    QCOMPARE(info.details.size(), 9);
    QVERIFY(!info.revision.isEmpty());
    QVERIFY2(info.toString().startsWith("FW info:\n  Type: ProductInfo: BRVA (4)\n"), qPrintable(info.toString()));
    QCOMPARE(capture.lines(), QStringList());

    // A device's first 2048 flash bytes after the upgrade give the same block.
    QCOMPARE(parseFwInfo(image.left(2048)).toString(), info.toString());
}

void TestFwInfo::unreadableFileGivesDefaultSilently()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    LogCapture capture;
    const FwInfo info = readFwInfoFile(dir.filePath("missing.bin"));
    QVERIFY(!info.valid);
    QCOMPARE(info.product.toString(), QStringLiteral("ProductInfo: invalid (0)"));
    QVERIFY(info.name.isEmpty());
    QVERIFY(info.revision.isEmpty());
    QVERIFY(info.details.isEmpty());
    QCOMPARE(capture.lines(), QStringList());
}

QTEST_GUILESS_MAIN(TestFwInfo)
#include "tst_fw_info.moc"
