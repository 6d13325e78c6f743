#include "dfu/dfu_command.h"
#include "dfu/dfu_scan.h"
#include "dfu_test_support.h"
#include "support/log_capture.h"

#include <QtTest>

namespace {

const QString expectedWarning = QStringLiteral(
    "A unit in DFU mode (0483:df11) is attached but cannot be opened: permission denied "
    "(LIBUSB_ERROR_ACCESS). Install the udev rule 70-lumarex-arc31-dfu.rules "
    "(see \"USB permissions\" in the README), then reconnect the unit.");

// What dfu-util 0.11 prints for a unit the user may not open: the banner on
// standard output, the refusal on standard error, and no device line.
const QByteArray deniedListing =
    "echo 'dfu-util 0.11'\n"
    "echo 'Cannot open DFU device 0483:df11 found on devnum 7 (LIBUSB_ERROR_ACCESS)' >&2\n";

} // namespace

class TestUsbPermissionHint : public QObject
{
    Q_OBJECT

private slots:
    void deniedUnitIsNamedOncePerRun();
};

void TestUsbPermissionHint::deniedUnitIsNamedOncePerRun()
{
    CommandTableGuard guard;
    StandInPrograms programs;
    dfuUtilDirectory.clear();
    dfuCommandEntry(DfuCommand::List).program = programs.write(QStringLiteral("other"),
        "echo 'Cannot open DFU device 1d50:6089 found on devnum 3 (LIBUSB_ERROR_ACCESS)' >&2\n");
    {
        LogCapture log;
        QCOMPARE(scanDfuDevices().code, 1);
        QCOMPARE(log.texts(), QStringList());
    }

    dfuCommandEntry(DfuCommand::List).program = programs.write(QStringLiteral("denied"), deniedListing);
    LogCapture log;
    for (int poll = 0; poll < 3; ++poll) {
        const DfuScanResult scan = scanDfuDevices();
        QCOMPARE(scan.code, 1);
        QVERIFY(scan.serials.isEmpty());
    }
    QCOMPARE(log.entries().size(), 1);
    QCOMPARE(log.entries().first().type, QtWarningMsg);
    QCOMPARE(log.texts().first(), expectedWarning);
}

QTEST_GUILESS_MAIN(TestUsbPermissionHint)
#include "tst_usb_permission_hint.moc"
