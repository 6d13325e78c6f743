#include "control/guarded_transition.h"
#include "control/sm_a.h"

#include <QSignalSpy>
#include <QState>
#include <QStateMachine>
#include <QtTest>

namespace {

int guardCalls = 0;
bool guardAnswer = false;

bool countingGuard()
{
    ++guardCalls;
    return guardAnswer;
}

} // namespace

class TestGuardedTransition : public QObject
{
    Q_OBJECT

private slots:
    void takenOnlyWhenSignalAndGuardAgree_data();
    void takenOnlyWhenSignalAndGuardAgree();
};

void TestGuardedTransition::takenOnlyWhenSignalAndGuardAgree_data()
{
    QTest::addColumn<bool>("emitWatchedSignal");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("expectedGuardCalls");
    QTest::addColumn<QString>("expectedState");

    QTest::newRow("the watched signal with a guard that agrees is taken") << true << true << 1 << "target";
    QTest::newRow("the watched signal with a guard that refuses is not taken") << true << false << 1 << "source";
    QTest::newRow("another signal never asks the guard") << false << true << 0 << "other";
}

void TestGuardedTransition::takenOnlyWhenSignalAndGuardAgree()
{
    QFETCH(bool, emitWatchedSignal);
    QFETCH(bool, answer);
    QFETCH(int, expectedGuardCalls);
    QFETCH(QString, expectedState);

    SM_A sender{QString(), QString(), QString()};
    QStateMachine machine;
    auto *source = new QState(&machine);
    source->setObjectName(QStringLiteral("source"));
    auto *target = new QState(&machine);
    target->setObjectName(QStringLiteral("target"));
    auto *other = new QState(&machine);
    other->setObjectName(QStringLiteral("other"));
    machine.setInitialState(source);

    // Tried first for every event, so the other signal passes through it too.
    auto *guarded = new GuardedTransition(&sender, SIGNAL(sig_DevConn()));
    guarded->guard = countingGuard;
    guarded->setTargetState(target);
    source->addTransition(guarded);
    source->addTransition(&sender, &SM_A::sig_NoDevConn, other);

    guardCalls = 0;
    guardAnswer = answer;
    QSignalSpy started(&machine, &QStateMachine::started);
    machine.start();
    QVERIFY(started.wait(10000));

    if (emitWatchedSignal)
        emit sender.sig_DevConn();
    else
        emit sender.sig_NoDevConn();
    QCoreApplication::processEvents();

    QTRY_COMPARE((*machine.configuration().begin())->objectName(), expectedState);
    QCOMPARE(guardCalls, expectedGuardCalls);
}

QTEST_GUILESS_MAIN(TestGuardedTransition)
#include "tst_guarded_transition.moc"
