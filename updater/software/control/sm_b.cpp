#include "control/sm_b.h"

#include "control/guarded_transition.h"
#include "control/sm_a.h"

#include <QDebug>
#include <QSignalTransition>
#include <QState>

namespace {

// Read by the guards, which take no arguments. All of them live in the GUI
// thread: the desired values are set by the constructor, the device
// information arrives with SM_A's queued sig_DevConnInfo, just before the
// sig_DevConn that the guards judge.
quint8 desiredType = 0;
QString desiredRevision;
DeviceInfo reportedDeviceInfo;

QState *newNamedState(SM_B *machine, const char *name)
{
    auto *state = new QState(machine);
    state->setObjectName(QString::fromLatin1(name));
    return state;
}

void addGuardedTransition(QState *source, SM_A *smA, GuardedTransition::Guard guard, QState *target)
{
    auto *transition = new GuardedTransition(smA, SIGNAL(sig_DevConn()));
    transition->guard = guard;
    transition->setTargetState(target);
    source->addTransition(transition);
}

} // namespace

bool device_has_empty_otp()
{
    return reportedDeviceInfo.hasEmptyOtp();
}

bool device_has_invalid_type()
{
    if (!reportedDeviceInfo.valid)
        return false;
    return !reportedDeviceInfo.device_has_valid_type(desiredType);
}

bool device_has_different_revision()
{
    return reportedDeviceInfo.device_has_valid_type(desiredType)
        && !reportedDeviceInfo.hasSameRevision(desiredRevision);
}

bool device_has_same_revision()
{
    return reportedDeviceInfo.device_has_valid_type(desiredType)
        && reportedDeviceInfo.hasSameRevision(desiredRevision);
}

SM_B::SM_B(SM_A *deviceThread, quint8 type, const QString &revision)
    : smA(deviceThread)
{
    desiredType = type;
    desiredRevision = revision;

    b1 = newNamedState(this, "B1: No (DFU-SE) dev. conn.");
    b2 = newNamedState(this, "B2: Conn. to (DFU-SE) dev. with diff. FW rev.");
    b3 = newNamedState(this, "B3: Upgrading FW");
    b4 = newNamedState(this, "B4: Uploading and verifying FW");
    b6 = newNamedState(this, "B6: FW in dev. matches");
    b7 = newNamedState(this, "B7: FW in dev. differs");
    b8 = newNamedState(this, "B8: Invalid (DFU-SE) dev. conn.");
    b9 = newNamedState(this, "B9: Conn. to (DFU-SE) dev. with Empty OTP.");
    setInitialState(b1);

    // Same connection type as the machine's own connection to sig_DevConn, so
    // the copy is in place whenever the guards run: both are queued from SM_A's
    // thread in emission order, or both direct when emitted in this thread.
    connect(smA, &SM_A::sig_DevConnInfo, this,
            [](const DeviceInfo &info) { reportedDeviceInfo = info; });

    addTransitions();
    connectActions();
}

SM_B::~SM_B() = default;

void SM_B::addTransitions()
{
    addGuardedTransition(b1, smA, device_has_empty_otp, b9);
    addGuardedTransition(b1, smA, device_has_invalid_type, b8);
    addGuardedTransition(b1, smA, device_has_different_revision, b2);
    addGuardedTransition(b1, smA, device_has_same_revision, b4);
    b2->addTransition(this, &SM_B::sig_DoDownload, b3);
    b2->addTransition(smA, &SM_A::sig_NoDevConn, b1);
    b3->addTransition(smA, &SM_A::sig_NoDevConn, b1);
    b4->addTransition(smA, &SM_A::sig_FwUploadedMatches, b6);
    b4->addTransition(smA, &SM_A::sig_FwUploadedDiffers, b7);
    b6->addTransition(smA, &SM_A::sig_NoDevConn, b1);
    b7->addTransition(this, &SM_B::sig_DoDownload, b3);
    b7->addTransition(smA, &SM_A::sig_NoDevConn, b1);
    b8->addTransition(smA, &SM_A::sig_NoDevConn, b1);
    b9->addTransition(this, &SM_B::sig_DoDownload, b3);
    b9->addTransition(smA, &SM_A::sig_NoDevConn, b1);

    // Qt connects a signal transition to its sender only when its source state
    // is first entered, and a signal from SM_A's thread that finds no
    // connection is lost. B1 is entered at start; listening there to
    // sig_NoDevConn, without leaving, keeps that signal connected from the
    // start, so a unit that goes before SM_B has handled its report still
    // brings SM_B back to B1.
    b1->addTransition(new QSignalTransition(smA, &SM_A::sig_NoDevConn));
}

void SM_B::connectActions()
{
    connect(b1, &QState::entered, this, [this] {
        emit sig_UpgradeImpossible();
        deviceInfoSnapshot = DeviceInfo();
    });
    // Runs before the target's entry actions, so their receivers see the new snapshot.
    connect(b1, &QState::exited, this, [this] {
        deviceInfoSnapshot = reportedDeviceInfo;
        qInfo().noquote() << "Device connected with:\n" << deviceInfoSnapshot;
        emit sig_DeviceConnected();
    });
    connect(b2, &QState::entered, this, [this] {
        emit sig_UpgradePossible();
        emit sig_DifferingRevision();
    });
    connect(b9, &QState::entered, this, [this] {
        emit sig_UpgradeImpossible();
        emit sig_DifferingRevision();
    });
    connect(b3, &QState::entered, this, [this] { smA->setRequest(SM_A::RequestDownload); });
    connect(b4, &QState::entered, this, [this] {
        emit sig_UploadingVerifying();
        smA->setRequest(SM_A::RequestUploadVerify);
    });
    connect(b6, &QState::entered, this, [this] { emit sig_FwMatches(); });
    connect(b7, &QState::entered, this, [this] {
        emit sig_UpgradePossible();
        emit sig_FwDiffers();
    });
    connect(b8, &QState::entered, this, [this] { emit sig_InvalidProduct(); });
}

void SM_B::do_download()
{
    emit sig_DoDownload();
}

void SM_B::addDebugConnections()
{
    qInfo() << "SM_B: Add connections to show emitted signals";
    struct DebugSignal {
        void (SM_B::*signal)();
        const char *name;
    };
    static const DebugSignal debugSignals[] = {
        {&SM_B::sig_UpgradeImpossible, "UpgradeImpossible"},
        {&SM_B::sig_UpgradePossible, "UpgradePossible"},
        {&SM_B::sig_DifferingRevision, "DifferingRevision"},
        {&SM_B::sig_DoDownload, "DoDownload"},
        {&SM_B::sig_UploadingVerifying, "UploadingVerifying"},
        {&SM_B::sig_FwMatches, "FwMatches"},
        {&SM_B::sig_FwDiffers, "FwDiffers"},
        {&SM_B::sig_DeviceConnected, "DeviceConnected"},
        {&SM_B::sig_InvalidProduct, "InvalidProduct"},
    };
    for (const DebugSignal &entry : debugSignals) {
        const QString line = QStringLiteral("SM_B: /sig_%1").arg(QString::fromLatin1(entry.name));
        connect(this, entry.signal, this, [line] { qDebug() << line; });
    }
    for (QState *state : {b1, b2, b3, b4, b6, b7, b8, b9}) {
        const QString line = QStringLiteral("SM_B: entered %1").arg(state->objectName());
        connect(state, &QState::entered, this, [line] { qDebug() << line; });
    }
}
