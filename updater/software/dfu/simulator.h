#pragma once

#include "dfu/dfu_command.h"

#include <QString>

namespace simulator {
extern bool use;
}

QString simulatorDirectory();
QString simulatorScriptPath(const QString &fileName);
void configureSimulatorCommand(DfuCommand command, const QString &operationName, bool fastProgress);
void setupSimulator(bool fastProgress);
int setupSimulationConfig(const QString &configName);
