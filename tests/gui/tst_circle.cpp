#include "gui/circle.h"
#include "support/log_capture.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

class TestCircle : public QObject
{
    Q_OBJECT

private slots:
    void placementAndRing_data();
    void placementAndRing();
    void paintsOnlyTheRing();
    void invalidColourStillPaintsWithoutMessage();
};

void TestCircle::placementAndRing_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("radius");
    QTest::addColumn<int>("penWidth");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QRect>("ring");

    QTest::newRow("the embedded marker draws half a pen inside its edge")
        << 295 << 287 << 20 << 5 << QRect(275, 267, 40, 40) << QRect(QPoint(2, 2), QPoint(37, 37));
    QTest::newRow("a zero pen draws on the edge")
        << 50 << 60 << 10 << 0 << QRect(40, 50, 20, 20) << QRect(QPoint(0, 0), QPoint(19, 19));
    QTest::newRow("the scaled marker") << 369 << 359 << 25 << 6 << QRect(344, 334, 50, 50)
                                       << QRect(QPoint(3, 3), QPoint(46, 46));
    QTest::newRow("a pen wider than the ring inverts the rectangle")
        << 10 << 10 << 5 << 12 << QRect(5, 5, 10, 10) << QRect(QPoint(6, 6), QPoint(3, 3));
    QTest::newRow("radius 0 gives an empty widget") << 7 << 8 << 0 << 2 << QRect(7, 8, 0, 0)
                                                    << QRect(QPoint(1, 1), QPoint(-2, -2));
}

void TestCircle::placementAndRing()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, radius);
    QFETCH(int, penWidth);
    QFETCH(QRect, geometry);
    QFETCH(QRect, ring);

    QWidget parent;
    const Circle circle(x, y, radius, penWidth, QColor(0x60, 0xFF, 0x40, 0x40), &parent);
    QCOMPARE(circle.geometry(), geometry);
    QCOMPARE(circle.minimumSize(), geometry.size());
    QCOMPARE(circle.maximumSize(), geometry.size());
    QCOMPARE(circle.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(circle.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(circle.backgroundRole(), QPalette::Base);
    QCOMPARE(circle.ringRect(), ring);
    QCOMPARE(circle.ringRect().isValid(), radius * 2 > penWidth && radius > 0);
}

void TestCircle::paintsOnlyTheRing()
{
    const QColor colour = QColor::fromRgba(0x60FF4040);
    Circle circle(20, 20, 20, 5, colour);
    QImage image(circle.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    circle.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);

    // On the stroke: the colour with its alpha; inside and in the corners: nothing.
    const QColor onRing = image.pixelColor(2, 20);
    QCOMPARE(onRing.alpha(), 0x60);
    QCOMPARE(onRing.red(), 0xFF);
    QVERIFY(qAbs(onRing.green() - 0x40) <= 2);
    QVERIFY(qAbs(onRing.blue() - 0x40) <= 2);
    QCOMPARE(image.pixelColor(37, 20).alpha(), 0x60);
    QCOMPARE(image.pixelColor(20, 2).alpha(), 0x60);
    QCOMPARE(image.pixelColor(20, 20).alpha(), 0);
    QCOMPARE(image.pixelColor(10, 20).alpha(), 0);
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
}

void TestCircle::invalidColourStillPaintsWithoutMessage()
{
    const LogCapture log;
    Circle circle(10, 10, 10, 4, QColor());
    QVERIFY(!circle.color.isValid());
    QImage image(circle.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    circle.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QCOMPARE(image.pixelColor(10, 10).alpha(), 0);
    QCOMPARE(log.texts(), QStringList());
}

QTEST_MAIN(TestCircle)
#include "tst_circle.moc"
