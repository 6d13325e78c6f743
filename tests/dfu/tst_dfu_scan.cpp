// Device enumeration: the verdict on dfu-util's list output, and the scan
// that runs the list command.
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include "dfu/dfu_runner.h"
#include "dfu/dfu_scan.h"

#include <QDebug>
#include <QtTest>

Q_DECLARE_METATYPE(DfuDeviceStatus)

namespace {

const QStringList interfaceNames = {
    "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg",
    "@Option Bytes  /0x1FFFC000/01*016 e",
    "@OTP Memory /0x1FFF7800/01*512 e,01*016 e",
    "@Device Feature/0xFFFF0000/01*004 e",
};

// One interface line as dfu-util prints it.
QString deviceLine(const QString &serial, int alt, const QString &ids = "0483:df11", const QString &version = "2200",
                   int devnum = 12)
{
    return QStringLiteral("Found DFU: [%1] ver=%2, devnum=%3, cfg=1, intf=0, path=\"1-1\", alt=%4, name=\"%5\", "
                          "serial=\"%6\"")
        .arg(ids, version)
        .arg(devnum)
        .arg(alt)
        .arg(interfaceNames.value(alt), serial);
}

// The four interfaces of one unit, alternate settings in descending order.
QStringList unitLines(const QString &serial, int devnum = 12)
{
    QStringList lines;
    for (int alt = 3; alt >= 0; --alt)
        lines << deviceLine(serial, alt, "0483:df11", "2200", devnum);
    return lines;
}

QString listOutput(const QStringList &lines, const QString &lineEnd = "\n")
{
    QString output = referenceVersionText();
    for (const QString &line : lines)
        output += line + lineEnd;
    return output;
}

const QString banner011 = QStringLiteral("dfu-util 0.11\n\n"
                                         "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
                                         "Copyright 2010-2021 Tormod Volden and Stefan Schmidt\n"
                                         "This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
                                         "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n\n");

} // namespace

class TestDfuScan : public QObject
{
    Q_OBJECT

private slots:
    void parseDfuList_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<DfuDeviceStatus>("status");
        QTest::addColumn<QStringList>("serials");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("log");

        const QStringList unitA = unitLines("ABC123");
        const QStringList unitB = unitLines("336F38723430", 13);
        QTest::newRow("empty output finds no device") << QString() << no_dfu_device << QStringList() << 0
                                                      << QStringList();
        QTest::newRow("the banner alone finds no device")
            << listOutput({}) << no_dfu_device << QStringList() << 0 << QStringList();
        QTest::newRow("four interfaces with one serial are one valid device")
            << listOutput(unitA) << one_dfu_device << QStringList{"ABC123"} << 1 << QStringList();
        QTest::newRow("a fifth line with the same serial makes the device invalid")
            << listOutput(unitA + QStringList{deviceLine("ABC123", 0)}) << invalid_dfu_device
            << QStringList{"ABC123"} << 1 << QStringList();
        QTest::newRow("three lines make the device invalid")
            << listOutput(unitA.mid(1)) << invalid_dfu_device << QStringList{"ABC123"} << 1 << QStringList();
        QTest::newRow("four lines of A and four of B are two devices")
            << listOutput(unitA + unitB) << multiple_dfu_devices << QStringList{"ABC123", "336F38723430"} << 2
            << QStringList();
        QTest::newRow("interleaved lines of A, B, A list A twice")
            << listOutput({deviceLine("A1", 0), deviceLine("B2", 0), deviceLine("A1", 1)}) << multiple_dfu_devices
            << QStringList{"A1", "B2", "A1"} << 3 << QStringList();
        QTest::newRow("serials differing only in letter case are two devices")
            << listOutput(unitLines("abc123") + unitA) << multiple_dfu_devices << QStringList{"abc123", "ABC123"} << 2
            << QStringList();
        QTest::newRow("a device with version 2201 is ignored")
            << listOutput({deviceLine("ABC123", 3, "0483:df11", "2201"), deviceLine("ABC123", 2, "0483:df11", "2201"),
                           deviceLine("ABC123", 1, "0483:df11", "2201"), deviceLine("ABC123", 0, "0483:df11", "2201")})
            << no_dfu_device << QStringList() << 0 << QStringList();
        QTest::newRow("other vendor and product ids are ignored")
            << listOutput({deviceLine("ABC123", 0, "1d50:6017"), deviceLine("ABC123", 0, "0483:df12")})
            << no_dfu_device << QStringList() << 0 << QStringList();
        QTest::newRow("a lower-case first word does not match")
            << listOutput({QString(unitA[0]).replace(0, 5, "found")}) << no_dfu_device << QStringList() << 0 << QStringList();
        QTest::newRow("a line beginning with a blank does not match")
            << listOutput({" " + unitA[0]}) << no_dfu_device << QStringList() << 0 << QStringList();

        const QString noSerialField = QString(unitA[2]).remove(QRegularExpression(", serial=.*$"));
        QTest::newRow("a line without serial stops the parse although the others are fine")
            << listOutput({unitA[0], unitA[1], noSerialField, unitA[3]}) << no_dfu_device << QStringList{"ABC123"}
            << 0 << QStringList{quoted(noSerialField)};
        const QString emptySerial = deviceLine("", 1);
        QTest::newRow("an empty serial stops the parse")
            << listOutput({emptySerial, unitA[3]}) << no_dfu_device << QStringList() << 0
            << QStringList{"\"Found DFU: [0483:df11] ver=2200, devnum=12, cfg=1, intf=0, path=\\\"1-1\\\", alt=1, "
                           "name=\\\"@Option Bytes  /0x1FFFC000/01*016 e\\\", serial=\\\"\\\"\""};
        const QString unknownSerial = deviceLine("UNKNOWN", 0);
        QTest::newRow("a serial dfu-util could not read stops the parse")
            << listOutput({unknownSerial}) << no_dfu_device << QStringList() << 0 << QStringList{quoted(unknownSerial)};

        QTest::newRow("CR LF line ends are read like line feeds")
            << listOutput(unitA, "\r\n") << one_dfu_device << QStringList{"ABC123"} << 1 << QStringList();
        QTest::newRow("dfu-util 0.11 output with a run-time device and an inaccessible one")
            << banner011 + "Found Runtime: [0483:5740] ver=0200, devnum=7, cfg=1, intf=3, path=\"1-4\", alt=0, "
                           "name=\"UNKNOWN\", serial=\"UNKNOWN\"\n"
                           "Cannot open DFU device 0483:df11 found on devnum 9 (LIBUSB_ERROR_ACCESS)\n"
                   + unitLines("336F38723430").join("\n") + "\n"
            << one_dfu_device << QStringList{"336F38723430"} << 1 << QStringList();
        QTest::newRow("dfu-util 0.11 output of a unit it may not open is no device")
            << banner011 + "Cannot open DFU device 0483:df11 found on devnum 9 (LIBUSB_ERROR_ACCESS)\n"
            << no_dfu_device << QStringList() << 0 << QStringList();
    }
    void parseDfuList()
    {
        QFETCH(QString, output);
        QFETCH(DfuDeviceStatus, status);
        QFETCH(QStringList, serials);
        QFETCH(int, count);
        QFETCH(QStringList, log);

        LogCapture capture;
        const DfuListParse parse = ::parseDfuList(output);
        QCOMPARE(dfuDeviceStatusName(parse.status), dfuDeviceStatusName(status));
        QCOMPARE(parse.serials, serials);
        QCOMPARE(parse.count, count);
        QCOMPARE(capture.texts(), log);
    }

    void statusNames()
    {
        QCOMPARE(dfuDeviceStatusName(no_dfu_device), QStringLiteral("no_dfu_device"));
        QCOMPARE(dfuDeviceStatusName(one_dfu_device), QStringLiteral("one_dfu_device"));
        QCOMPARE(dfuDeviceStatusName(invalid_dfu_device), QStringLiteral("invalid_dfu_device"));
        QCOMPARE(dfuDeviceStatusName(multiple_dfu_devices), QStringLiteral("multiple_dfu_devices"));
    }

    void scanDfuDevices_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("serials");
        QTest::addColumn<QStringList>("log");

        QTest::newRow("one valid device gives code 0 and its serial, silently")
            << listOutput(unitLines("336F38723430")) << 0 << 0 << QStringList{"336F38723430"} << QStringList();
        QTest::newRow("two devices give code 1 with both serials")
            << listOutput(unitLines("ABC123") + unitLines("DEF456", 13)) << 0 << 1 << QStringList{"ABC123", "DEF456"}
            << QStringList();
        QTest::newRow("a device with three interfaces gives code 1 with its serial")
            << listOutput(unitLines("ABC123").mid(1)) << 0 << 1 << QStringList{"ABC123"} << QStringList();
        QTest::newRow("no device gives code 1") << listOutput({}) << 0 << 1 << QStringList() << QStringList();
        QTest::newRow("a failed list command gives code 1 and no serials, with the end line")
            << listOutput(unitLines("336F38723430")) << 74 << 1 << QStringList() << QStringList{"Exit with 74"};
    }
    void scanDfuDevices()
    {
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(int, code);
        QFETCH(QStringList, serials);
        QFETCH(QStringList, log);
        const CommandTableGuard guard;
        StandInPrograms programs;
        QVERIFY(writeFileBytes(programs.path("list.txt"), output.toUtf8()));
        dfuCommandEntry(DfuCommand::List).program =
            programs.write("list", "cat \"$(dirname \"$0\")/list.txt\"\nexit " + QByteArray::number(exitCode));

        LogCapture capture;
        const DfuScanResult scan = ::scanDfuDevices();
        QCOMPARE(scan.code, code);
        QCOMPARE(scan.serials, serials);
        QStringList logStarts;
        for (const QString &line : capture.texts())
            logStarts << line.left(12);
        QCOMPARE(logStarts, log);
    }
};

QTEST_GUILESS_MAIN(TestDfuScan)
#include "tst_dfu_scan.moc"
