#pragma once
// A virtual USB bus in a temporary directory, the units on it (made with the
// virtual-unit helper) and runs of the real dfu-util against them.

#include <QByteArray>
#include <QMetaType>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <memory>

struct DfuRun {
    int exitCode = -1; // -1: did not end normally within the bound
    QString output;
    QString errors;

    QStringList deviceLines() const; // the "Found DFU" lines, in order
};

struct DfuseElement {
    quint32 address = 0;
    QByteArray data;
};
Q_DECLARE_METATYPE(DfuseElement)

class VirtualBus
{
public:
    static constexpr const char *defaultSerial = "3574364C3034";

    VirtualBus();

    bool isValid() const { return m_bus.isValid() && m_work.isValid(); }
    QString busDir() const { return m_bus.path(); }
    QString unitDir(const QString &unit) const { return m_bus.filePath(unit); }
    QString workFile(const QString &name) const { return m_work.filePath(name); }

    // virtual-unit COMMAND UNITDIR ARGS; true on exit code 0.
    bool unitCommand(const QString &command, const QString &unit, const QStringList &arguments = {}) const;
    bool createUnit(const QString &unit, const QStringList &options) const;
    QString show(const QString &unit) const;

    QProcessEnvironment environment() const;
    DfuRun runDfuUtil(const QStringList &arguments, int boundMs = 120000) const;
    std::unique_ptr<QProcess> startDfuUtil(const QStringList &arguments) const;

    // Runs an upload into a fresh work file and returns its bytes.
    QByteArray upload(const QString &alt, const QString &addressAndLength, DfuRun *run = nullptr) const;

    QByteArray flash(const QString &unit) const;
    QByteArray otp(const QString &unit) const;
    bool writeWorkFile(const QString &name, const QByteArray &bytes) const;

private:
    QTemporaryDir m_bus;
    QTemporaryDir m_work;
};

QByteArray readWholeFile(const QString &path);
QByteArray firmwareImage();
QString firmwareBinPath();
QString firmwareDfuPath();
QByteArray dfuseFile(const QVector<DfuseElement> &elements);
QVector<int> differingOffsets(const QByteArray &a, const QByteArray &b);
