// Uploads by the real dfu-util from a virtual unit return exactly the unit's bytes.

#include "virtual_bus.h"

#include <QtTest>

class TestDfuUtilUpload : public QObject
{
    Q_OBJECT

private slots:
    void upload_data();
    void upload();
    void uploadKeepsTheUnitOnTheBus();
};

void TestDfuUtilUpload::upload_data()
{
    QTest::addColumn<QStringList>("createOptions");
    QTest::addColumn<QString>("alt");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QByteArray>("expected");

    const QStringList typed{QStringLiteral("--firmware"), firmwareBinPath(), QStringLiteral("--otp-type"),
                            QStringLiteral("4"), QStringLiteral("--otp-subtype"), QStringLiteral("01FFFF"),
                            QStringLiteral("--otp-extra"), QStringLiteral("0102030405060708")};
    const QByteArray image = firmwareImage();
    QVERIFY(image.size() > 4096);

    QTest::newRow("the OTP area holds the identification record of a typed unit")
        << typed << QStringLiteral("2") << QStringLiteral("0x1FFF7800:512")
        << QByteArray::fromHex("114723010401FFFF0102030405060708") + QByteArray(496, char(0xFF));
    QTest::newRow("the OTP area of a blank unit reads erased")
        << QStringList{QStringLiteral("--blank-otp")} << QStringLiteral("2") << QStringLiteral("0x1FFF7800:512")
        << QByteArray(512, char(0xFF));
    QTest::newRow("the OTP lock bytes read unlocked")
        << typed << QStringLiteral("2") << QStringLiteral("0x1FFF7A00:16") << QByteArray(16, char(0xFF));
    QTest::newRow("the first flash block holds the start of the firmware")
        << typed << QStringLiteral("0") << QStringLiteral("0x08000000:2048") << image.left(2048);
    QTest::newRow("the whole image reads back in one upload")
        << typed << QStringLiteral("0") << QStringLiteral("0x08000000:%1").arg(image.size()) << image;
    QTest::newRow("an upload from an unaligned address returns the bytes from there")
        << typed << QStringLiteral("0") << QStringLiteral("0x08000123:3000") << image.mid(0x123, 3000);
    QTest::newRow("the flash after the image reads erased")
        << typed << QStringLiteral("0") << QStringLiteral("0x%1:1024").arg(0x08000000 + image.size(), 0, 16)
        << QByteArray(1024, char(0xFF));
    QTest::newRow("a unit without firmware reads erased flash")
        << QStringList{} << QStringLiteral("0") << QStringLiteral("0x08000000:2048") << QByteArray(2048, char(0xFF));
}

void TestDfuUtilUpload::upload()
{
    QFETCH(QStringList, createOptions);
    QFETCH(QString, alt);
    QFETCH(QString, range);
    QFETCH(QByteArray, expected);

    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.createUnit(QStringLiteral("unit"),
                           QStringList{QStringLiteral("--serial"), QLatin1String(VirtualBus::defaultSerial)}
                               + createOptions));

    DfuRun run;
    const QByteArray uploaded = bus.upload(alt, range, &run);

    QVERIFY2(run.exitCode == 0, qPrintable(run.output + run.errors));
    QCOMPARE(uploaded.size(), expected.size());
    QCOMPARE(differingOffsets(uploaded, expected), QVector<int>());
}

// An upload ends with the unit in DFU mode, as the next upload needs it.
void TestDfuUtilUpload::uploadKeepsTheUnitOnTheBus()
{
    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.createUnit(QStringLiteral("unit"), {QStringLiteral("--serial"), QLatin1String(VirtualBus::defaultSerial),
                                                    QStringLiteral("--firmware"), firmwareBinPath()}));
    const QByteArray image = firmwareImage();

    DfuRun first;
    QCOMPARE(bus.upload(QStringLiteral("2"), QStringLiteral("0x1FFF7800:512"), &first).size(), 512);
    QCOMPARE(first.exitCode, 0);
    DfuRun second;
    QCOMPARE(bus.upload(QStringLiteral("0"), QStringLiteral("0x08000000:2048"), &second), image.left(2048));
    QCOMPARE(second.exitCode, 0);
    QVERIFY(second.output.contains(QStringLiteral("DFU state(2) = dfuIDLE")));
    QCOMPARE(bus.runDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-l")}).deviceLines().size(), 4);
}

QTEST_GUILESS_MAIN(TestDfuUtilUpload)
#include "tst_dfu_util_upload.moc"
