#pragma once

#include <QSignalTransition>

// A signal transition that is taken only when its guard agrees.
class GuardedTransition : public QSignalTransition
{
public:
    using Guard = bool (*)();

    GuardedTransition(const QObject *sender, const char *signal, QState *sourceState = nullptr);
    ~GuardedTransition() override;

    // Asked only after the signal has matched; a transition without a guard is
    // taken like a plain signal transition.
    Guard guard = nullptr;

protected:
    bool eventTest(QEvent *event) override;
};
