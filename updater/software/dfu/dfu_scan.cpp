#include "dfu/dfu_scan.h"

#include "dfu/dfu_command.h"
#include "dfu/dfu_runner.h"

#include <QDebug>
#include <QRegularExpression>

#include <atomic>

namespace {

// Compiled once: the scan runs on every poll.
const QRegularExpression &foundDfuPattern()
{
    static const QRegularExpression pattern(foundDfuPatternText);
    return pattern;
}

const QRegularExpression &serialPattern()
{
    static const QRegularExpression pattern(serialPatternText);
    return pattern;
}

// dfu-util leaves a unit it may not open out of its list, and says so only on
// standard error. Without a hint the tool would wait for ever showing no unit.
void warnOnceIfUnitIsInaccessible(const DfuResult &list)
{
    static const QRegularExpression accessDenied(
        QStringLiteral("Cannot open DFU device 0483:df11 .*\\(LIBUSB_ERROR_ACCESS\\)"));
    static std::atomic<bool> warned{false};
    if (warned || !accessDenied.match(list.errorOutput + list.output).hasMatch())
        return;
    warned = true;
    qWarning() << "A unit in DFU mode (0483:df11) is attached but cannot be opened: permission denied"
               << "(LIBUSB_ERROR_ACCESS). Install the udev rule 70-lumarex-arc31-dfu.rules"
               << "(see \"USB permissions\" in the README), then reconnect the unit.";
}

DfuDeviceStatus verdict(int serialCount, int lineCount)
{
    if (serialCount == 0)
        return no_dfu_device;
    if (serialCount > 1)
        return multiple_dfu_devices;
    // The STM32 DfuSe bootloader shows four interfaces: flash, option bytes, OTP, features.
    return lineCount == 4 ? one_dfu_device : invalid_dfu_device;
}

} // namespace

QString dfuDeviceStatusName(DfuDeviceStatus status)
{
    switch (status) {
    case no_dfu_device: return QStringLiteral("no_dfu_device");
    case one_dfu_device: return QStringLiteral("one_dfu_device");
    case invalid_dfu_device: return QStringLiteral("invalid_dfu_device");
    case multiple_dfu_devices: return QStringLiteral("multiple_dfu_devices");
    }
    return QString();
}

DfuListParse parseDfuList(const QString &output)
{
    DfuListParse parse;
    int lineCount = 0;
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (!foundDfuPattern().match(line).hasMatch())
            continue;
        const QRegularExpressionMatch serial = serialPattern().match(line);
        if (!serial.hasMatch()) {
            qDebug() << line;
            parse.status = no_dfu_device;
            parse.count = 0;
            return parse;
        }
        ++lineCount;
        const QString number = serial.captured(1);
        if (parse.serials.isEmpty() || parse.serials.last() != number)
            parse.serials.append(number);
    }
    parse.count = parse.serials.size();
    parse.status = verdict(parse.count, lineCount);
    return parse;
}

DfuScanResult scanDfuDevices()
{
    const DfuResult list = runDfuCommand(DfuCommand::List);
    warnOnceIfUnitIsInaccessible(list);
    DfuScanResult scan;
    if (list.exitCode != 0)
        return scan;
    const DfuListParse parse = parseDfuList(list.output);
    scan.code = parse.status == one_dfu_device ? 0 : 1;
    scan.serials = parse.serials;
    return scan;
}
