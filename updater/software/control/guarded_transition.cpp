#include "control/guarded_transition.h"

GuardedTransition::GuardedTransition(const QObject *sender, const char *signal, QState *sourceState)
    : QSignalTransition(sender, signal, sourceState)
{
}

GuardedTransition::~GuardedTransition() = default;

bool GuardedTransition::eventTest(QEvent *event)
{
    if (!QSignalTransition::eventTest(event))
        return false;
    return guard == nullptr || guard();
}
