#include "dfu/device_reader.h"

#include "app/workdir.h"
#include "dfu/dfu_runner.h"

#include <QDebug>

namespace {

QString productMismatchText(const DeviceInfo &info)
{
    return QStringLiteral("FW assumed invalid because of product type mismatch.") + QStringLiteral("\nOTP contains")
        + info.otp.product.toString() + QStringLiteral("\nwhereas FW contains\n") + info.fw.toString();
}

} // namespace

DfuResult readDeviceInfo(DeviceInfo &info)
{
    const QString otpPath = workFilePath(WorkFile::UploadedOtp);
    removeFileIfExists(otpPath);
    DfuResult result = runDfuCommand(DfuCommand::UploadOtp, {otpPath});
    if (result.exitCode != 0)
        return result;

    info.otp = readOtpInfoFile(otpPath);
    if (info.otp.blank)
        qInfo().noquote() << result.output << "OTP is blank.\n";
    info.valid = true;
    info.deviceType = info.otp.product.type;
    qInfo() << info.otp.toString();

    info.fw = readFwInfoFromDevice();
    if (info.fw.product.identifiesSameProductAs(info.otp.product)) {
        info.fwRevision = info.fw.revision;
        qInfo().noquote() << info.toString();
        qInfo().noquote() << info.fw.toString();
        return result;
    }

    // A block of another product says nothing about this device's firmware.
    result.output += productMismatchText(info);
    qInfo().noquote() << result.output;
    info.fw.valid = false;
    return result;
}

FwInfo readFwInfoFromDevice()
{
    const QString fwInfoPath = workFilePath(WorkFile::UploadedFwInfo);
    removeFileIfExists(fwInfoPath);
    if (runDfuCommand(DfuCommand::UploadFwInfo, {fwInfoPath}).exitCode != 0)
        return FwInfo();
    return readFwInfoFile(fwInfoPath);
}
