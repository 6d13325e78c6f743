#pragma once

#include "dfu/dfu_command.h"
#include "dfu/dfu_runner.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <array>

// Puts the command table and dfuUtilDirectory back as they were when it goes.
class CommandTableGuard
{
public:
    CommandTableGuard();
    ~CommandTableGuard();
    CommandTableGuard(const CommandTableGuard &) = delete;
    CommandTableGuard &operator=(const CommandTableGuard &) = delete;

private:
    std::array<DfuCommandEntry, 7> m_table;
    QString m_directory;
};

// Sets the runner's first wait for as long as it lives, then puts it back.
class FirstWaitGuard
{
public:
    explicit FirstWaitGuard(int milliseconds) { setDfuRunFirstWaitMs(milliseconds); }
    ~FirstWaitGuard() { setDfuRunFirstWaitMs(m_saved); }
    FirstWaitGuard(const FirstWaitGuard &) = delete;
    FirstWaitGuard &operator=(const FirstWaitGuard &) = delete;

private:
    int m_saved = dfuRunFirstWaitMs();
};

// Small shell programs that stand in for dfu-util where the simulator is not the point.
class StandInPrograms
{
public:
    StandInPrograms();
    // Writes "#!/bin/sh" and the body into an executable file of that name.
    QString write(const QString &name, const QByteArray &body);
    QString path(const QString &name) const;
    QString directory() const;

private:
    QTemporaryDir m_dir;
};

// Every command runs the simulator script (with "--fast-progress" unless told
// otherwise), against a state directory of this fixture's own whose path holds a blank.
class SimulatorFixture
{
public:
    explicit SimulatorFixture(bool fastProgress = true);
    ~SimulatorFixture();
    SimulatorFixture(const SimulatorFixture &) = delete;
    SimulatorFixture &operator=(const SimulatorFixture &) = delete;

    // Runs setup_prepared_config; true when the script accepted the name.
    bool prepare(const QString &scenario);
    QString stateDirectory() const;
    // A scratch directory for files of the test (its path holds a blank too).
    QString scratchPath(const QString &fileName) const;

private:
    CommandTableGuard m_guard;
    QTemporaryDir m_state;
    QTemporaryDir m_scratch;
    QByteArray m_previousStateDir;
    QByteArray m_previousImage;
};

QByteArray readFileBytes(const QString &path);
bool writeFileBytes(const QString &path, const QByteArray &bytes);

// dfu-util 0.9's "-V" text, 261 bytes.
QByteArray referenceVersionText();

// The raw firmware image that the build embeds.
QString embeddedImagePath();

// The debug stream's rendering of a text item: quoted, with escapes.
QString quoted(const QString &text);
