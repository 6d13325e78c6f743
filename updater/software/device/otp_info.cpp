#include "device/otp_info.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>

#include <algorithm>

namespace {

constexpr char recordMarker[] = "\x11\x47\x23\x01"; // 0x01234711, little-endian
constexpr int markerSize = 4;
constexpr int recordSize = 16;
constexpr int slotSize = 16;
constexpr int lastRecordOffset = 497;
constexpr int productWordOffset = 4;
constexpr int extraOffset = 8;

bool isBlank(const QByteArray &dump)
{
    return std::all_of(dump.cbegin(), dump.cend(), [](char byte) { return quint8(byte) == 0xFF; });
}

// Offset of the record the dump's last marker starts, or -1 when that marker
// is misplaced or its record is cut short by the end of the dump.
int recordOffset(const QByteArray &dump)
{
    const int marker = dump.lastIndexOf(QByteArray::fromRawData(recordMarker, markerSize));
    if (marker < 0 || marker % slotSize != 0 || marker > lastRecordOffset)
        return -1;
    if (dump.size() - marker < recordSize)
        return -1;
    return marker;
}

} // namespace

QString OtpInfo::toString() const
{
    return QStringLiteral("OTP info:\nMarker %1\nProduct: %2\n")
        .arg(valid ? QStringLiteral("valid") : QStringLiteral("invalid"), product.toString());
}

OtpInfo parseOtpInfo(const QByteArray &dump)
{
    OtpInfo otp;
    if (isBlank(dump)) {
        otp.blank = true;
        return otp;
    }
    const int offset = recordOffset(dump);
    if (offset < 0)
        return otp;

    const uchar *record = reinterpret_cast<const uchar *>(dump.constData()) + offset;
    otp.product = fromProductWord(qFromLittleEndian<quint32>(record + productWordOffset));
    std::copy_n(record + extraOffset, otp.extra.size(), otp.extra.begin());

    if (isDefinedProductType(otp.product.type)) {
        otp.valid = true;
        if (!isKnownProductType(otp.product.type)) {
            qInfo() << "Unknown device type according to OTP info, " << otp.product.toString();
            otp.product.type = 0;
            otp.valid = false;
        }
    } else {
        qInfo() << "Device not used, has invalid info in its OTP info.";
    }
    return otp;
}

OtpInfo readOtpInfoFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return OtpInfo();
    return parseOtpInfo(file.readAll());
}

QDebug operator<<(QDebug debug, const OtpInfo &otp)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << otp.toString();
    return debug;
}
