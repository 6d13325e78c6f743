#pragma once

#include <QString>

QString mainWindowStyleSheet();
QString whiteLabelStyleSheet();
QString blackLabelStyleSheet();
QString progressBarStyleSheet();
