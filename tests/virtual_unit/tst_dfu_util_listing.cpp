// dfu-util's device list over virtual units, read back through the tool's own
// list parser.

#include "dfu/dfu_scan.h"
#include "virtual_bus.h"

#include <QtTest>

namespace {

const QStringList listArguments{QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-l")};

} // namespace

class TestDfuUtilListing : public QObject
{
    Q_OBJECT

private slots:
    void oneUnitShowsTheBootloaderInterfaces();
    void busContents_data();
    void busContents();
    void deniedAccessLeavesTheUnitOut();
};

void TestDfuUtilListing::oneUnitShowsTheBootloaderInterfaces()
{
    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.createUnit(QStringLiteral("unit"), {QStringLiteral("--serial"), QStringLiteral("3574364C3034")}));

    const DfuRun run = bus.runDfuUtil(listArguments);

    QCOMPARE(run.exitCode, 0);
    const QString prefix = QStringLiteral(
        "Found DFU: [0483:df11] ver=2200, devnum=2, cfg=1, intf=0, path=\"1-1\", alt=");
    const QString suffix = QStringLiteral(", serial=\"3574364C3034\"");
    const QStringList expected{
        prefix + QStringLiteral("3, name=\"@Device Feature/0xFFFF0000/01*004 e\"") + suffix,
        prefix + QStringLiteral("2, name=\"@OTP Memory /0x1FFF7800/01*512 e,01*016 e\"") + suffix,
        prefix + QStringLiteral("1, name=\"@Option Bytes  /0x1FFFC000/01*016 e\"") + suffix,
        prefix + QStringLiteral("0, name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\"") + suffix,
    };
    QCOMPARE(run.deviceLines(), expected);
}

void TestDfuUtilListing::busContents_data()
{
    QTest::addColumn<QStringList>("serials");     // one unit per serial
    QTest::addColumn<QStringList>("firstUnitFault"); // virtual-unit fault arguments
    QTest::addColumn<bool>("unplugged");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<QString>("lineText");        // found in every device line
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("parsedSerials");

    const QString a = QStringLiteral("3574364C3034");
    const QString b = QStringLiteral("2058336B5650");
    const QString ver = QStringLiteral("ver=2200");

    QTest::newRow("an empty bus lists no device lines")
        << QStringList{} << QStringList{} << false << 0 << ver << int(no_dfu_device) << QStringList{};
    QTest::newRow("an unplugged unit lists no device lines")
        << QStringList{a} << QStringList{} << true << 0 << ver << int(no_dfu_device) << QStringList{};
    QTest::newRow("one unit lists four lines and counts as one device")
        << QStringList{a} << QStringList{} << false << 4 << QStringLiteral("serial=\"%1\"").arg(a)
        << int(one_dfu_device) << QStringList{a};
    QTest::newRow("two units list eight lines and count as several devices")
        << QStringList{a, b} << QStringList{} << false << 8 << ver << int(multiple_dfu_devices)
        << QStringList{b, a};
    QTest::newRow("three interfaces list three lines and count as an invalid device")
        << QStringList{a} << QStringList{QStringLiteral("three-interfaces")} << false << 3 << ver
        << int(invalid_dfu_device) << QStringList{a};
    QTest::newRow("another device version shows in every line and does not count")
        << QStringList{a} << QStringList{QStringLiteral("bcd-device"), QStringLiteral("2201")} << false << 4
        << QStringLiteral("ver=2201") << int(no_dfu_device) << QStringList{};
    QTest::newRow("a unit without serial number lists UNKNOWN and does not count")
        << QStringList{a} << QStringList{QStringLiteral("no-serial")} << false << 4
        << QStringLiteral("serial=\"UNKNOWN\"") << int(no_dfu_device) << QStringList{};
}

void TestDfuUtilListing::busContents()
{
    QFETCH(QStringList, serials);
    QFETCH(QStringList, firstUnitFault);
    QFETCH(bool, unplugged);
    QFETCH(int, lineCount);
    QFETCH(QString, lineText);
    QFETCH(int, status);
    QFETCH(QStringList, parsedSerials);

    VirtualBus bus;
    QVERIFY(bus.isValid());
    for (int i = 0; i < serials.size(); ++i) {
        const QString unit = QStringLiteral("unit%1").arg(i + 1);
        QVERIFY(bus.createUnit(unit, {QStringLiteral("--serial"), serials.at(i)}));
        if (unplugged)
            QVERIFY(bus.unitCommand(QStringLiteral("unplug"), unit));
    }
    if (!firstUnitFault.isEmpty())
        QVERIFY(bus.unitCommand(QStringLiteral("fault"), QStringLiteral("unit1"), firstUnitFault));

    const DfuRun run = bus.runDfuUtil(listArguments);

    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.deviceLines();
    QCOMPARE(lines.size(), lineCount);
    for (const QString &line : lines)
        QVERIFY2(line.contains(lineText), qPrintable(line));
    const DfuListParse parse = parseDfuList(run.output);
    QCOMPARE(int(parse.status), status);
    QCOMPARE(parse.serials, parsedSerials);
}

void TestDfuUtilListing::deniedAccessLeavesTheUnitOut()
{
    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.createUnit(QStringLiteral("unit"), {QStringLiteral("--serial"), QStringLiteral("3574364C3034")}));
    QVERIFY(bus.unitCommand(QStringLiteral("fault"), QStringLiteral("unit"), {QStringLiteral("access-denied")}));

    const DfuRun run = bus.runDfuUtil(listArguments);

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.deviceLines(), QStringList());
    QVERIFY2(run.errors.contains(QStringLiteral(
                 "Cannot open DFU device 0483:df11 found on devnum 2 (LIBUSB_ERROR_ACCESS)")),
             qPrintable(run.errors));
}

QTEST_GUILESS_MAIN(TestDfuUtilListing)
#include "tst_dfu_util_listing.moc"
