#pragma once

#include "device/device_info.h"

#include <QMetaType>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

Q_DECLARE_METATYPE(DeviceInfo)

// The device-interaction thread: polls for the product in DFU mode, reads each
// newly found device and runs the download and the verification on request.
// It reports only through its signals; the GUI side reaches it only through the
// request and the stop flag, both behind `mutex`.
//
// States: A0 start over, A1 no device, A2 scanning, A3 reading a new device,
// A4 device connected and idle, A5 downloading, A6 uploading and verifying,
// A7 faulty device, waiting for it to go.
class SM_A : public QThread
{
    Q_OBJECT

public:
    static constexpr int RequestNone = 0;
    static constexpr int RequestDownload = 1;
    static constexpr int RequestUploadVerify = 2;

    SM_A(const QString &dfuFile, const QString &binFile, const QString &uploadFile,
         QObject *parent = nullptr);
    ~SM_A() override;

    void setRequest(int newRequest);
    int request() const;
    void requestStop();
    bool isStopRequested() const;

    void addDebugConnections();

signals:
    void sig_NoDevConn();
    void sig_DevConn();
    void sig_scanning();
    void sig_readingInfo();
    void sig_DeviceError(QString message);
    void sig_FwDownloading();
    void sig_FwDownloaded();
    void sig_FwUploading();
    void sig_FwUploadedDiffers();
    void sig_FwUploadedMatches();
    void sig_A0_entered();
    void sig_A1_entered();
    void sig_A2_entered();
    void sig_A3_entered(); // entering A3 is marked by sig_readingInfo
    void sig_A4_entered();
    void sig_A5_entered();
    void sig_A6_entered();
    void sig_A7_entered();
    // Emitted right before every sig_DevConn with a copy of the device
    // information just read. Queued to the GUI thread in emission order, it
    // hands the receiver exactly the information of the sig_DevConn that
    // follows it, however late that is handled and whatever the loop has
    // done to its own copy meanwhile.
    void sig_DevConnInfo(const DeviceInfo &info);

protected:
    void run() override;

private:
    enum class State {
        A0_StartOver,
        A1_NoDevice,
        A2_Scanning,
        A3_ReadingInfo,
        A4_Connected,
        A5_Downloading,
        A6_UploadingVerifying,
        A7_FaultyDevice,
        Ended,
    };

    State startOver();                                  // A0
    State announceNoDevice();                           // A1
    State scan(QString &foundSerial);                   // A2
    State readNewDevice(const QString &serial);         // A3
    State serveConnectedDevice();                       // A4
    State downloadFirmwareImage();                      // A5
    State verifyFirmwareImage();                        // A6
    State waitForFaultyDeviceToGo();                    // A7

    bool pause(unsigned long milliseconds);
    int takeRequest();
    void dropPendingDownloadRequest();

    // Only the loop's thread touches these once it runs.
    DeviceInfo deviceInfo;
    const QString dfuFilePath;    // kept for completeness; no operation uses it
    const QString binFilePath;
    const QString uploadFilePath;
    QString currentSerial;

    // Guarded by `mutex`.
    int pendingRequest = RequestNone;

public:
    // Set before the thread starts, only read afterwards.
    unsigned long noDevConnSleepMs = 200;
    unsigned long devConnSleepMs = 200;

private:
    // Guarded by `mutex`.
    bool stopRequested = false;
    mutable QMutex mutex;
    // Ends the loop's pauses early when a stop is requested.
    QWaitCondition waitCondition;
};
