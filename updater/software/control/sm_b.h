#pragma once

#include "device/device_info.h"

#include <QStateMachine>
#include <QString>

class QState;
class SM_A;

// The GUI flow: turns SM_A's reports into the states the window shows, and asks
// SM_A for the download and the verification.
class SM_B : public QStateMachine
{
    Q_OBJECT

public:
    SM_B(SM_A *deviceThread, quint8 type, const QString &revision);
    ~SM_B() override;

    void addDebugConnections();

signals:
    void sig_UpgradeImpossible();
    void sig_UpgradePossible();
    void sig_DifferingRevision();
    void sig_DoDownload();
    void sig_UploadingVerifying();
    void sig_FwMatches();
    void sig_FwDiffers();
    void sig_DeviceConnected();
    void sig_InvalidProduct();

public slots:
    void do_download();

private:
    void addTransitions();
    void connectActions();

    QState *b1;
    QState *b2;
    QState *b3;
    QState *b4;
    QState *b6;
    QState *b7;
    QState *b8;
    QState *b9;

public:
    // The connected device as it was reported when B1 was left; the default
    // while in B1. Read by the window's status texts.
    DeviceInfo deviceInfoSnapshot;

private:
    SM_A *smA;
};

// Guards of the transitions out of B1, tried in this order. They judge the
// device information that came with the sig_DevConn being handled against the
// desired firmware given to the last SM_B constructed.
bool device_has_empty_otp();
bool device_has_invalid_type();
bool device_has_different_revision();
bool device_has_same_revision();
