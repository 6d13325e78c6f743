// Placeholder background: replaced by the real control-panel picture generator.
#include <QColor>
#include <QImage>
#include <QPainter>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    QImage image(665, 517, QImage::Format_RGB32);
    image.fill(QColor(28, 30, 34));
    QPainter painter(&image);
    painter.fillRect(0, 455, 665, 62, Qt::white);
    painter.end();
    return image.save(QString::fromLocal8Bit(argv[1]), "JPG", 92) ? 0 : 1;
}
