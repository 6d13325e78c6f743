#pragma once

#include "device/product_info.h"

#include <QByteArray>
#include <QString>

#include <array>

class QDebug;

// The identification record found in a device's OTP dump.
struct OtpInfo {
    ProductInfo product;
    std::array<quint8, 8> extra{};
    bool valid = false;
    bool blank = false;

    QString toString() const;
};

OtpInfo parseOtpInfo(const QByteArray &dump);
OtpInfo readOtpInfoFile(const QString &path);

QDebug operator<<(QDebug debug, const OtpInfo &otp);
