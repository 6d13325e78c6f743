#pragma once

#include <QColor>
#include <QRect>
#include <QWidget>

// A coloured ring over the window's picture; values are in the parent's pixels.
class Circle : public QWidget
{
    Q_OBJECT

public:
    Circle(int x, int y, int radius, int penWidth, const QColor &color, QWidget *parent = nullptr);

    int centerX;
    int centerY;
    int radius;
    int penWidth;
    QColor color;

    // Rectangle of the drawn ellipse, in the widget's coordinates; the outline
    // lies half a pen width inside the widget's edge.
    QRect ringRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
