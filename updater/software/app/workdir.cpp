#include "app/workdir.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// Resource sets live in the static library; these pull them in and register them.
static void registerResourceSets()
{
    Q_INIT_RESOURCE(fonts);
    Q_INIT_RESOURCE(dfuutil);
    Q_INIT_RESOURCE(product);
}

static void unregisterResourceSets()
{
    Q_CLEANUP_RESOURCE(product);
    Q_CLEANUP_RESOURCE(dfuutil);
    Q_CLEANUP_RESOURCE(fonts);
}

namespace {

struct ResourceRegistration {
    ResourceRegistration() { registerResourceSets(); }
    ~ResourceRegistration() { unregisterResourceSets(); }
};

[[maybe_unused]] const ResourceRegistration resourceRegistration;

// Qt answers an empty path when TMPDIR names no directory, which would put the
// working directory into "/". Fall back to the system's default, as the C
// library's temporary files do.
QString temporaryFilesPath()
{
    const QString path = QDir::tempPath();
    return path.isEmpty() ? QStringLiteral("/tmp") : path;
}

// Created during static initialisation so that the directory exists before main().
QTemporaryDir &workingDirectoryInstance()
{
    static QTemporaryDir dir(temporaryFilesPath() + QStringLiteral("/upgrade_XXXXXX"));
    return dir;
}

[[maybe_unused]] const bool workingDirectoryCreated = workingDirectoryInstance().isValid();

} // namespace

QString workFileName(WorkFile file)
{
    switch (file) {
    case WorkFile::DfuUtil: return dfuUtilFileName;
    case WorkFile::FirmwareDfu: return firmwareDfuFileName;
    case WorkFile::FirmwareBin: return firmwareBinFileName;
    case WorkFile::UploadedFw: return uploadedFwFileName;
    case WorkFile::UploadedFwInfo: return uploadedFwInfoFileName;
    case WorkFile::UploadedOtp: return uploadedOtpFileName;
    }
    return QString();
}

QTemporaryDir &workingDirectory()
{
    return workingDirectoryInstance();
}

QString workingDirectoryPath()
{
    return workingDirectory().path();
}

QString workFilePath(const QString &fileName)
{
    return workingDirectoryPath() + QLatin1Char('/') + fileName;
}

QString workFilePath(WorkFile file)
{
    return workFilePath(workFileName(file));
}

bool extractWorkFiles(const QList<WorkFile> &files, bool allRequired)
{
    if (!workingDirectory().isValid()) {
        qInfo() << "Failed to create temporary directory:" << workingDirectory().errorString();
        return false;
    }
    bool allCopied = true;
    for (WorkFile file : files) {
        const QString name = workFileName(file);
        if (QFile::copy(QStringLiteral(":resources/") + name, workFilePath(name))) {
            qDebug() << "Extracted " << name;
        } else {
            qInfo() << "Failed to extract " << name;
            allCopied = false;
        }
    }
    return allRequired ? allCopied : true;
}

QString dfuUtilExecutablePath()
{
    return QStringLiteral("%1/%2").arg(workingDirectoryPath(), dfuUtilFileName);
}

bool makeExecutable(const QString &path)
{
    QFile file(path);
    if (!file.exists()) {
        qWarning() << "Failed to mark file (doesn't exist) as executable:" << path;
        return false;
    }
    qDebug() << "Changing file permissions to make it executable:" << path;
    return file.setPermissions(file.permissions() | QFileDevice::ExeUser
                               | QFileDevice::ExeGroup | QFileDevice::ExeOther);
}

void removeFileIfExists(const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && info.isFile())
        QFile::remove(path);
}

QString readTextFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw QStringLiteral("Couldn't open file: %1").arg(path);
    const QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

int buildPlatform()
{
#if defined(Q_OS_LINUX)
    return 0;
#elif defined(Q_OS_MACOS)
    return 1;
#elif defined(Q_OS_WIN)
    return 2;
#else
    return 3;
#endif
}

QString platformName(int platform)
{
    switch (platform) {
    case 0: return QStringLiteral("Linux");
    case 1: return QStringLiteral("macOS");
    case 2: return QStringLiteral("windows");
    case 3: return QStringLiteral("unknown");
    default: return QString();
    }
}

bool isWindowsPlatform(int platform)
{
    return platform == 2;
}
