#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

class QDebug;
class QTextStream;

// One row of the fixed product table.
struct ProductTableEntry {
    quint8 type;
    QString code;
    QString codename;
    QString model;
    QString displayName;
};

// The ten rows, in table order; filled before main() and never changed.
const std::array<ProductTableEntry, 10> &productTable();

// A product identification as read from an OTP record or a firmware block.
struct ProductInfo {
    quint8 type = 0;                            // normalised: always a table row's type
    std::array<quint8, 3> subtype{{0xFF, 0xFF, 0xFF}}; // 0xFF in all three: not set
    qint32 rawType = 0;                         // the type byte as read

    QString toString() const;
    // Same type and subtype bytes; rawType takes no part.
    bool identifiesSameProductAs(const ProductInfo &other) const;
};

int normalizeProductType(quint8 type);
ProductInfo fromProductWord(quint32 word);
QString productCode(int type);
QString productModel(const ProductInfo &product);
QString productDisplayName(const ProductInfo &product);
int productTypeFromCode(const QString &code);
bool isDefinedProductType(int type);
bool isKnownProductType(int type);

// A bare product type, written to a stream as its product code.
struct ProductType {
    quint8 value;
};

QDebug operator<<(QDebug debug, const ProductInfo &product);
QDebug operator<<(QDebug debug, ProductType type);
QTextStream &operator<<(QTextStream &stream, ProductType type);
