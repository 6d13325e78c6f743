#include "gui/circle.h"

#include <QBrush>
#include <QPainter>
#include <QPen>

Circle::Circle(int x, int y, int radius_, int penWidth_, const QColor &color_, QWidget *parent)
    : QWidget(parent)
    , centerX(x)
    , centerY(y)
    , radius(radius_)
    , penWidth(penWidth_)
    , color(color_)
{
    setBackgroundRole(QPalette::Base);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(2 * radius, 2 * radius);
    move(centerX - radius, centerY - radius);
}

QRect Circle::ringRect() const
{
    const int a = radius - penWidth / 2;
    return QRect(QPoint(radius - a, radius - a), QPoint(radius + a - 1, radius + a - 1));
}

void Circle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QBrush(color, Qt::SolidPattern), static_cast<qreal>(penWidth), Qt::SolidLine,
                        Qt::SquareCap, Qt::BevelJoin));
    painter.drawEllipse(ringRect());
}
