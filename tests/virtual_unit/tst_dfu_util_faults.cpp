// Faults of a virtual unit as the real dfu-util meets them, and the unit's
// timing model as dfu-util is told it through bwPollTimeout.

#include "virtual_bus.h"

#include <QDir>
#include <QtTest>

namespace {

const QStringList listArguments{QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-l")};
constexpr int dfuUtilIoError = 74;

QStringList download(const QString &dfuseOptions, const QString &file)
{
    return {QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"), QStringLiteral("0"),
            QStringLiteral("-s"), dfuseOptions, QStringLiteral("-D"), file};
}

bool createUnit(const VirtualBus &bus, const QStringList &more = {})
{
    return bus.createUnit(QStringLiteral("unit"),
                          QStringList{QStringLiteral("--serial"), QLatin1String(VirtualBus::defaultSerial)} + more);
}

// The poll timeout dfu-util reports right after it asked for an erase.
int erasePollTimeout(const QString &errors)
{
    const QStringList lines = errors.split(QLatin1Char('\n'));
    bool erasing = false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("Erasing page size")))
            erasing = true;
        else if (erasing && line.trimmed().startsWith(QLatin1String("Poll timeout ")))
            return line.trimmed().section(QLatin1Char(' '), 2, 2).toInt();
    }
    return -1;
}

} // namespace

class TestDfuUtilFaults : public QObject
{
    Q_OBJECT

private slots:
    void vanishingMidDownload_data();
    void vanishingMidDownload();
    void byteThatDoesNotProgram_data();
    void byteThatDoesNotProgram();
    void stalledOtpUpload_data();
    void stalledOtpUpload();
    void failedStatusAfterLeave();
    void pollTimeouts_data();
    void pollTimeouts();
};

void TestDfuUtilFaults::vanishingMidDownload_data()
{
    QTest::addColumn<int>("vanishAfter");
    QTest::newRow("a unit vanishing within a block keeps the bytes up to there") << 100001;
    QTest::newRow("a unit vanishing at a block boundary keeps the whole blocks") << 4096;
    QTest::newRow("a unit vanishing before the first block keeps only erased sectors") << 0;
}

void TestDfuUtilFaults::vanishingMidDownload()
{
    QFETCH(int, vanishAfter);
    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(createUnit(bus));
    QVERIFY(bus.unitCommand(QStringLiteral("fault"), QStringLiteral("unit"),
                            {QStringLiteral("vanish-after"), QString::number(vanishAfter)}));
    const QByteArray image = firmwareImage();

    const DfuRun run = bus.runDfuUtil(download(QStringLiteral("0x08000000:leave"), firmwareBinPath()));

    QCOMPARE(run.exitCode, dfuUtilIoError);
    const QByteArray flash = bus.flash(QStringLiteral("unit"));
    QCOMPARE(flash.left(vanishAfter), image.left(vanishAfter));
    QCOMPARE(flash.mid(vanishAfter, image.size() - vanishAfter), QByteArray(image.size() - vanishAfter, char(0xFF)));
    // Gone until it is plugged in again.
    QCOMPARE(bus.runDfuUtil(listArguments).deviceLines(), QStringList());
    QVERIFY(bus.unitCommand(QStringLiteral("plug"), QStringLiteral("unit")));
    QCOMPARE(bus.runDfuUtil(listArguments).deviceLines().size(), 4);
}

void TestDfuUtilFaults::byteThatDoesNotProgram_data()
{
    QTest::addColumn<int>("offset");
    QTest::newRow("a stuck byte in the first sector shows in the read-back") << 0x100;
    QTest::newRow("a stuck byte deep in the image shows in the read-back") << 500001;
}

void TestDfuUtilFaults::byteThatDoesNotProgram()
{
    QFETCH(int, offset);
    VirtualBus bus;
    QVERIFY(bus.isValid());
    const QByteArray image = firmwareImage();
    QVERIFY(offset < image.size());
    QVERIFY2(image.at(offset) != char(0xFF), "the image byte must differ from erased flash");
    QVERIFY(createUnit(bus));
    QVERIFY(bus.unitCommand(QStringLiteral("fault"), QStringLiteral("unit"),
                            {QStringLiteral("stuck-byte"), QString::number(offset)}));

    const DfuRun run = bus.runDfuUtil(download(QStringLiteral("0x08000000"), firmwareBinPath()));
    QVERIFY2(run.exitCode == 0, qPrintable(run.output + run.errors));

    DfuRun readBack;
    const QByteArray uploaded =
        bus.upload(QStringLiteral("0"), QStringLiteral("0x08000000:%1").arg(image.size()), &readBack);
    QCOMPARE(readBack.exitCode, 0);
    QCOMPARE(differingOffsets(uploaded, image), QVector<int>{offset});
    QCOMPARE(uploaded.at(offset), char(0xFF));
}

void TestDfuUtilFaults::stalledOtpUpload_data()
{
    QTest::addColumn<QString>("stallSeconds"); // fault argument; empty: the default
    QTest::addColumn<QString>("release");      // what the test does while dfu-util hangs
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("uploadedBytes");

    QTest::newRow("unplugging the unit ends the stalled upload with an error")
        << QString() << QStringLiteral("unplug") << dfuUtilIoError << 0;
    QTest::newRow("clearing the fault lets the stalled upload finish")
        << QString() << QStringLiteral("clear") << 0 << 512;
    QTest::newRow("the stall's own time limit ends the upload with an error")
        << QStringLiteral("1") << QString() << dfuUtilIoError << 0;
}

void TestDfuUtilFaults::stalledOtpUpload()
{
    QFETCH(QString, stallSeconds);
    QFETCH(QString, release);
    QFETCH(int, exitCode);
    QFETCH(int, uploadedBytes);

    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(createUnit(bus));
    QStringList fault{QStringLiteral("stall-otp-upload")};
    if (!stallSeconds.isEmpty())
        fault << stallSeconds;
    QVERIFY(bus.unitCommand(QStringLiteral("fault"), QStringLiteral("unit"), fault));
    const QString target = bus.workFile(QStringLiteral("otp.bin"));
    const QString marker = QDir(bus.unitDir(QStringLiteral("unit"))).filePath(QStringLiteral("stalled"));

    const auto process = bus.startDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                           QStringLiteral("2"), QStringLiteral("-s"), QStringLiteral("0x1FFF7800:512"),
                                           QStringLiteral("-U"), target});
    QVERIFY(process->waitForStarted(30000));
    if (!release.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 30000);
        QCOMPARE(process->state(), QProcess::Running);
        // The hanging run holds the interface; nobody else gets the unit.
        const DfuRun second = bus.runDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"),
                                              QStringLiteral("0"), QStringLiteral("-s"),
                                              QStringLiteral("0x08000000:16"), QStringLiteral("-U"),
                                              bus.workFile(QStringLiteral("second.bin"))});
        QCOMPARE(second.exitCode, dfuUtilIoError);
        QVERIFY2(second.errors.contains(QStringLiteral("Cannot claim interface - LIBUSB_ERROR_BUSY")),
                 qPrintable(second.errors));
        QCOMPARE(process->state(), QProcess::Running);
        if (release == QLatin1String("unplug"))
            QVERIFY(bus.unitCommand(QStringLiteral("unplug"), QStringLiteral("unit")));
        else
            QVERIFY(bus.unitCommand(QStringLiteral("fault"), QStringLiteral("unit"),
                                    {QStringLiteral("stall-otp-upload"), QStringLiteral("off")}));
    }

    QVERIFY(process->waitForFinished(60000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), exitCode);
    QCOMPARE(readWholeFile(target).size(), uploadedBytes);
    if (uploadedBytes > 0)
        QCOMPARE(readWholeFile(target), bus.otp(QStringLiteral("unit")).left(uploadedBytes));
    QVERIFY(!QFile::exists(marker));
}

// Some STM32 parts fail the status request that follows the leave request
// although the image is in: dfu-util reports an I/O error, the unit restarts.
void TestDfuUtilFaults::failedStatusAfterLeave()
{
    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(createUnit(bus, {QStringLiteral("--return-delay"), QStringLiteral("500")}));
    QVERIFY(bus.unitCommand(QStringLiteral("fault"), QStringLiteral("unit"), {QStringLiteral("leave-status-error")}));

    const DfuRun run = bus.runDfuUtil(download(QStringLiteral("0x08000000:leave"), firmwareBinPath()));

    QCOMPARE(run.exitCode, dfuUtilIoError);
    QVERIFY2(run.errors.contains(QStringLiteral("Error during download get_status")), qPrintable(run.errors));
    const QByteArray image = firmwareImage();
    QCOMPARE(bus.flash(QStringLiteral("unit")).left(image.size()), image);
    QTRY_COMPARE_WITH_TIMEOUT(bus.runDfuUtil(listArguments).deviceLines().size(), 4, 60000);
}

void TestDfuUtilFaults::pollTimeouts_data()
{
    QTest::addColumn<QString>("timing");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("pollMs");

    QTest::newRow("fast timing reports no wait for an erase")
        << QStringLiteral("fast") << QStringLiteral("0x08000000") << 0;
    QTest::newRow("realistic timing reports a quarter second for a 16 KiB sector")
        << QStringLiteral("realistic") << QStringLiteral("0x08000000") << 250;
    QTest::newRow("realistic timing reports half a second for the 64 KiB sector")
        << QStringLiteral("realistic") << QStringLiteral("0x08010000") << 500;
    QTest::newRow("realistic timing reports a second for a 128 KiB sector")
        << QStringLiteral("realistic") << QStringLiteral("0x080E0000") << 1000;
}

void TestDfuUtilFaults::pollTimeouts()
{
    QFETCH(QString, timing);
    QFETCH(QString, address);
    QFETCH(int, pollMs);

    VirtualBus bus;
    QVERIFY(bus.isValid());
    QVERIFY(createUnit(bus));
    QVERIFY(bus.unitCommand(QStringLiteral("timing"), QStringLiteral("unit"), {timing}));
    const QByteArray block = firmwareImage().left(2048);
    QVERIFY(bus.writeWorkFile(QStringLiteral("block.bin"), block));

    const DfuRun run = bus.runDfuUtil(QStringList{QStringLiteral("-v"), QStringLiteral("-v")}
                                      + download(address, bus.workFile(QStringLiteral("block.bin"))));

    QVERIFY2(run.exitCode == 0, qPrintable(run.output + run.errors));
    QCOMPARE(erasePollTimeout(run.errors), pollMs);
    const int offset = address.toInt(nullptr, 16) - 0x08000000;
    QCOMPARE(bus.flash(QStringLiteral("unit")).mid(offset, block.size()), block);
}

QTEST_GUILESS_MAIN(TestDfuUtilFaults)
#include "tst_dfu_util_faults.moc"
