#pragma once

#include "device/device_info.h"
#include "dfu/dfu_command.h"

// Uploads and judges the OTP record and the firmware-information block of the
// attached device into a DeviceInfo that the caller has just reset.
DfuResult readDeviceInfo(DeviceInfo &info);
FwInfo readFwInfoFromDevice();
