#include "device/product_info.h"
#include "device_test_support.h"

#include <QDebug>
#include <QTextStream>
#include <QtTest>

Q_DECLARE_METATYPE(ProductInfo)

class TestProductInfo : public QObject {
    Q_OBJECT

private slots:
    void tableHoldsTheTenRowsInOrder();

    void normalizeProductType_data();
    void normalizeProductType();

    void fromProductWord_data();
    void fromProductWord();

    void textForm_data();
    void textForm();

    void productCode_data();
    void productCode();
    void modelAndDisplayName_data();
    void modelAndDisplayName();
    void productTypeFromCode_data();
    void productTypeFromCode();

    void reservedTypes();

    void sameProduct_data();
    void sameProduct();

    void debugStreamWritesTextFormsUnquoted();
    void textStreamWritesProductCode();
};

void TestProductInfo::tableHoldsTheTenRowsInOrder()
{
    QList<int> types;
    QStringList codes;
    for (const ProductTableEntry &row : productTable()) {
        types.append(row.type);
        codes.append(row.code);
    }
    QCOMPARE(types, (QList<int>{0, 255, 3, 4, 43, 11, 132, 30, 140, 254}));
    QCOMPARE(codes, (QStringList{"invalid", "undefined", "HLCN", "BRVA", "RVET", "Q4I", "TORV", "KITE", "FJRD",
                                 "unknown"}));
    QCOMPARE(productTable()[8].displayName, QStringLiteral("Lumarex M50 Plus<br>Lumarex M50"));
    QCOMPARE(productTable()[3].codename, QStringLiteral("Brava"));
}

void TestProductInfo::normalizeProductType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("normalized");

    QTest::newRow("invalid type 0 stays 0") << 0 << 0;
    QTest::newRow("undefined type 255 stays 255") << 255 << 255;
    QTest::newRow("a literal 254 stays 254") << 254 << 254;
    QTest::newRow("the Arc-31's type 4 stays 4") << 4 << 4;
    QTest::newRow("type 140 of the last product row stays 140") << 140 << 140;
    QTest::newRow("type 7 without a row gives -2") << 7 << -2;
    QTest::newRow("type 1 without a row gives -2") << 1 << -2;
    QTest::newRow("type 253 without a row gives -2") << 253 << -2;
}

void TestProductInfo::normalizeProductType()
{
    QFETCH(int, type);
    QFETCH(int, normalized);
    QCOMPARE(::normalizeProductType(quint8(type)), normalized);
}

void TestProductInfo::fromProductWord_data()
{
    QTest::addColumn<quint32>("word");
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<int>>("subtype");
    QTest::addColumn<int>("rawType");

    QTest::newRow("stored 04 FF FF FF is type 4 without subtype")
        << quint32(0xFFFFFF04) << 4 << QList<int>{0xFF, 0xFF, 0xFF} << 4;
    QTest::newRow("stored 04 01 02 03 keeps the subtype bytes in order")
        << quint32(0x03020104) << 4 << QList<int>{0x01, 0x02, 0x03} << 4;
    QTest::newRow("stored 07 FF FF FF has no row and becomes 254")
        << quint32(0xFFFFFF07) << 254 << QList<int>{0xFF, 0xFF, 0xFF} << 7;
    QTest::newRow("stored FE FF FF FF is 254 read literally")
        << quint32(0xFFFFFFFE) << 254 << QList<int>{0xFF, 0xFF, 0xFF} << 254;
    QTest::newRow("stored FF FF FF FF is undefined")
        << quint32(0xFFFFFFFF) << 255 << QList<int>{0xFF, 0xFF, 0xFF} << 255;
    QTest::newRow("stored 00 00 00 00 is invalid with subtype 00 00 00")
        << quint32(0) << 0 << QList<int>{0, 0, 0} << 0;
}

void TestProductInfo::fromProductWord()
{
    QFETCH(quint32, word);
    QFETCH(int, type);
    QFETCH(QList<int>, subtype);
    QFETCH(int, rawType);

    const ProductInfo product = ::fromProductWord(word);
    QCOMPARE(int(product.type), type);
    QCOMPARE((QList<int>{product.subtype[0], product.subtype[1], product.subtype[2]}), subtype);
    QCOMPARE(product.rawType, rawType);
}

void TestProductInfo::textForm_data()
{
    QTest::addColumn<ProductInfo>("product");
    QTest::addColumn<QString>("text");

    QTest::newRow("04 FF FF FF shows only code and type")
        << ::fromProductWord(0xFFFFFF04) << "ProductInfo: BRVA (4)";
    QTest::newRow("04 01 FF FF shows raw type and subtype")
        << ::fromProductWord(0xFFFF0104) << "ProductInfo: BRVA (4) [04 01 ff ff]";
    QTest::newRow("04 00 00 00 shows raw type and subtype")
        << ::fromProductWord(0x00000004) << "ProductInfo: BRVA (4) [04 00 00 00]";
    QTest::newRow("07 FF FF FF without a row shows the raw type")
        << ::fromProductWord(0xFFFFFF07) << "ProductInfo: unknown (254) [07 ff ff ff]";
    QTest::newRow("a literal 254 shows its raw type fe")
        << ::fromProductWord(0xFFFFFFFE) << "ProductInfo: unknown (254) [fe ff ff ff]";
    QTest::newRow("FF FF FF FF is undefined") << ::fromProductWord(0xFFFFFFFF) << "ProductInfo: undefined (255)";
    QTest::newRow("type 140 prints three digits") << ::fromProductWord(0xFFFFFF8C) << "ProductInfo: FJRD (140)";
    QTest::newRow("the default ProductInfo is invalid") << ProductInfo() << "ProductInfo: invalid (0)";
}

void TestProductInfo::textForm()
{
    QFETCH(ProductInfo, product);
    QFETCH(QString, text);
    QCOMPARE(product.toString(), text);
}

void TestProductInfo::productCode_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("code");

    QTest::newRow("type 4 is BRVA") << 4 << "BRVA";
    QTest::newRow("type 11 is Q4I") << 11 << "Q4I";
    QTest::newRow("type 0 is invalid") << 0 << "invalid";
    QTest::newRow("type 255 is undefined") << 255 << "undefined";
    QTest::newRow("type 254 is unknown") << 254 << "unknown";
    QTest::newRow("type 200 has no row") << 200 << "impossible type";
    QTest::newRow("-2 is no byte and has no row") << -2 << "impossible type";
}

void TestProductInfo::productCode()
{
    QFETCH(int, type);
    QFETCH(QString, code);
    QCOMPARE(::productCode(type), code);
}

void TestProductInfo::modelAndDisplayName_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("displayName");

    QTest::newRow("type 4 is the Arc-31") << 4 << "Arc-31" << "Lumarex Arc-31";
    QTest::newRow("type 0 is not available") << 0 << "N/A" << "N/A";
    QTest::newRow("type 254 is unknown") << 254 << "unknown" << "unknown";
    QTest::newRow("type 255 is a question mark") << 255 << "?" << "?";
    QTest::newRow("type 140 shows two names with a line break")
        << 140 << "M50" << "Lumarex M50 Plus<br>Lumarex M50";
    QTest::newRow("type 7 has no row and no names") << 7 << "" << "";
}

void TestProductInfo::modelAndDisplayName()
{
    QFETCH(int, type);
    QFETCH(QString, model);
    QFETCH(QString, displayName);

    ProductInfo product;
    product.type = quint8(type);
    QCOMPARE(productModel(product), model);
    QCOMPARE(productDisplayName(product), displayName);
}

void TestProductInfo::productTypeFromCode_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("type");

    QTest::newRow("an empty code gives 0") << "" << 0;
    QTest::newRow("BRVA gives 4") << "BRVA" << 4;
    QTest::newRow("FJRD gives 140") << "FJRD" << 140;
    QTest::newRow("undefined gives 255") << "undefined" << 255;
    QTest::newRow("lower-case brva matches nothing") << "brva" << -2;
    QTest::newRow("a code with a trailing space matches nothing") << "BRVA " << -2;
}

void TestProductInfo::productTypeFromCode()
{
    QFETCH(QString, code);
    QFETCH(int, type);
    QCOMPARE(::productTypeFromCode(code), type);
}

void TestProductInfo::reservedTypes()
{
    QList<int> notDefined;
    QList<int> notKnown;
    for (int type = 0; type <= 255; ++type) {
        if (!isDefinedProductType(type))
            notDefined.append(type);
        if (!isKnownProductType(type))
            notKnown.append(type);
    }
    QCOMPARE(notDefined, (QList<int>{0, 255}));
    QCOMPARE(notKnown, (QList<int>{0, 254, 255}));
    // -2 from a failed lookup is 254 stored in a byte.
    QVERIFY(isDefinedProductType(-2));
    QVERIFY(!isKnownProductType(-2));
}

void TestProductInfo::sameProduct_data()
{
    QTest::addColumn<ProductInfo>("first");
    QTest::addColumn<ProductInfo>("second");
    QTest::addColumn<bool>("same");

    QTest::newRow("equal type and subtype are the same product")
        << ::fromProductWord(0xFFFFFF04) << ::fromProductWord(0xFFFFFF04) << true;
    QTest::newRow("subtype 01 FF FF differs from FF FF FF")
        << ::fromProductWord(0xFFFF0104) << ::fromProductWord(0xFFFFFF04) << false;
    QTest::newRow("a different last subtype byte differs")
        << ::fromProductWord(0x01FFFF04) << ::fromProductWord(0xFFFFFF04) << false;
    QTest::newRow("types 3 and 4 differ") << ::fromProductWord(0xFFFFFF03) << ::fromProductWord(0xFFFFFF04) << false;
    QTest::newRow("raw types 7 and 254 are both the unknown product")
        << ::fromProductWord(0xFFFFFF07) << ::fromProductWord(0xFFFFFFFE) << true;
    QTest::newRow("the default equals a read of 00 FF FF FF")
        << ProductInfo() << ::fromProductWord(0xFFFFFF00) << true;
}

void TestProductInfo::sameProduct()
{
    QFETCH(ProductInfo, first);
    QFETCH(ProductInfo, second);
    QFETCH(bool, same);
    QCOMPARE(first.identifiesSameProductAs(second), same);
    QCOMPARE(second.identifiesSameProductAs(first), same);
}

void TestProductInfo::debugStreamWritesTextFormsUnquoted()
{
    LogCapture log;
    qDebug() << "before" << ::fromProductWord(0xFFFF0104) << QStringLiteral("after");
    qDebug() << ProductType{4} << ProductType{200} << QStringLiteral("quoted");
    QCOMPARE(log.lines(), (QStringList{
                              "debug: before ProductInfo: BRVA (4) [04 01 ff ff] \"after\"",
                              "debug: BRVA impossible type \"quoted\"",
                          }));
}

void TestProductInfo::textStreamWritesProductCode()
{
    QString text;
    QTextStream stream(&text);
    stream << ProductType{43} << '/' << ProductType{254};
    stream.flush();
    QCOMPARE(text, QStringLiteral("RVET/unknown"));
}

QTEST_GUILESS_MAIN(TestProductInfo)
#include "tst_product_info.moc"
