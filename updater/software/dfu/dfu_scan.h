#pragma once

#include <QString>
#include <QStringList>

enum DfuDeviceStatus {
    no_dfu_device = 0,
    one_dfu_device = 1,
    invalid_dfu_device = 2,
    multiple_dfu_devices = 3,
};

QString dfuDeviceStatusName(DfuDeviceStatus status);

struct DfuListParse {
    DfuDeviceStatus status = no_dfu_device;
    QStringList serials;
    int count = 0;
};

struct DfuScanResult {
    int code = 1;
    QStringList serials;
};

DfuListParse parseDfuList(const QString &output);
DfuScanResult scanDfuDevices();
