#include "app/startup.h"

#include "app/workdir.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDebug>
#include <QThread>

bool useLogWindow = false;

namespace simulator {
bool use = false;
}

void parseCommandLine(QCoreApplication &application)
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
    parser.process(application);

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

void setupApplication()
{
    parseCommandLine(*QCoreApplication::instance());
    if (simulator::use)
        qInfo() << "Will use simulator (i.e. option 'use_simulator).";
    else
        qInfo() << "Will use real device (i.e. no option 'use_simulator'.)";
#ifdef DEBUG
    const bool debugBuild = true;
#else
    const bool debugBuild = false;
#endif
    qInfo() << "Compiled for platform (OS):" << qUtf8Printable(platformName(buildPlatform()))
            << "with 'DEBUG'" << (debugBuild ? "defined" : "not defined");
    extractWorkFiles({WorkFile::FirmwareDfu, WorkFile::FirmwareBin, WorkFile::DfuUtil}, true);
    makeExecutable(dfuUtilExecutablePath());
}

int teardownApplication(int exitCode)
{
    qInfo() << "app.exec() returns: " << exitCode;
    qInfo() << "Waiting 2 s before deleting objects";
    QThread::sleep(2);
    return exitCode;
}
