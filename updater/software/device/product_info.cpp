#include "device/product_info.h"

#include <QDebug>
#include <QTextStream>

namespace {

constexpr int noRowType = -2; // stored in a byte, this is 254: the "unknown" row

} // namespace

const std::array<ProductTableEntry, 10> &productTable()
{
    static const std::array<ProductTableEntry, 10> table{{
        {0, QStringLiteral("invalid"), QStringLiteral("Invalid"), QStringLiteral("N/A"), QStringLiteral("N/A")},
        {255, QStringLiteral("undefined"), QStringLiteral("Undefined"), QStringLiteral("?"), QStringLiteral("?")},
        {3, QStringLiteral("HLCN"), QStringLiteral("Halcyon"), QStringLiteral("Arc-30"), QStringLiteral("Arc-30 Skylink")},
        {4, QStringLiteral("BRVA"), QStringLiteral("Brava"), QStringLiteral("Arc-31"), QStringLiteral("Lumarex Arc-31")},
        {43, QStringLiteral("RVET"), QStringLiteral("Rivet"), QStringLiteral("Q4"), QStringLiteral("Q4 Skylink")},
        {11, QStringLiteral("Q4I"), QStringLiteral("Q4i"), QStringLiteral("Q4 Industrial"), QStringLiteral("Q4 Industrial")},
        {132, QStringLiteral("TORV"), QStringLiteral("Torva"), QStringLiteral("C7V"), QStringLiteral("Lumarex C7V")},
        {30, QStringLiteral("KITE"), QStringLiteral("Kite"), QStringLiteral("K20"), QStringLiteral("Lumarex K20")},
        {140, QStringLiteral("FJRD"), QStringLiteral("Fjordan"), QStringLiteral("M50"),
         QStringLiteral("Lumarex M50 Plus<br>Lumarex M50")},
        {254, QStringLiteral("unknown"), QStringLiteral("Unknown"), QStringLiteral("unknown"), QStringLiteral("unknown")},
    }};
    return table;
}

namespace {

// Filled during static initialisation, so that both threads later only read it.
[[maybe_unused]] const auto &productTableFilled = productTable();

const ProductTableEntry *rowOfType(int type)
{
    for (const ProductTableEntry &row : productTable()) {
        if (row.type == type)
            return &row;
    }
    return nullptr;
}

QString hexByte(int value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0'));
}

} // namespace

QString ProductInfo::toString() const
{
    QString text = QStringLiteral("ProductInfo: %1 (%2)").arg(productCode(type), QString::number(type));
    const bool subtypeSet = subtype != std::array<quint8, 3>{{0xFF, 0xFF, 0xFF}};
    if (type == 254 || subtypeSet) {
        text += QStringLiteral(" [%1 %2 %3 %4]")
                    .arg(hexByte(rawType), hexByte(subtype[0]), hexByte(subtype[1]), hexByte(subtype[2]));
    }
    return text;
}

bool ProductInfo::identifiesSameProductAs(const ProductInfo &other) const
{
    return type == other.type && subtype == other.subtype;
}

int normalizeProductType(quint8 type)
{
    return rowOfType(type) ? type : noRowType;
}

ProductInfo fromProductWord(quint32 word)
{
    ProductInfo product;
    const quint8 typeByte = static_cast<quint8>(word);
    product.type = static_cast<quint8>(normalizeProductType(typeByte));
    product.subtype = {{static_cast<quint8>(word >> 8), static_cast<quint8>(word >> 16),
                        static_cast<quint8>(word >> 24)}};
    product.rawType = typeByte;
    return product;
}

QString productCode(int type)
{
    const ProductTableEntry *row = rowOfType(type);
    return row ? row->code : QStringLiteral("impossible type");
}

QString productModel(const ProductInfo &product)
{
    const ProductTableEntry *row = rowOfType(product.type);
    return row ? row->model : QString();
}

QString productDisplayName(const ProductInfo &product)
{
    const ProductTableEntry *row = rowOfType(product.type);
    return row ? row->displayName : QString();
}

int productTypeFromCode(const QString &code)
{
    if (code.isEmpty())
        return 0;
    for (const ProductTableEntry &row : productTable()) {
        if (row.code == code)
            return row.type;
    }
    return noRowType;
}

// Byte arithmetic: 0 and 255 wrap to the top of the range, and -2 counts as 254.
bool isDefinedProductType(int type)
{
    return static_cast<quint8>(type - 1) <= 253;
}

bool isKnownProductType(int type)
{
    return static_cast<quint8>(type - 1) <= 252;
}

QDebug operator<<(QDebug debug, const ProductInfo &product)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << product.toString();
    return debug;
}

QDebug operator<<(QDebug debug, ProductType type)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << productCode(type.value);
    return debug;
}

QTextStream &operator<<(QTextStream &stream, ProductType type)
{
    return stream << productCode(type.value);
}
