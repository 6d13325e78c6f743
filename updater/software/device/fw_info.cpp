#include "device/fw_info.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>

namespace {

constexpr char startMarker[] = "\x12\x47\x23\x01"; // 0x01234712, little-endian
constexpr char endMarker[] = "\x13\x47\x23\x01";   // 0x01234713, little-endian
constexpr int markerSize = 4;
constexpr int lastMarkerOffset = 1948; // the block must lie within the first 1952 bytes
constexpr int productWordOffset = 4;
constexpr int nameOffset = 8;
constexpr int revisionOffset = 40;
constexpr int pairsOffset = 72;
constexpr int fieldSize = 32;
constexpr int pairSize = 2 * fieldSize;

int indexOfMarker(const QByteArray &data, const char *marker)
{
    return data.indexOf(QByteArray::fromRawData(marker, markerSize));
}

} // namespace

QString readFwInfoField(const QByteArray &data, int offset)
{
    if (offset < 0 || offset >= data.size())
        return QString();
    const QByteArray field = QByteArray::fromRawData(data.constData() + offset,
                                                     qMin(fieldSize, data.size() - offset));
    const int nul = field.indexOf('\0');
    // Without its terminator the field holds no text.
    return nul < 0 ? QString() : QString::fromUtf8(field.constData(), nul);
}

FwInfo parseFwInfo(const QByteArray &data)
{
    FwInfo info;
    const int begin = indexOfMarker(data, startMarker);
    const int end = indexOfMarker(data, endMarker);
    if (begin < 0 || end < 0) {
        qDebug() << "index_beg = " << begin << "index_end = " << end;
        return info;
    }
    if (begin > lastMarkerOffset || end > lastMarkerOffset)
        return info;
    const int pairBytes = end - begin - pairsOffset;
    if (pairBytes < 0 || pairBytes % pairSize != 0) {
        qDebug() << "index_beg = " << begin << "index_end = " << end << "nr_of_pair_bytes =" << pairBytes;
        return info;
    }

    const uchar *block = reinterpret_cast<const uchar *>(data.constData()) + begin;
    info.product = fromProductWord(qFromLittleEndian<quint32>(block + productWordOffset));
    info.name = readFwInfoField(data, begin + nameOffset);
    info.revision = readFwInfoField(data, begin + revisionOffset);
    for (int pair = begin + pairsOffset; pair < end; pair += pairSize) {
        const QString key = readFwInfoField(data, pair);
        const QString value = readFwInfoField(data, pair + fieldSize);
        if (key.isEmpty() || value.isEmpty())
            break;
        info.details.append(qMakePair(key, value));
    }
    info.valid = true;
    return info;
}

FwInfo readFwInfoFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FwInfo();
    return parseFwInfo(file.readAll());
}

QString FwInfo::toString() const
{
    QString text = QStringLiteral("FW info:\n");
    if (!valid)
        return text + QStringLiteral("\tInvalid");
    text += QStringLiteral("  Type: %1\n").arg(product.toString());
    text += QStringLiteral("  Name: ") + name + QLatin1Char('\n');
    text += QStringLiteral("  Rev.: ") + revision + QLatin1Char('\n');
    text += QStringLiteral("  Details:");
    for (const auto &[key, value] : details)
        text += QStringLiteral("\n    ") + key.leftJustified(31) + QStringLiteral(": ") + value.leftJustified(31);
    return text;
}

QDebug operator<<(QDebug debug, const FwInfo &info)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << info.toString();
    return debug;
}
