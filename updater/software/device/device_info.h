#pragma once

#include "device/fw_info.h"
#include "device/otp_info.h"

#include <QString>

class QDebug;

// What is known of the connected device.
struct DeviceInfo {
    bool valid = false;
    QString fwRevision;
    OtpInfo otp;
    FwInfo fw;
    quint8 deviceType = 0;

    QString toString() const;

    // Prints "device_has_valid_type(%i): valid %i, device_type: %i\n" on standard output.
    bool device_has_valid_type(quint8 desiredType) const;
    bool hasEmptyOtp() const;
    bool hasSameRevision(const QString &desiredRevision) const;
};

QDebug operator<<(QDebug debug, const DeviceInfo &info);

// Name, product type and revision of the embedded firmware image.
struct DesiredFirmware {
    QString name;
    quint8 type = 0;
    QString revision;
};

// The embedded image's block, read from the extracted firmware.bin on first use.
const FwInfo &desiredFwInfo();
DesiredFirmware desiredFirmwareFrom(const FwInfo &info);
