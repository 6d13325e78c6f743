// Feeds arbitrary dfu-util list output to parseDfuList and checks what every
// verdict must satisfy, and that CR LF line ends give the same verdict as LF.
#include "dfu/dfu_runner.h"
#include "fuzz_support.h"
#include "dfu/dfu_scan.h"

#include <QRegularExpression>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {


bool sameParse(const DfuListParse &a, const DfuListParse &b)
{
    return a.status == b.status && a.count == b.count && a.serials == b.serials;
}

// Lines that begin as a bootloader's interface line does, counted without the parser's patterns.
int deviceLineCount(const QString &output)
{
    int count = 0;
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString &line : lines)
        count += line.startsWith(QLatin1String("Found DFU: [0483:df11] ver=2200")) ? 1 : 0;
    return count;
}

void checkVerdict(const DfuListParse &parse, const QString &output)
{
    static const QRegularExpression hexDigits(QStringLiteral("\\A[0-9a-fA-F]+\\z"));

    require(!dfuDeviceStatusName(parse.status).isEmpty());
    // count is the number of serials when the parse ran to its end, else 0.
    require(parse.count == 0 || parse.count == parse.serials.size());
    switch (parse.status) {
    case no_dfu_device:
        require(parse.count == 0);
        break;
    case one_dfu_device:
        // Exactly the four interfaces of the DfuSe bootloader.
        require(parse.count == 1 && deviceLineCount(output) == 4);
        break;
    case invalid_dfu_device:
        require(parse.count == 1 && deviceLineCount(output) != 4);
        break;
    case multiple_dfu_devices:
        require(parse.count > 1 && deviceLineCount(output) >= parse.count);
        break;
    default:
        require(false);
    }
    for (int i = 0; i < parse.serials.size(); ++i) {
        const QString &serial = parse.serials.at(i);
        require(hexDigits.match(serial).hasMatch());
        require(output.contains(QStringLiteral("serial=\"%1\"").arg(serial)));
        // Only a change of serial from one device line to the next adds an entry.
        require(i == 0 || parse.serials.at(i - 1) != serial);
    }
}

} // namespace

// dfu_scan.cpp holds scanDfuDevices beside the parser, and with it a call of the
// runner, which starts dfu-util; this target never scans, so the runner is
// replaced by one that stops the fuzzer should anything reach it.
DfuResult runDfuCommand(DfuCommand, const QStringList &)
{
    std::abort();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(dropMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Decoded as the runner decodes dfu-util's output.
    const QString output = textUpToNul(data, size);

    const DfuListParse parse = parseDfuList(output);
    checkVerdict(parse, output);

    // A carriage return before every line feed must not change the verdict.
    QString crlf = output;
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    require(sameParse(parseDfuList(crlf), parse));
    return 0;
}
