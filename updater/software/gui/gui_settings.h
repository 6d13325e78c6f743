#pragma once

#include "device/device_info.h"

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

class QDebug;
class QJsonObject;

// One ring marker; x and y are its centre in design pixels.
struct CircleSetting {
    QString name;
    int x = 0;
    int y = 0;
    int radius = 0;
    int penWidth = 0;
    QColor color;

    QString toText() const;
};

// One text of the main window; create false marks a text that gets no label of its own.
struct LabelSetting {
    QString id;
    int x = -1;
    int y = -1;
    int size = -1;
    QString font;
    QString text;
    bool create = true;
    bool white = true;

    QString toText() const;
};

// The parsed settings_GUI.json.
struct GuiSettings {
    bool valid = false;
    QList<CircleSetting> circles;
    QList<LabelSetting> labels;

    // Appends the entries of the file; throws the QString of readTextFile when
    // the file cannot be opened, leaving the object unchanged.
    void load(const QString &path);
    // Appends the entries of a settings text; never fails.
    void appendFromText(const QString &text);

    // First label with exactly this id; logs a warning on a miss.
    std::optional<LabelSetting> findLabel(const QString &id) const;
    // Text of findLabel(id), empty on a miss.
    QString labelText(const QString &id) const;

    QString toText() const;
};

// Readers of one array element; absent and mistyped keys fall back as the
// settings file format allows.
CircleSetting circleSettingFromJson(const QJsonObject &object);
LabelSetting labelSettingFromJson(const QJsonObject &object);

// What start-up hands to the window factory.
struct GuiContext {
    GuiSettings settings;
    DesiredFirmware desired;
};

// The one process-wide context, filled during start-up and only read afterwards.
GuiContext &guiContext();

QDebug operator<<(QDebug debug, const CircleSetting &circle);
QDebug operator<<(QDebug debug, const LabelSetting &label);
QDebug operator<<(QDebug debug, const GuiSettings &settings);
