#include "app/startup.h"

#include "app/workdir.h"
#include "dfu/simulator.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>
#include <QThread>

bool useLogWindow = false;

namespace simulator {
bool use = false;
}

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
    extractWorkFiles({WorkFile::FirmwareDfu, WorkFile::FirmwareBin, WorkFile::DfuUtil}, true);
    makeExecutable(dfuUtilExecutablePath());
}

int teardownApplication(int exitCode)
{
    return exitCode;
}
