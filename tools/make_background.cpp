// Paints the main window's background picture: the Arc-31's rear control panel
// on a dark backdrop, with a white band along the bottom edge for the status line.
//
// usage: make_background OUTPUT.jpg [FONT-FILE...]
// The first font file that loads sets the lettering's family, so the picture
// uses the application's typeface and does not depend on the fonts installed.
// Everything is computed from fixed values: the same inputs give the same bytes.
#include <QColor>
#include <QConicalGradient>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QRadialGradient>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QtMath>

#include <cstdint>
#include <cstdio>

namespace {

constexpr int width = 665;
constexpr int height = 517;

// The status line sits on this band; its black text needs a light ground.
constexpr int bandTop = 455;

// The button that the window's ring marks and the instructions name.
const QPointF leftLightButton(295, 287);

const QRectF panelRect(250, 140, 392, 222);
const QRectF displayRect(274, 170, 206, 84);
const QPointF dialCentre(568, 214);
constexpr qreal dialRadius = 44;

QString fontFamily;

QFont letteringFont(qreal pixelSize, int weight = QFont::Normal, qreal spacing = 0)
{
    QFont font(fontFamily);
    font.setPixelSize(qRound(pixelSize));
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setHintingPreference(QFont::PreferNoHinting);
    if (spacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

// Stateless per-position hash: a fixed "random" value for texture.
std::uint32_t hash(std::uint32_t x, std::uint32_t y)
{
    std::uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

void paintBackdrop(QPainter &p)
{
    // A soft light falls on the panel; the left column, where the
    // instructions stand, stays in the dark.
    QRadialGradient light(QPointF(470, 240), 420, QPointF(500, 200));
    light.setColorAt(0.0, QColor(52, 55, 62));
    light.setColorAt(0.45, QColor(30, 32, 37));
    light.setColorAt(1.0, QColor(14, 15, 18));
    p.fillRect(QRectF(0, 0, width, height), light);

    QLinearGradient leftShade(0, 0, 300, 0);
    leftShade.setColorAt(0.0, QColor(0, 0, 0, 90));
    leftShade.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.fillRect(QRectF(0, 0, 300, height), leftShade);

}

// The panel stands on a glossy surface: a faint mirror image below it that
// fades out before the install button's row.
void paintReflection(QPainter &p, const QImage &scene)
{
    const int top = int(panelRect.bottom()) + 2;
    const int depth = 60;
    const QRect source(int(panelRect.left()) - 4, top - depth, int(panelRect.width()) + 8, depth);
    // Down- and up-scaling blurs the mirror image, as a satin finish would.
    QImage mirror = scene.copy(source)
                        .mirrored(false, true)
                        .scaled(source.width() / 4, source.height() / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .scaled(source.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter fade(&mirror);
    fade.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    QLinearGradient alpha(0, 0, 0, depth);
    alpha.setColorAt(0.0, QColor(0, 0, 0, 40));
    alpha.setColorAt(1.0, QColor(0, 0, 0, 0));
    fade.fillRect(mirror.rect(), alpha);
    fade.end();
    p.drawImage(source.left(), top + 4, mirror);
}

void paintShadow(QPainter &p, const QRectF &rect, qreal radius, int layers, int alpha)
{
    p.setPen(Qt::NoPen);
    for (int i = layers; i > 0; --i) {
        p.setBrush(QColor(0, 0, 0, alpha / layers + 2));
        const qreal grow = i * 1.6;
        p.drawRoundedRect(rect.adjusted(-grow, -grow + 3, grow, grow + 5), radius + grow, radius + grow);
    }
}

void paintBrushedLines(QPainter &p, const QRectF &rect)
{
    for (int y = int(rect.top()); y < int(rect.bottom()); ++y) {
        const int a = int(hash(7, std::uint32_t(y)) % 9);
        p.setPen(QPen(QColor(255, 255, 255, a), 1));
        p.drawLine(QPointF(rect.left(), y + 0.5), QPointF(rect.right(), y + 0.5));
    }
}

void paintPanel(QPainter &p)
{
    paintShadow(p, panelRect, 26, 14, 150);

    QPainterPath body;
    body.addRoundedRect(panelRect, 26, 26);
    QLinearGradient face(0, panelRect.top(), 0, panelRect.bottom());
    face.setColorAt(0.0, QColor(66, 69, 76));
    face.setColorAt(0.08, QColor(50, 53, 59));
    face.setColorAt(0.85, QColor(34, 36, 41));
    face.setColorAt(1.0, QColor(26, 27, 31));
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawPath(body);

    p.save();
    p.setClipPath(body);
    paintBrushedLines(p, panelRect);
    p.restore();

    // Bevel: a light rim on top, a dark one below.
    QLinearGradient rim(0, panelRect.top(), 0, panelRect.bottom());
    rim.setColorAt(0.0, QColor(150, 155, 165, 150));
    rim.setColorAt(0.5, QColor(90, 94, 100, 40));
    rim.setColorAt(1.0, QColor(0, 0, 0, 160));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), 1.5));
    p.drawRoundedRect(panelRect.adjusted(0.75, 0.75, -0.75, -0.75), 25, 25);
    p.setPen(QPen(QColor(0, 0, 0, 120), 1));
    p.drawRoundedRect(panelRect.adjusted(-0.5, -0.5, 0.5, 0.5), 26.5, 26.5);

    // Recessed lower strip carrying the lettering.
    const QRectF strip(panelRect.left() + 14, 326, panelRect.width() - 28, 26);
    QLinearGradient stripFill(0, strip.top(), 0, strip.bottom());
    stripFill.setColorAt(0.0, QColor(22, 23, 27));
    stripFill.setColorAt(1.0, QColor(32, 34, 39));
    p.setPen(QPen(QColor(0, 0, 0, 110), 1));
    p.setBrush(stripFill);
    p.drawRoundedRect(strip, 8, 8);
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    p.drawLine(QPointF(strip.left() + 8, strip.bottom() + 0.5), QPointF(strip.right() - 8, strip.bottom() + 0.5));
}

void paintDisplay(QPainter &p)
{
    // Bezel, then the backlit glass.
    QLinearGradient bezel(0, displayRect.top() - 6, 0, displayRect.bottom() + 6);
    bezel.setColorAt(0.0, QColor(16, 17, 20));
    bezel.setColorAt(1.0, QColor(70, 74, 80));
    p.setPen(Qt::NoPen);
    p.setBrush(bezel);
    p.drawRoundedRect(displayRect.adjusted(-6, -6, 6, 6), 10, 10);

    QLinearGradient glass(0, displayRect.top(), 0, displayRect.bottom());
    glass.setColorAt(0.0, QColor(38, 70, 84));
    glass.setColorAt(1.0, QColor(16, 36, 46));
    p.setBrush(glass);
    p.drawRoundedRect(displayRect, 5, 5);

    const QColor ink(170, 226, 236);
    const QColor dim(120, 170, 182);
    const qreal left = displayRect.left();
    const qreal top = displayRect.top();

    // Mode tag in inverse video.
    const QRectF tag(left + 8, top + 7, 34, 15);
    p.setBrush(ink);
    p.drawRoundedRect(tag, 2, 2);
    p.setPen(QColor(20, 44, 54));
    p.setFont(letteringFont(11, QFont::Bold));
    p.drawText(tag, Qt::AlignCenter, QStringLiteral("TTL"));

    p.setPen(dim);
    p.setFont(letteringFont(10, QFont::Bold, 0.5));
    p.drawText(QRectF(left + 50, top + 7, 60, 15), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("CH 03"));
    p.drawText(QRectF(left + 100, top + 7, 50, 15), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("GR A"));

    // Battery gauge.
    const QRectF battery(displayRect.right() - 34, top + 9, 22, 11);
    p.setPen(QPen(dim, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(battery, 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(dim);
    p.drawRect(QRectF(battery.right() + 1, battery.top() + 3, 2, battery.height() - 6));
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(battery.left() + 2 + i * 6.5, battery.top() + 2, 5, battery.height() - 4));

    // Output level.
    p.setPen(ink);
    p.setFont(letteringFont(30, QFont::Bold));
    p.drawText(QRectF(left + 8, top + 24, 120, 36), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("1/16"));
    p.setFont(letteringFont(12, QFont::Bold));
    p.drawText(QRectF(left + 96, top + 28, 40, 16), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("+0.3"));
    p.setPen(dim);
    p.setFont(letteringFont(10, QFont::Normal, 0.5));
    p.drawText(QRectF(left + 140, top + 28, 60, 14), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("ZOOM"));
    p.setPen(ink);
    p.setFont(letteringFont(17, QFont::Bold));
    p.drawText(QRectF(left + 140, top + 40, 60, 20), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("35mm"));

    // Power bar graph: lit segments up to the current level.
    constexpr int segments = 18;
    p.setPen(Qt::NoPen);
    for (int i = 0; i < segments; ++i) {
        const qreal h = 3 + i * 0.35;
        const QRectF seg(left + 10 + i * 10.3, displayRect.bottom() - 10 - h, 7.5, h);
        p.setBrush(i < 11 ? ink : QColor(60, 96, 108));
        p.drawRect(seg);
    }

    // Glass reflection across the upper half.
    QLinearGradient sheen(displayRect.topLeft(), QPointF(displayRect.left() + 90, displayRect.bottom()));
    sheen.setColorAt(0.0, QColor(255, 255, 255, 34));
    sheen.setColorAt(0.55, QColor(255, 255, 255, 6));
    sheen.setColorAt(0.56, QColor(255, 255, 255, 0));
    p.setBrush(sheen);
    p.drawRoundedRect(displayRect, 5, 5);
}

void paintDial(QPainter &p)
{
    // Scale around the dial: 270 degrees, every fifth tick longer.
    constexpr int ticks = 31;
    for (int i = 0; i < ticks; ++i) {
        const qreal angle = qDegreesToRadians(225.0 - i * 270.0 / (ticks - 1));
        const bool major = i % 5 == 0;
        const qreal r0 = dialRadius + 6;
        const qreal r1 = dialRadius + (major ? 13 : 9);
        const QPointF dir(qCos(angle), -qSin(angle));
        p.setPen(QPen(major ? QColor(190, 194, 200) : QColor(120, 124, 130), major ? 1.6 : 1.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(dialCentre + dir * r0, dialCentre + dir * r1);
    }

    paintShadow(p, QRectF(dialCentre.x() - dialRadius, dialCentre.y() - dialRadius, 2 * dialRadius, 2 * dialRadius),
                dialRadius, 8, 120);

    // Knurled skirt.
    QRadialGradient skirt(dialCentre, dialRadius);
    skirt.setColorAt(0.8, QColor(40, 42, 46));
    skirt.setColorAt(1.0, QColor(22, 23, 26));
    p.setPen(Qt::NoPen);
    p.setBrush(skirt);
    p.drawEllipse(dialCentre, dialRadius, dialRadius);
    for (int i = 0; i < 72; ++i) {
        const qreal angle = qDegreesToRadians(i * 5.0);
        const QPointF dir(qCos(angle), -qSin(angle));
        const int shade = 60 + int(40 * (0.5 + 0.5 * qSin(angle + 0.8)));
        p.setPen(QPen(QColor(shade, shade + 2, shade + 6), 1.2));
        p.drawLine(dialCentre + dir * (dialRadius - 6), dialCentre + dir * (dialRadius - 0.5));
    }

    // Brushed-aluminium cap.
    const qreal cap = dialRadius - 8;
    QConicalGradient metal(dialCentre, 30);
    const QColor light(196, 200, 206), mid(120, 124, 130), dark(70, 73, 78);
    metal.setColorAt(0.00, light);
    metal.setColorAt(0.12, mid);
    metal.setColorAt(0.25, dark);
    metal.setColorAt(0.38, mid);
    metal.setColorAt(0.50, light);
    metal.setColorAt(0.62, mid);
    metal.setColorAt(0.75, dark);
    metal.setColorAt(0.88, mid);
    metal.setColorAt(1.00, light);
    p.setPen(QPen(QColor(20, 21, 24), 1.5));
    p.setBrush(metal);
    p.drawEllipse(dialCentre, cap, cap);
    QRadialGradient dome(dialCentre - QPointF(10, 12), cap * 1.4);
    dome.setColorAt(0.0, QColor(255, 255, 255, 40));
    dome.setColorAt(1.0, QColor(0, 0, 0, 70));
    p.setPen(Qt::NoPen);
    p.setBrush(dome);
    p.drawEllipse(dialCentre, cap, cap);

    // Pointer at about two o'clock.
    const qreal angle = qDegreesToRadians(60.0);
    const QPointF dir(qCos(angle), -qSin(angle));
    p.setPen(QPen(QColor(255, 120, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(dialCentre + dir * (cap - 16), dialCentre + dir * (cap - 5));

    // The centre push button of the dial.
    QRadialGradient centre(dialCentre - QPointF(3, 4), 14);
    centre.setColorAt(0.0, QColor(90, 94, 100));
    centre.setColorAt(1.0, QColor(40, 42, 46));
    p.setPen(QPen(QColor(20, 21, 24), 1));
    p.setBrush(centre);
    p.drawEllipse(dialCentre, 12, 12);
    p.setPen(QColor(200, 204, 210));
    p.setFont(letteringFont(8, QFont::Bold));
    p.drawText(QRectF(dialCentre.x() - 12, dialCentre.y() - 12, 24, 24), Qt::AlignCenter, QStringLiteral("SET"));

    p.setPen(QColor(150, 154, 160));
    p.setFont(letteringFont(9, QFont::Bold, 0.6));
    p.drawText(QRectF(dialCentre.x() - 40, dialCentre.y() + dialRadius - 2, 20, 14), Qt::AlignCenter, QStringLiteral("–"));
    p.drawText(QRectF(dialCentre.x() + 20, dialCentre.y() + dialRadius - 2, 20, 14), Qt::AlignCenter, QStringLiteral("+"));
}

enum class Icon { Lamp, Mode, Channel, Zoom, Flash };

void paintIcon(QPainter &p, Icon icon, const QPointF &c, const QColor &ink)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (icon) {
    case Icon::Lamp: {
        // A bulb with rays: continuous light.
        p.drawEllipse(c + QPointF(0, -1.5), 4.2, 4.2);
        p.drawLine(c + QPointF(-2.2, 4.5), c + QPointF(2.2, 4.5));
        p.drawLine(c + QPointF(-1.6, 6.5), c + QPointF(1.6, 6.5));
        for (int i = 0; i < 5; ++i) {
            const qreal a = qDegreesToRadians(180.0 - i * 45.0);
            const QPointF d(qCos(a), -qSin(a));
            p.drawLine(c + QPointF(0, -1.5) + d * 6.5, c + QPointF(0, -1.5) + d * 8.5);
        }
        break;
    }
    case Icon::Mode:
        p.setFont(letteringFont(11, QFont::Bold));
        p.setPen(ink);
        p.drawText(QRectF(c.x() - 9, c.y() - 8, 18, 16), Qt::AlignCenter, QStringLiteral("M"));
        break;
    case Icon::Channel:
        // Radio waves for the wireless channel.
        p.drawPoint(c + QPointF(0, 4));
        p.drawArc(QRectF(c.x() - 4, c.y(), 8, 8), 45 * 16, 90 * 16);
        p.drawArc(QRectF(c.x() - 7.5, c.y() - 3.5, 15, 15), 45 * 16, 90 * 16);
        p.drawArc(QRectF(c.x() - 11, c.y() - 7, 22, 22), 45 * 16, 90 * 16);
        break;
    case Icon::Zoom:
        p.drawRect(QRectF(c.x() - 6, c.y() - 3, 5, 6));
        p.drawLine(c + QPointF(-1, -3), c + QPointF(6, -6));
        p.drawLine(c + QPointF(-1, 3), c + QPointF(6, 6));
        break;
    case Icon::Flash: {
        QPainterPath bolt;
        bolt.moveTo(c + QPointF(1.5, -7));
        bolt.lineTo(c + QPointF(-4, 1));
        bolt.lineTo(c + QPointF(0, 1));
        bolt.lineTo(c + QPointF(-1.5, 7));
        bolt.lineTo(c + QPointF(4, -1));
        bolt.lineTo(c + QPointF(0, -1));
        bolt.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawPath(bolt);
        break;
    }
    }
}

void paintButton(QPainter &p, const QPointF &c, qreal radius, Icon icon, const QString &label,
                 const QColor &ink = QColor(200, 204, 210))
{
    // Recess in the panel.
    QRadialGradient well(c + QPointF(0, -2), radius + 5);
    well.setColorAt(0.7, QColor(12, 13, 15));
    well.setColorAt(1.0, QColor(40, 42, 47));
    p.setPen(Qt::NoPen);
    p.setBrush(well);
    p.drawEllipse(c, radius + 4, radius + 4);

    // Rubber cap lit from the upper left.
    QRadialGradient cap(c + QPointF(-radius * 0.35, -radius * 0.45), radius * 1.5);
    cap.setColorAt(0.0, QColor(96, 100, 108));
    cap.setColorAt(0.6, QColor(58, 61, 67));
    cap.setColorAt(1.0, QColor(36, 38, 42));
    p.setPen(QPen(QColor(8, 8, 10), 1));
    p.setBrush(cap);
    p.drawEllipse(c, radius, radius);
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - radius + 1.5, c.y() - radius + 1.5, 2 * radius - 3, 2 * radius - 3), 60 * 16, 110 * 16);

    paintIcon(p, icon, c, ink);

    if (!label.isEmpty()) {
        p.setPen(QColor(150, 154, 162));
        p.setFont(letteringFont(8, QFont::Bold, 0.8));
        p.drawText(QRectF(c.x() - 30, c.y() + radius + 6, 60, 11), Qt::AlignCenter, label);
    }
}

void paintLed(QPainter &p, const QPointF &c, const QColor &colour)
{
    QRadialGradient glow(c, 7);
    QColor halo = colour;
    halo.setAlpha(110);
    glow.setColorAt(0.0, halo);
    halo.setAlpha(0);
    glow.setColorAt(1.0, halo);
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(c, 7, 7);
    p.setBrush(colour.lighter(130));
    p.drawEllipse(c, 2.2, 2.2);
}

void paintControls(QPainter &p)
{
    const qreal row = leftLightButton.y();
    paintButton(p, leftLightButton, 16, Icon::Lamp, QStringLiteral("LIGHT"), QColor(255, 214, 150));
    paintButton(p, QPointF(347, row), 16, Icon::Mode, QStringLiteral("MODE"));
    paintButton(p, QPointF(399, row), 16, Icon::Channel, QStringLiteral("CH/GR"));
    paintButton(p, QPointF(451, row), 16, Icon::Zoom, QStringLiteral("ZOOM"));
    paintButton(p, QPointF(503, row), 16, Icon::Lamp, QStringLiteral("LIGHT"), QColor(255, 214, 150));

    // Test button with its ready lamp, beside the dial.
    const QPointF test(600, 292);
    paintButton(p, test, 15, Icon::Flash, QStringLiteral("TEST"), QColor(255, 150, 90));
    paintLed(p, QPointF(558, 284), QColor(255, 110, 50));
    paintLed(p, QPointF(558, 300), QColor(90, 220, 120));
    p.setPen(QColor(150, 154, 162));
    p.setFont(letteringFont(7, QFont::Bold, 0.6));
    p.drawText(QRectF(522, 278, 30, 12), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("READY"));
    p.drawText(QRectF(522, 294, 30, 12), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("LINK"));
}

void paintLettering(QPainter &p)
{
    p.setPen(QColor(214, 218, 224));
    p.setFont(letteringFont(16, QFont::Bold, 3));
    p.drawText(QRectF(270, 327, 140, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ARC-31"));

    p.setPen(QColor(120, 124, 132));
    p.setFont(letteringFont(8, QFont::Bold, 2.5));
    p.drawText(QRectF(470, 327, 150, 24), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("LUMAREX"));

    // Speaker grille between the lettering and the maker's name.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 11, 13));
    for (int i = 0; i < 7; ++i)
        p.drawRoundedRect(QRectF(392 + i * 9, 334, 4, 11), 2, 2);
}

void paintStatusBand(QPainter &p)
{
    QLinearGradient shade(0, bandTop - 10, 0, bandTop);
    shade.setColorAt(0.0, QColor(0, 0, 0, 0));
    shade.setColorAt(1.0, QColor(0, 0, 0, 90));
    p.fillRect(QRectF(0, bandTop - 10, width, 10), shade);

    QLinearGradient band(0, bandTop, 0, height);
    band.setColorAt(0.0, QColor(236, 237, 239));
    band.setColorAt(0.08, QColor(250, 250, 251));
    band.setColorAt(1.0, QColor(242, 243, 245));
    p.fillRect(QRectF(0, bandTop, width, height - bandTop), band);
    p.setPen(QPen(QColor(255, 110, 50), 2));
    p.drawLine(QPointF(0, bandTop + 1), QPointF(width, bandTop + 1));
}

// Fine grain over the dark part, so gradients look like a photograph.
void addGrain(QImage &image)
{
    for (int y = 0; y < bandTop - 1; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int delta = int(hash(std::uint32_t(x), std::uint32_t(y)) % 7) - 3;
            const QRgb px = line[x];
            line[x] = qRgb(qBound(0, qRed(px) + delta, 255), qBound(0, qGreen(px) + delta, 255),
                           qBound(0, qBlue(px) + delta, 255));
        }
    }
}

// Registers every given face (regular, bold) and returns the first family.
QString loadFonts(const QStringList &files)
{
    QString family;
    for (const QString &file : files) {
        const QStringList families = QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file));
        if (families.isEmpty())
            std::fprintf(stderr, "make_background: cannot load font %s\n", qPrintable(file));
        else if (family.isEmpty())
            family = families.first();
    }
    return family.isEmpty() ? QStringLiteral("Sans Serif") : family;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg [FONT-FILE...]\n", argv[0]);
        return 2;
    }
    // Text needs a GUI application; the build machine need not have a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QStringList fontFiles;
    for (int i = 2; i < argc; ++i)
        fontFiles << QString::fromLocal8Bit(argv[i]);
    fontFamily = loadFonts(fontFiles);

    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    paintBackdrop(painter);
    paintPanel(painter);
    paintDisplay(painter);
    paintDial(painter);
    paintControls(painter);
    paintLettering(painter);
    paintReflection(painter, image.copy());
    painter.end();
    addGrain(image);
    painter.begin(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paintStatusBand(painter);
    painter.end();

    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!image.save(output, "JPG", 92)) {
        std::fprintf(stderr, "make_background: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
