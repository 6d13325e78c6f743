#include "device/device_info.h"

#include "app/workdir.h"

#include <QDebug>

#include <cstdio>

QString DeviceInfo::toString() const
{
    QString text = QStringLiteral("DeviceInfo:\n");
    if (!valid)
        return text + QStringLiteral("Invalid");
    return text + QStringLiteral("\tDevice type:\t%1\n\tFW_revision:\t%2\n").arg(QString::number(deviceType), fwRevision);
}

bool DeviceInfo::device_has_valid_type(quint8 desiredType) const
{
    std::printf("device_has_valid_type(%i): valid %i, device_type: %i\n", int(desiredType), int(valid),
                int(deviceType));
    std::fflush(stdout);
    return valid && deviceType == desiredType;
}

bool DeviceInfo::hasEmptyOtp() const
{
    return otp.blank;
}

// An empty desired revision means the embedded image could not be read: no
// device can then be said to carry it, least of all one without a readable block.
bool DeviceInfo::hasSameRevision(const QString &desiredRevision) const
{
    return valid && !desiredRevision.isEmpty() && fwRevision == desiredRevision;
}

QDebug operator<<(QDebug debug, const DeviceInfo &info)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << info.toString();
    return debug;
}

const FwInfo &desiredFwInfo()
{
    static bool loadPending = true;
    static FwInfo desired;
    if (loadPending) {
        loadPending = false;
        const QString path = workFilePath(firmwareBinFileName);
        qDebug() << "Reading desired FW_Info from " << path;
        desired = readFwInfoFile(path);
    }
    return desired;
}

DesiredFirmware desiredFirmwareFrom(const FwInfo &info)
{
    return DesiredFirmware{info.name, info.product.type, info.revision};
}
