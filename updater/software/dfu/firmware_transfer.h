#pragma once

#include <QString>

int downloadFirmware(const QString &sourcePath);
int uploadFlash(const QString &targetPath, int length);
int fileSize(const QString &path);
bool filesEqual(const QString &pathA, const QString &pathB);
bool uploadAndVerify(const QString &referencePath, const QString &uploadPath);
