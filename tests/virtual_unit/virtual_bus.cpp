#include "virtual_bus.h"

#include <QDir>
#include <QFile>

#include <zlib.h>

QStringList DfuRun::deviceLines() const
{
    QStringList lines;
    const QStringList all = output.split(QLatin1Char('\n'));
    for (const QString &line : all)
        if (line.startsWith(QLatin1String("Found DFU")))
            lines << line;
    return lines;
}

VirtualBus::VirtualBus() = default;

bool VirtualBus::unitCommand(const QString &command, const QString &unit, const QStringList &arguments) const
{
    QProcess helper;
    helper.start(QStringLiteral(VIRTUAL_UNIT_TOOL), QStringList{command, unitDir(unit)} + arguments);
    return helper.waitForFinished(30000) && helper.exitStatus() == QProcess::NormalExit
        && helper.exitCode() == 0;
}

bool VirtualBus::createUnit(const QString &unit, const QStringList &options) const
{
    return unitCommand(QStringLiteral("create"), unit, options);
}

QString VirtualBus::show(const QString &unit) const
{
    QProcess helper;
    helper.start(QStringLiteral(VIRTUAL_UNIT_TOOL), {QStringLiteral("show"), unitDir(unit)});
    helper.waitForFinished(30000);
    return QString::fromUtf8(helper.readAllStandardOutput());
}

QProcessEnvironment VirtualBus::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(VIRTUAL_UNIT_LIBRARY_DIR));
    env.insert(QStringLiteral("VIRTUAL_DFU_UNITS"), busDir());
    return env;
}

std::unique_ptr<QProcess> VirtualBus::startDfuUtil(const QStringList &arguments) const
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->start(QStringLiteral(UPDATER_DFU_UTIL), arguments);
    return process;
}

DfuRun VirtualBus::runDfuUtil(const QStringList &arguments, int boundMs) const
{
    const auto process = startDfuUtil(arguments);
    DfuRun run;
    if (!process->waitForFinished(boundMs)) {
        process->kill();
        process->waitForFinished(5000);
    } else if (process->exitStatus() == QProcess::NormalExit) {
        run.exitCode = process->exitCode();
    }
    run.output = QString::fromUtf8(process->readAllStandardOutput());
    run.errors = QString::fromUtf8(process->readAllStandardError());
    return run;
}

QByteArray VirtualBus::upload(const QString &alt, const QString &addressAndLength, DfuRun *run) const
{
    // dfu-util refuses to overwrite an existing target file.
    const QString target = workFile(QStringLiteral("upload.bin"));
    QFile::remove(target);
    const DfuRun result = runDfuUtil({QStringLiteral("-d"), QStringLiteral("0483"), QStringLiteral("-a"), alt,
                                      QStringLiteral("-s"), addressAndLength, QStringLiteral("-U"), target});
    if (run)
        *run = result;
    return readWholeFile(target);
}

QByteArray VirtualBus::flash(const QString &unit) const
{
    return readWholeFile(QDir(unitDir(unit)).filePath(QStringLiteral("flash.bin")));
}

QByteArray VirtualBus::otp(const QString &unit) const
{
    return readWholeFile(QDir(unitDir(unit)).filePath(QStringLiteral("otp.bin")));
}

bool VirtualBus::writeWorkFile(const QString &name, const QByteArray &bytes) const
{
    QFile file(workFile(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString firmwareBinPath()
{
    return QStringLiteral(UPDATER_FIRMWARE_BIN_FILE);
}

QString firmwareDfuPath()
{
    return QStringLiteral(UPDATER_FIRMWARE_DFU_FILE);
}

QByteArray firmwareImage()
{
    return readWholeFile(firmwareBinPath());
}

namespace {

void put32(QByteArray &out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char(v >> (8 * i)));
}

void put16(QByteArray &out, quint16 v)
{
    out.append(char(v));
    out.append(char(v >> 8));
}

} // namespace

// One target for alternate setting 0 holding the elements in order, with the
// DfuSe suffix dfu-util checks.
QByteArray dfuseFile(const QVector<DfuseElement> &elements)
{
    QByteArray elementBytes;
    for (const DfuseElement &element : elements) {
        put32(elementBytes, element.address);
        put32(elementBytes, quint32(element.data.size()));
        elementBytes.append(element.data);
    }
    QByteArray target("Target");
    target.append(char(0));
    put32(target, 0); // not named
    target.append(QByteArray(255, '\0'));
    put32(target, quint32(elementBytes.size()));
    put32(target, quint32(elements.size()));
    target.append(elementBytes);

    QByteArray file("DfuSe");
    file.append(char(0x01));
    put32(file, quint32(11 + target.size()));
    file.append(char(1));
    file.append(target);
    put16(file, 0xFFFF);
    put16(file, 0xDF11);
    put16(file, 0x0483);
    put16(file, 0x011A);
    file.append("UFD");
    file.append(char(16));
    const auto crc = quint32(~crc32(0L, reinterpret_cast<const Bytef *>(file.constData()), uInt(file.size())));
    put32(file, crc);
    return file;
}

QVector<int> differingOffsets(const QByteArray &a, const QByteArray &b)
{
    QVector<int> offsets;
    const int n = qMin(a.size(), b.size());
    for (int i = 0; i < n; ++i)
        if (a.at(i) != b.at(i))
            offsets << i;
    for (int i = n; i < qMax(a.size(), b.size()); ++i)
        offsets << i;
    return offsets;
}
