#include "dfu_test_support.h"

#include "dfu/simulator.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QtGlobal>

CommandTableGuard::CommandTableGuard() : m_table(dfuCommandTable()), m_directory(dfuUtilDirectory) {}

CommandTableGuard::~CommandTableGuard()
{
    dfuCommandTable() = m_table;
    dfuUtilDirectory = m_directory;
}

StandInPrograms::StandInPrograms() : m_dir(QDir::tempPath() + QStringLiteral("/dfu stand-ins XXXXXX")) {}

QString StandInPrograms::write(const QString &name, const QByteArray &body)
{
    const QString filePath = path(name);
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    return filePath;
}

QString StandInPrograms::path(const QString &name) const
{
    return m_dir.filePath(name);
}

QString StandInPrograms::directory() const
{
    return m_dir.path();
}

SimulatorFixture::SimulatorFixture(bool fastProgress)
    : m_state(QDir::tempPath() + QStringLiteral("/dfu simulator state XXXXXX")),
      m_scratch(QDir::tempPath() + QStringLiteral("/dfu scratch XXXXXX")),
      m_previousStateDir(qgetenv("DFU_SIMULATOR_STATE_DIR")),
      m_previousImage(qgetenv("DFU_SIMULATOR_FIRMWARE_IMAGE"))
{
    qputenv("DFU_SIMULATOR_STATE_DIR", m_state.path().toLocal8Bit());
    qunsetenv("DFU_SIMULATOR_FIRMWARE_IMAGE");
    dfuUtilDirectory.clear();
    setupSimulator(fastProgress);
}

SimulatorFixture::~SimulatorFixture()
{
    qputenv("DFU_SIMULATOR_STATE_DIR", m_previousStateDir);
    if (m_previousImage.isEmpty())
        qunsetenv("DFU_SIMULATOR_FIRMWARE_IMAGE");
    else
        qputenv("DFU_SIMULATOR_FIRMWARE_IMAGE", m_previousImage);
}

bool SimulatorFixture::prepare(const QString &scenario)
{
    return setupSimulationConfig(scenario) == 0;
}

QString SimulatorFixture::stateDirectory() const
{
    return m_state.path();
}

QString SimulatorFixture::scratchPath(const QString &fileName) const
{
    return m_scratch.filePath(fileName);
}

QByteArray readFileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray referenceVersionText()
{
    // Standard output of "dfu-util -V" of the dfu-util 0.9 release.
    return QByteArrayLiteral("dfu-util 0.9\n"
                             "\n"
                             "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
                             "Copyright 2010-2016 Tormod Volden and Stefan Schmidt\n"
                             "This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
                             "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n"
                             "\n");
}

QString embeddedImagePath()
{
    return QStringLiteral(UPDATER_FIRMWARE_BIN_FILE);
}

QString quoted(const QString &text)
{
    QString rendered;
    QDebug(&rendered) << text;
    return rendered.trimmed();
}
