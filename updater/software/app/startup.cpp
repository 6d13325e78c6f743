#include "app/startup.h"

#include "app/application_wiring.h"
#include "app/log_window.h"
#include "app/termination_signals.h"
#include "app/workdir.h"
#include "control/sm_a.h"
#include "control/sm_b.h"
#include "device/device_info.h"
#include "dfu/dfu_command.h"
#include "dfu/dfu_runner.h"
#include "dfu/simulator.h"
#include "gui/fonts.h"
#include "gui/gui_settings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QTemporaryDir>
#include <QThread>

bool useLogWindow = false;

namespace simulator {
bool use = false;
}

namespace {

const QString settingsResourcePath = QStringLiteral(":resources/settings_GUI.json");

#ifdef DEBUG
constexpr bool debugBuild = true;
#else
constexpr bool debugBuild = false;
#endif

void logMode()
{
    if (simulator::use)
        qInfo() << "Will use simulator (i.e. option 'use_simulator).";
    else
        qInfo() << "Will use real device (i.e. no option 'use_simulator'.)";
}

void logPlatform()
{
    qInfo() << "Compiled for platform (OS):" << qUtf8Printable(platformName(buildPlatform()))
            << "with 'DEBUG'" << (debugBuild ? "defined" : "not defined");
}

void logDesiredFirmware()
{
    qInfo().noquote() << "Desired (embedded)" << desiredFwInfo();
}

// The settings resource is part of every build; a build without it cannot show
// its window, so start-up stops with a plain message instead of an uncaught throw.
GuiSettings loadGuiSettings()
{
    GuiSettings settings;
    try {
        settings.load(settingsResourcePath);
    } catch (const QString &error) {
        qFatal("Cannot load the GUI settings: %s", qUtf8Printable(error));
    }
    return settings;
}

} // namespace

void parseCommandLineArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption useSimulator({QStringLiteral("s"), QStringLiteral("use-simulator")},
                                          QStringLiteral("Use simulated device interaction."));
    const QCommandLineOption noUseSimulator({QStringLiteral("S"), QStringLiteral("no-use-simulator")},
                                            QStringLiteral("Disable use of simulated device interaction."));
    const QCommandLineOption useLog({QStringLiteral("l"), QStringLiteral("use-log-window")},
                                    QStringLiteral("Enable use of log window (open it with Ctrl-l)"));
    parser.addOption(useSimulator);
    parser.addOption(noUseSimulator);
    parser.addOption(useLog);
    parser.process(arguments);

    const bool noSimulatorSet = parser.isSet(noUseSimulator);
    const bool simulatorSet = parser.isSet(useSimulator);
    qDebug().nospace() << "Initial value of 'simulator::use'=" << simulator::use
                       << ", isSet('-s')=" << simulatorSet << ", isSet('-S')=" << noSimulatorSet;
    if (simulatorSet)
        simulator::use = true;
    if (noSimulatorSet)
        simulator::use = false;
    if (parser.isSet(useLog))
        useLogWindow = true;
}

void parseCommandLine(QCoreApplication &application)
{
    parseCommandLineArguments(application.arguments());
}

void setupApplication()
{
    parseCommandLine(*QCoreApplication::instance());
    // As early as possible: a signal during the set-up must not end the
    // process before the working directory can be removed. It is acted on
    // once the event loop runs.
    installTerminationSignalHandlers();
    setDefaultFont();
    logWindow() = new LogWindow();
    if (useLogWindow)
        qInstallMessageHandler(logWindowMessageHandler);
    logMode();
    if (simulator::use)
        setupSimulator(false);
    else
        dfuUtilDirectory = workingDirectoryPath();
    logPlatform();
    extractWorkFiles({WorkFile::FirmwareDfu, WorkFile::FirmwareBin, WorkFile::DfuUtil}, true);
    makeExecutable(dfuUtilExecutablePath());
    // Without a working directory every working-file path would name a file
    // in "/", and real mode would start whatever "dfu-util" PATH finds.
    if (!workingDirectory().isValid())
        abortDfuRuns();
    testDfuUtilExecution();
    logDesiredFirmware();
    GuiContext &context = guiContext();
    context.settings = loadGuiSettings();
    context.desired = desiredFirmwareFrom(desiredFwInfo());
    createControlObjects();
}

int teardownApplication(int exitCode)
{
    qInfo() << "app.exec() returns: " << exitCode;
    if (smB)
        smB->stop();
    if (smA)
        smA->requestStop();
    qInfo() << "Waiting 2 s before deleting objects";
    QThread::sleep(2);
    // A thread object must not die while its thread runs; a dfu-util run may
    // outlast the pause when the window was closed without Q or Escape.
    if (smA)
        ensureDeviceThreadEnded();
    delete smA;
    smA = nullptr;
    delete smB;
    smB = nullptr;
    return exitCode;
}
