#pragma once

#include <QString>

class QLabel;
struct LabelSetting;

// Registers a font file; its first family, or empty text when it cannot be registered.
QString loadFont(const QString &path);
// Family of the embedded Regular face; both faces are registered on the first call only.
QString applicationFontFamily();
// Makes an 11-point font of the family the application's default; ignores an empty family.
void setApplicationFont(const QString &family);
// Start-up step: the embedded family as the application's default font.
void setDefaultFont();

inline const QString regularFontResource = QStringLiteral(":resources/LumarexSans-Regular.otf");
inline const QString boldFontResource = QStringLiteral(":resources/LumarexSans-Bold.otf");

// Factor from a label's "size" to a pixel size; computed from the primary screen
// on first use and then kept for the rest of the process.
double labelPixelFactor();
// A label's own family and size from its settings entry, over the inherited font.
void applyLabelFont(QLabel &label, const LabelSetting &setting);
