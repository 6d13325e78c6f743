#include "gui/fonts.h"

#include "app/workdir.h"
#include "gui/gui_settings.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QScreen>

namespace {

QString &storedFontFamily()
{
    static QString family;
    return family;
}

bool fontsLoaded = false;
double pixelFactor = 0.0;

} // namespace

QString loadFont(const QString &path)
{
    const int id = QFontDatabase::addApplicationFont(path);
    if (id < 0)
        qWarning() << "Unable to load font from " << path;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    return families.isEmpty() ? QString() : families.first();
}

QString applicationFontFamily()
{
    if (!fontsLoaded) {
        // Set first: a failed registration is not retried.
        fontsLoaded = true;
        storedFontFamily() = loadFont(regularFontResource);
        loadFont(boldFontResource);
    }
    return storedFontFamily();
}

void setApplicationFont(const QString &family)
{
    if (family.isEmpty())
        return;
    QApplication::setFont(QFont(family, 11, -1, false));
}

void setDefaultFont()
{
    const QString family = applicationFontFamily();
    storedFontFamily() = family;
    if (family.isEmpty()) {
        qWarning() << "Unable to load/set the Lumarex font as default";
        return;
    }
    setApplicationFont(family);
    qInfo() << "Load/set default font:" << family;
}

double labelPixelFactor()
{
    if (pixelFactor == 0.0) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        pixelFactor = (screen ? screen->physicalDotsPerInch() : 96.0) / 110.0;
        if (buildPlatform() == 2)
            pixelFactor *= 1.3;
    }
    return pixelFactor;
}

void applyLabelFont(QLabel &label, const LabelSetting &setting)
{
    if (!setting.font.isEmpty()) {
        // Only the family is set, so size, weight and style stay inherited.
        QFont font;
        font.setFamily(setting.font);
        label.setFont(font);
    }
    if (setting.size > 0) {
        QFont font = label.font();
        font.setPixelSize(static_cast<int>(setting.size * labelPixelFactor()));
        label.setFont(font);
    }
}
