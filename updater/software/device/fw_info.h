#pragma once

#include "device/product_info.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

class QDebug;

// A parsed firmware-information block.
struct FwInfo {
    ProductInfo product;
    QString name;
    QString revision;
    QList<QPair<QString, QString>> details;
    bool valid = false;

    QString toString() const;
};

FwInfo parseFwInfo(const QByteArray &data);
FwInfo readFwInfoFile(const QString &path);
QString readFwInfoField(const QByteArray &data, int offset);

QDebug operator<<(QDebug debug, const FwInfo &info);
