#pragma once

#include <QList>
#include <QString>

class QTemporaryDir;

// The working files, each identified by a small integer.
enum class WorkFile : int {
    DfuUtil = 0,
    FirmwareDfu = 1,
    FirmwareBin = 2,
    UploadedFw = 3,
    UploadedFwInfo = 4,
    UploadedOtp = 5,
};

inline const QString dfuUtilFileName = QStringLiteral("dfu-util.exe");
inline const QString firmwareDfuFileName = QStringLiteral("firmware.dfu");
inline const QString firmwareBinFileName = QStringLiteral("firmware.bin");
inline const QString uploadedFwFileName = QStringLiteral("uploaded_FW.bin");
inline const QString uploadedFwInfoFileName = QStringLiteral("uploaded_FW_info.bin");
inline const QString uploadedOtpFileName = QStringLiteral("uploaded_OTP.bin");

// File name of a working file; empty for a value without an entry.
QString workFileName(WorkFile file);

// The process-wide temporary working directory, created before main() runs
// and removed with everything in it when the process ends.
QTemporaryDir &workingDirectory();
QString workingDirectoryPath();

// Working directory path, "/", file name.
QString workFilePath(const QString &fileName);
QString workFilePath(WorkFile file);

bool extractWorkFiles(const QList<WorkFile> &files, bool allRequired);
QString dfuUtilExecutablePath();
bool makeExecutable(const QString &path);
void removeFileIfExists(const QString &path);

// Whole file as UTF-8 up to the first NUL byte. Throws the QString
// "Couldn't open file: <path>" when the file cannot be opened.
QString readTextFile(const QString &path);

// Platform fixed at build time: 0 Linux, 1 macOS, 2 Windows, 3 other.
int buildPlatform();
QString platformName(int platform);
bool isWindowsPlatform(int platform);
