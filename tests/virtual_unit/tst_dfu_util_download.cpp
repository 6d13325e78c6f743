// Downloads by the real dfu-util into a virtual unit: what ends up in its flash,
// and how the unit leaves DFU mode and comes back.

#include "virtual_bus.h"

#include <QtTest>

namespace {

const QStringList listArguments{QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-l")};

// The old content of a unit: a pattern unlike any image, over the whole flash.
QByteArray olderFlash()
{
    QByteArray flash(0x100000, '\0');
    for (int i = 0; i < flash.size(); ++i)
        flash[i] = char((i * 7 + 3) & 0x7F);
    return flash;
}

// Flash after a download of image: the sectors the image touches are erased,
// the image is in them, later sectors keep their old content.
QByteArray flashAfterDownload(const QByteArray &old, const QByteArray &image)
{
    const int sectorEnds[] = {0x4000, 0x8000, 0xC000, 0x10000, 0x20000, 0x40000, 0x60000,
                              0x80000, 0xA0000, 0xC0000, 0xE0000, 0x100000};
    int erasedUpTo = 0;
    for (const int end : sectorEnds) {
        erasedUpTo = end;
        if (end >= image.size())
            break;
    }
    QByteArray flash = old;
    flash.replace(0, erasedUpTo, QByteArray(erasedUpTo, char(0xFF)));
    flash.replace(0, image.size(), image);
    return flash;
}

} // namespace

class TestDfuUtilDownload : public QObject
{
    Q_OBJECT

private slots:
    void rawImageWithLeave_data();
    void rawImageWithLeave();
    void dfuseFileDownload_data();
    void dfuseFileDownload();
    void dfuseCommands_data();
    void dfuseCommands();
};

void TestDfuUtilDownload::rawImageWithLeave_data()
{
    QTest::addColumn<bool>("olderContent");
    QTest::newRow("a blank unit gets exactly the image") << false;
    QTest::newRow("a unit with older content gets exactly the image over erased sectors") << true;
}

void TestDfuUtilDownload::rawImageWithLeave()
{
    QFETCH(bool, olderContent);
    VirtualBus bus;
    QVERIFY(bus.isValid());
    const QByteArray image = firmwareImage();
    const QByteArray old = olderContent ? olderFlash() : QByteArray(0x100000, char(0xFF));
    QVERIFY(bus.writeWorkFile(QStringLiteral("old.bin"), old));
    // Long enough that the unit is surely still away when the listing below runs.
    QVERIFY(bus.createUnit(QStringLiteral("unit"),
                           {QStringLiteral("--serial"), QLatin1String(VirtualBus::defaultSerial),
                            QStringLiteral("--firmware"), bus.workFile(QStringLiteral("old.bin")),
                            QStringLiteral("--return-delay"), QStringLiteral("8000")}));

    const DfuRun run = bus.runDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                       QStringLiteral("0"), QStringLiteral("-s"), QStringLiteral("0x08000000:leave"),
                                       QStringLiteral("-D"), firmwareBinPath()});

    QVERIFY2(run.exitCode == 0, qPrintable(run.output + run.errors));
    QVERIFY(run.output.contains(QStringLiteral("Transitioning to dfuMANIFEST state")));
    QCOMPARE(differingOffsets(bus.flash(QStringLiteral("unit")), flashAfterDownload(old, image)), QVector<int>());

    // The unit has left DFU mode and is gone from the bus ...
    QVERIFY(bus.show(QStringLiteral("unit")).contains(QStringLiteral("present: no")));
    QCOMPARE(bus.runDfuUtil(listArguments).deviceLines(), QStringList());
    // ... and comes back in DFU mode with the new image in its flash.
    QTRY_COMPARE_WITH_TIMEOUT(bus.runDfuUtil(listArguments).deviceLines().size(), 4, 60000);
    DfuRun readBack;
    QCOMPARE(bus.upload(QStringLiteral("0"), QStringLiteral("0x08000000:%1").arg(image.size()), &readBack), image);
    QCOMPARE(readBack.exitCode, 0);
}

void TestDfuUtilDownload::dfuseFileDownload_data()
{
    QTest::addColumn<bool>("generated"); // the build's firmware.dfu, else the elements below
    QTest::addColumn<QVector<DfuseElement>>("elements");
    QTest::addColumn<QByteArray>("expectedStart"); // flash from 0x08000000

    const QByteArray a = QByteArray::fromHex("0F0F0F0F0F0F0F0F0F0F0F0F0F0F0F0F");
    const QByteArray b = QByteArray::fromHex("3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C");
    QTest::newRow("the generated DfuSe file programs exactly the raw image")
        << true << QVector<DfuseElement>{} << firmwareImage();
    QTest::newRow("elements in different sectors are programmed exactly")
        << false << QVector<DfuseElement>{{0x08000000, a}, {0x08004000, b}}
        << a + QByteArray(0x4000 - a.size(), char(0xFF)) + b;
    // dfu-util does not erase a page twice, so the second element is written
    // over programmed bytes: flash can only clear bits.
    QTest::newRow("a second element over programmed bytes only clears bits")
        << false << QVector<DfuseElement>{{0x08000000, a}, {0x08000000, b}}
        << QByteArray::fromHex("0C0C0C0C0C0C0C0C0C0C0C0C0C0C0C0C") + QByteArray(16, char(0xFF));
}

void TestDfuUtilDownload::dfuseFileDownload()
{
    QFETCH(bool, generated);
    QFETCH(QVector<DfuseElement>, elements);
    QFETCH(QByteArray, expectedStart);

    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.writeWorkFile(QStringLiteral("old.bin"), olderFlash()));
    QVERIFY(bus.createUnit(QStringLiteral("unit"), {QStringLiteral("--serial"), QLatin1String(VirtualBus::defaultSerial),
                                                    QStringLiteral("--firmware"), bus.workFile(QStringLiteral("old.bin"))}));
    QString file = firmwareDfuPath();
    if (!generated) {
        file = bus.workFile(QStringLiteral("elements.dfu"));
        QVERIFY(bus.writeWorkFile(QStringLiteral("elements.dfu"), dfuseFile(elements)));
    }

    const DfuRun run = bus.runDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                       QStringLiteral("0"), QStringLiteral("-D"), file});

    QVERIFY2(run.exitCode == 0, qPrintable(run.output + run.errors));
    QCOMPARE(differingOffsets(bus.flash(QStringLiteral("unit")).left(expectedStart.size()), expectedStart),
             QVector<int>());
    // Without "leave" the unit stays in DFU mode.
    QCOMPARE(bus.runDfuUtil(listArguments).deviceLines().size(), 4);
}

void TestDfuUtilDownload::dfuseCommands_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("staysOnBus");

    QTest::newRow("a mass erase wipes the flash and keeps the unit in DFU mode")
        << QStringLiteral("0x08000000:mass-erase:force") << true;
    QTest::newRow("removing the read protection wipes the flash and restarts the unit")
        << QStringLiteral(":unprotect:force") << false;
}

void TestDfuUtilDownload::dfuseCommands()
{
    QFETCH(QString, options);
    QFETCH(bool, staysOnBus);

    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(bus.createUnit(QStringLiteral("unit"), {QStringLiteral("--serial"), QLatin1String(VirtualBus::defaultSerial),
                                                    QStringLiteral("--firmware"), firmwareBinPath(),
                                                    QStringLiteral("--return-delay"), QStringLiteral("8000")}));

    const DfuRun run = bus.runDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                       QStringLiteral("0"), QStringLiteral("-s"), options});

    QVERIFY2(run.exitCode == 0, qPrintable(run.output + run.errors));
    QCOMPARE(bus.flash(QStringLiteral("unit")), QByteArray(0x100000, char(0xFF)));
    QCOMPARE(bus.runDfuUtil(listArguments).deviceLines().size(), staysOnBus ? 4 : 0);
}

QTEST_GUILESS_MAIN(TestDfuUtilDownload)
#include "tst_dfu_util_download.moc"
