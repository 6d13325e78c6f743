#include "dfu/firmware_transfer.h"

#include "app/workdir.h"
#include "dfu/dfu_runner.h"

#include <QFile>

int downloadFirmware(const QString &sourcePath)
{
    return runDfuCommand(DfuCommand::DownloadFw, {sourcePath}).exitCode;
}

int uploadFlash(const QString &targetPath, int length)
{
    removeFileIfExists(targetPath);
    return runDfuCommand(DfuCommand::UploadFw,
                         {QStringLiteral("-s"), QStringLiteral("0x08000000:%1").arg(length), QStringLiteral("-U"),
                          targetPath})
        .exitCode;
}

int fileSize(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return int(file.size());
}

bool filesEqual(const QString &pathA, const QString &pathB)
{
    const int sizeA = fileSize(pathA);
    if (sizeA <= 0 || fileSize(pathB) != sizeA)
        return false;
    QFile fileA(pathA);
    QFile fileB(pathB);
    if (!fileA.open(QIODevice::ReadOnly) || !fileB.open(QIODevice::ReadOnly))
        return false;
    const QByteArray contentA = fileA.readAll();
    const QByteArray contentB = fileB.readAll();
    return contentA.size() == contentB.size() && contentA == contentB;
}

bool uploadAndVerify(const QString &referencePath, const QString &uploadPath)
{
    const int length = fileSize(referencePath);
    if (length <= 0)
        return false;
    if (uploadFlash(uploadPath, length) != 0)
        return false;
    return filesEqual(referencePath, uploadPath);
}
