#include "dfu/simulator.h"

#include "dfu/dfu_runner.h"

#include <QDebug>

// simulator::use is defined with the other command-line settings of start-up.

QString simulatorDirectory()
{
    // The build machine's source tree; a copied executable finds it only there.
    static const QString directory = QStringLiteral(UPDATER_SIMULATOR_DIR);
    return directory;
}

QString simulatorScriptPath(const QString &fileName)
{
    return simulatorDirectory() + QLatin1Char('/') + fileName;
}

void configureSimulatorCommand(DfuCommand command, const QString &operationName, bool fastProgress)
{
    DfuCommandEntry &entry = dfuCommandEntry(command);
    QStringList arguments{QStringLiteral("--dfu-util-command"), operationName};
    if (fastProgress)
        arguments << QStringLiteral("--fast-progress");
    arguments << entry.arguments;
    entry.program = simulatorScriptPath(QStringLiteral("dfu-util_simulator.sh"));
    entry.arguments = arguments;
}

void setupSimulator(bool fastProgress)
{
    configureSimulatorCommand(DfuCommand::List, QStringLiteral("list"), fastProgress);
    configureSimulatorCommand(DfuCommand::Version, QStringLiteral("version"), fastProgress);
    configureSimulatorCommand(DfuCommand::UploadOtp, QStringLiteral("upload_OTP"), fastProgress);
    configureSimulatorCommand(DfuCommand::UploadFwInfo, QStringLiteral("upload_FW"), fastProgress);
    configureSimulatorCommand(DfuCommand::UploadFw, QStringLiteral("upload_FW"), fastProgress);
    configureSimulatorCommand(DfuCommand::DownloadFw, QStringLiteral("download_FW"), fastProgress);
    configureSimulatorCommand(DfuCommand::SetupPreparedConfig, QStringLiteral("setup_prepared_config"),
                              fastProgress);
}

int setupSimulationConfig(const QString &configName)
{
    const int exitCode = runDfuCommand(DfuCommand::SetupPreparedConfig, {configName}).exitCode;
    if (exitCode != 0)
        qInfo() << "Failed to setup simulation config " << configName << "with code" << exitCode;
    return exitCode;
}
