#include "gui/gui_settings.h"

#include "app/workdir.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

// The toolkit's parser keeps raw control characters (the file's CR LF line
// breaks inside two texts) in string values; a text that is not a JSON object
// gives an empty object.
QJsonObject parseObject(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

template <typename Entry, typename Reader>
void appendEntries(const QJsonValue &array, QList<Entry> &entries, Reader read)
{
    const QJsonArray elements = array.toArray();
    for (const QJsonValue &element : elements)
        entries.append(read(element.toObject()));
}

} // namespace

QString CircleSetting::toText() const
{
    return QStringLiteral("Circle '%1': (%2,%3), r=%4, w=%5, color=%6")
        .arg(name, QString::number(x), QString::number(y), QString::number(radius),
             QString::number(penWidth), color.name(QColor::HexArgb));
}

QString LabelSetting::toText() const
{
    // One multi-argument call, so that placeholders inside the label text stay as they are.
    return QStringLiteral("Label '%1': (%2,%3) {%4%5%6} font='%7':%8: '%9'")
        .arg(id, QString::number(x), QString::number(y),
             white ? QString() : QStringLiteral("not-white"),
             (!white && !create) ? QStringLiteral(" ") : QString(),
             create ? QString() : QStringLiteral("no-create"),
             font, QString::number(size), text);
}

CircleSetting circleSettingFromJson(const QJsonObject &object)
{
    CircleSetting circle;
    circle.name = object.value(QLatin1String("name")).toString();
    const QJsonObject center = object.value(QLatin1String("center")).toObject();
    circle.x = center.value(QLatin1String("x")).toInt();
    circle.y = center.value(QLatin1String("y")).toInt();
    circle.radius = object.value(QLatin1String("radius")).toInt();
    circle.penWidth = object.value(QLatin1String("pen_width")).toInt();
    circle.color = QColor(object.value(QLatin1String("color")).toString());
    return circle;
}

LabelSetting labelSettingFromJson(const QJsonObject &object)
{
    LabelSetting label;
    if (object.contains(QLatin1String("id")))
        label.id = object.value(QLatin1String("id")).toString();
    if (object.contains(QLatin1String("text")))
        label.text = object.value(QLatin1String("text")).toString();
    if (object.contains(QLatin1String("position"))) {
        const QJsonObject position = object.value(QLatin1String("position")).toObject();
        if (position.contains(QLatin1String("x")))
            label.x = position.value(QLatin1String("x")).toInt();
        if (position.contains(QLatin1String("y")))
            label.y = position.value(QLatin1String("y")).toInt();
    }
    if (object.contains(QLatin1String("size")))
        label.size = object.value(QLatin1String("size")).toInt();
    if (object.contains(QLatin1String("font")))
        label.font = object.value(QLatin1String("font")).toString();
    if (object.contains(QLatin1String("create")))
        label.create = object.value(QLatin1String("create")).toBool();
    if (object.contains(QLatin1String("white")))
        label.white = object.value(QLatin1String("white")).toBool();
    return label;
}

void GuiSettings::load(const QString &path)
{
    appendFromText(readTextFile(path));
}

void GuiSettings::appendFromText(const QString &text)
{
    const QJsonObject root = parseObject(text);
    appendEntries(root.value(QLatin1String("circles")), circles, circleSettingFromJson);
    appendEntries(root.value(QLatin1String("labels")), labels, labelSettingFromJson);
    valid = true;
}

std::optional<LabelSetting> GuiSettings::findLabel(const QString &id) const
{
    for (const LabelSetting &label : labels) {
        if (label.id == id)
            return label;
    }
    qWarning() << "No matching label with id" << id << "found";
    return std::nullopt;
}

QString GuiSettings::labelText(const QString &id) const
{
    const std::optional<LabelSetting> label = findLabel(id);
    return label ? label->text : QString();
}

QString GuiSettings::toText() const
{
    QString text = QStringLiteral("GUI settings:\n");
    if (!valid)
        return text + QStringLiteral("\tInvalid\n");
    for (const CircleSetting &circle : circles)
        text += QLatin1Char('\t') + circle.toText() + QLatin1Char('\n');
    for (const LabelSetting &label : labels)
        text += QLatin1Char('\t') + label.toText() + QLatin1Char('\n');
    return text;
}

GuiContext &guiContext()
{
    static GuiContext context;
    return context;
}

QDebug operator<<(QDebug debug, const CircleSetting &circle)
{
    return debug << circle.toText();
}

QDebug operator<<(QDebug debug, const LabelSetting &label)
{
    return debug << label.toText();
}

QDebug operator<<(QDebug debug, const GuiSettings &settings)
{
    const QDebugStateSaver saver(debug);
    debug.noquote() << settings.toText();
    return debug;
}
