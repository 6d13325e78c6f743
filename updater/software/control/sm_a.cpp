#include "control/sm_a.h"

#include "dfu/device_reader.h"
#include "dfu/dfu_scan.h"
#include "dfu/firmware_transfer.h"

#include <QDeadlineTimer>
#include <QDebug>

#if defined(__SANITIZE_THREAD__)
#define SM_A_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SM_A_THREAD_SANITIZER 1
#endif
#endif
#ifdef SM_A_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// QMutex locks and unlocks inside Qt's own code, which ThreadSanitizer does not
// see unless Qt was built for it; a sanitizer build announces the order the
// mutex gives by hand. Nothing happens in other builds.
void announceLocked([[maybe_unused]] QMutex *mutex)
{
#ifdef SM_A_THREAD_SANITIZER
    __tsan_acquire(mutex);
#endif
}

void announceUnlocking([[maybe_unused]] QMutex *mutex)
{
#ifdef SM_A_THREAD_SANITIZER
    __tsan_release(mutex);
#endif
}

// Holds `mutex` for one scope.
class Lock
{
public:
    explicit Lock(QMutex &mutex) : held(mutex)
    {
        held.lock();
        announceLocked(&held);
    }
    ~Lock()
    {
        announceUnlocking(&held);
        held.unlock();
    }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

    QMutex &held;
};

// The very first scan of the program follows at once; every later one waits.
// Only SM_A's thread reads or writes it.
bool firstPass = true;

// Whether the last signal shown by the debug connections was one of the two
// that alternate endlessly while no device is present. The handlers run
// directly in the emitting thread, SM_A's.
bool lastDebugSignalWasPolling = false;

void logDebugSignal(const QString &name, bool polling)
{
    // Only the first of a run of polling signals is worth a line.
    if (!(lastDebugSignalWasPolling && polling))
        qDebug() << QString(QStringLiteral("SM_A: /sig_") + name);
    lastDebugSignalWasPolling = polling;
}

bool showsExactlyDevice(const DfuScanResult &scan, const QString &serial)
{
    return scan.code == 0 && scan.serials.size() == 1 && scan.serials.first() == serial;
}

} // namespace

SM_A::SM_A(const QString &dfuFile, const QString &binFile, const QString &uploadFile, QObject *parent)
    : QThread(parent), dfuFilePath(dfuFile), binFilePath(binFile), uploadFilePath(uploadFile)
{
    qRegisterMetaType<DeviceInfo>("DeviceInfo");
    qDebug() << "SM_A created";
}

SM_A::~SM_A()
{
    mutex.lock();
    announceLocked(&mutex);
    stopRequested = true;
    waitCondition.wakeAll();
    announceUnlocking(&mutex);
    mutex.unlock();
    qDebug() << "SM_A: Waiting in dtor";
    wait();
}

void SM_A::setRequest(int newRequest)
{
    Lock locker(mutex);
    pendingRequest = newRequest;
}

int SM_A::request() const
{
    Lock locker(mutex);
    return pendingRequest;
}

void SM_A::requestStop()
{
    Lock locker(mutex);
    stopRequested = true;
    waitCondition.wakeAll();
}

bool SM_A::isStopRequested() const
{
    Lock locker(mutex);
    return stopRequested;
}

void SM_A::addDebugConnections()
{
    qInfo() << "SM_A: Adding connections to show debug output (state transitions)";
    struct DebugSignal {
        void (SM_A::*signal)();
        const char *name;
        bool polling;
    };
    static const DebugSignal debugSignals[] = {
        {&SM_A::sig_NoDevConn, "NoDevConn", true},
        {&SM_A::sig_scanning, "scanning", true},
        {&SM_A::sig_readingInfo, "readingInfo", false},
        {&SM_A::sig_DevConn, "DevConn", false},
        {&SM_A::sig_FwDownloading, "FwDownloading", false},
        {&SM_A::sig_FwDownloaded, "FwDownloaded", false},
        {&SM_A::sig_FwUploading, "FwUploading", false},
        {&SM_A::sig_FwUploadedDiffers, "FwUploadedDiffers", false},
        {&SM_A::sig_FwUploadedMatches, "FwUploadedMatches", false},
    };
    for (const DebugSignal &entry : debugSignals) {
        const QString name = QString::fromLatin1(entry.name);
        const bool polling = entry.polling;
        connect(this, entry.signal, this, [name, polling] { logDebugSignal(name, polling); },
                Qt::DirectConnection);
    }
}

void SM_A::run()
{
    State state = State::A0_StartOver;
    QString foundSerial;
    while (state != State::Ended) {
        switch (state) {
        case State::A0_StartOver:
            state = startOver();
            break;
        case State::A1_NoDevice:
            state = announceNoDevice();
            break;
        case State::A2_Scanning:
            state = scan(foundSerial);
            break;
        case State::A3_ReadingInfo:
            state = readNewDevice(foundSerial);
            break;
        case State::A4_Connected:
            state = serveConnectedDevice();
            break;
        case State::A5_Downloading:
            state = downloadFirmwareImage();
            break;
        case State::A6_UploadingVerifying:
            state = verifyFirmwareImage();
            break;
        case State::A7_FaultyDevice:
            state = waitForFaultyDeviceToGo();
            break;
        case State::Ended:
            break;
        }
    }
}

// A0: forget the device.
SM_A::State SM_A::startOver()
{
    emit sig_A0_entered();
    currentSerial.clear();
    dropPendingDownloadRequest();
    return State::A1_NoDevice;
}

// A1: no device connected.
SM_A::State SM_A::announceNoDevice()
{
    emit sig_A1_entered();
    if (isStopRequested())
        return State::Ended;
    deviceInfo = DeviceInfo();
    emit sig_NoDevConn();
    if (firstPass) {
        firstPass = false;
        return State::A2_Scanning;
    }
    return pause(noDevConnSleepMs) ? State::A2_Scanning : State::Ended;
}

// A2: look for exactly one device.
SM_A::State SM_A::scan(QString &foundSerial)
{
    emit sig_A2_entered();
    emit sig_scanning();
    const DfuScanResult result = scanDfuDevices();
    if (result.code != 0 || result.serials.size() != 1)
        return State::A0_StartOver;
    foundSerial = result.serials.first();
    return foundSerial == currentSerial ? State::A4_Connected : State::A3_ReadingInfo;
}

// A3: read a newly found device.
SM_A::State SM_A::readNewDevice(const QString &serial)
{
    emit sig_readingInfo();
    emit sig_NoDevConn();
    dropPendingDownloadRequest();
    currentSerial = serial;
    // A device that replaced another between two polls must not inherit any
    // of its predecessor's fields.
    deviceInfo = DeviceInfo();
    const DfuResult result = readDeviceInfo(deviceInfo);
    if (result.exitCode != 0) {
        emit sig_DeviceError(result.output);
        return State::A7_FaultyDevice;
    }
    emit sig_DevConnInfo(deviceInfo);
    emit sig_DevConn();
    return State::A4_Connected;
}

// A4: device connected. A request is acted on only here, right after a scan
// (or the read) has shown the device it was made for; a request made while
// the loop pauses waits for the next scan, so that a unit swapped during the
// pause is never written to on the strength of a click meant for its
// predecessor.
SM_A::State SM_A::serveConnectedDevice()
{
    emit sig_A4_entered();
    if (isStopRequested())
        return State::Ended;
    switch (takeRequest()) {
    case RequestDownload:
        return State::A5_Downloading;
    case RequestUploadVerify:
        return State::A6_UploadingVerifying;
    default:
        break;
    }
    return pause(devConnSleepMs) ? State::A2_Scanning : State::Ended;
}

// A5: download; its exit code changes nothing, the next read tells.
SM_A::State SM_A::downloadFirmwareImage()
{
    emit sig_A5_entered();
    emit sig_FwDownloading();
    downloadFirmware(binFilePath);
    emit sig_FwDownloaded();
    return State::A0_StartOver;
}

// A6: read the flash back and compare it with the image.
SM_A::State SM_A::verifyFirmwareImage()
{
    emit sig_A6_entered();
    emit sig_FwUploading();
    if (uploadAndVerify(binFilePath, uploadFilePath)) {
        qDebug() << "Uploaded FW matches";
        emit sig_FwUploadedMatches();
    } else {
        qDebug() << "Uploaded FW does not match";
        emit sig_FwUploadedDiffers();
    }
    return State::A2_Scanning;
}

// A7: the device could not be read; poll quietly until it is no longer the
// one attached device.
SM_A::State SM_A::waitForFaultyDeviceToGo()
{
    emit sig_A7_entered();
    emit sig_scanning();
    do {
        if (!pause(devConnSleepMs))
            return State::Ended;
    } while (showsExactlyDevice(scanDfuDevices(), currentSerial));
    return State::A0_StartOver;
}

// Sleeps, but wakes at once for a stop request; false when one is pending.
bool SM_A::pause(unsigned long milliseconds)
{
    const QDeadlineTimer deadline{qint64(milliseconds)};
    Lock locker(mutex);
    while (!stopRequested && !deadline.hasExpired()) {
        announceUnlocking(&mutex);
        waitCondition.wait(&mutex, deadline);
        announceLocked(&mutex);
    }
    return !stopRequested;
}

// Reads and clears a download or verification request in one step, so that a
// request set in between cannot be lost. Other values are left in place.
int SM_A::takeRequest()
{
    Lock locker(mutex);
    const int taken = pendingRequest;
    if (taken == RequestDownload || taken == RequestUploadVerify)
        pendingRequest = RequestNone;
    return taken;
}

// A download request belongs to the unit the user was shown; once the loop
// forgets that unit or starts on another, the request must not reach it. A
// verification request is kept: the GUI flow waits for its result.
void SM_A::dropPendingDownloadRequest()
{
    bool dropped = false;
    {
        Lock locker(mutex);
        if (pendingRequest == RequestDownload) {
            pendingRequest = RequestNone;
            dropped = true;
        }
    }
    if (dropped)
        qDebug() << "SM_A: Download request dropped, its device is gone";
}
