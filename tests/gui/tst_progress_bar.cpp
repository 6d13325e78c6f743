#include "gui/progress_bar.h"
#include "gui/style_sheets.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// A bar on a clock that only moves when the test moves it; the bar's timer
// still ticks for real, so every step goes through the connected timeout.
struct ClockedBar {
    qint64 now = 1000000;
    ProgressBar bar;
    QSignalSpy finished{&bar, &ProgressBar::finished};
    QSignalSpy ticks{bar.timer, &QTimer::timeout};

    ClockedBar() { bar.clockMs = [this] { return now; }; }

    // Moves the clock and waits for the tick that sees it.
    bool advanceAndTick(qint64 ms)
    {
        now += ms;
        ticks.clear();
        return ticks.wait(10000);
    }
};

} // namespace

class TestProgressBar : public QObject
{
    Q_OBJECT

private slots:
    void freshBarIsIdleWithItsStyle();
    void startSetsDurationAndInterval_data();
    void startSetsDurationAndInterval();
    void sixtySecondRunFollowsTheClock();
    void halfSecondRunFinishesAtTheFirstTickPastItsEnd();
    void zeroDurationFinishesAtTheFirstTick();
    void negativeDurationKeepsThePreviousRun();
    void restartWhileRunningStartsTheClockAgain();
    void lateTickCatchesUpAtOnce();
    void stoppingTheTimerEndsARunWithoutFinished();
    void realClockRunFinishes();
};

void TestProgressBar::freshBarIsIdleWithItsStyle()
{
    ProgressBar bar;
    QCOMPARE(bar.minimum(), 0);
    QCOMPARE(bar.maximum(), 100);
    QCOMPARE(bar.styleSheet(), progressBarStyleSheet());
    QCOMPARE(bar.styleSheet().size(), 181);
    QVERIFY(bar.styleSheet().startsWith(QStringLiteral("\nQProgressBar {\n    border: 2px solid grey;")));
    QCOMPARE(bar.durationMs, 10000);
    QCOMPARE(bar.minIntervalMs, 50);
    QVERIFY(bar.timer);
    QCOMPARE(bar.timer->parent(), &bar);
    QVERIFY(!bar.timer->isActive());
}

void TestProgressBar::startSetsDurationAndInterval_data()
{
    QTest::addColumn<double>("duration");
    QTest::addColumn<int>("durationMs");
    QTest::addColumn<int>("interval");

    QTest::newRow("a 60 s run ticks every 600 ms") << 60.0 << 60000 << 600;
    QTest::newRow("a 0.5 s run ticks at the 50 ms lower bound") << 0.5 << 500 << 50;
    QTest::newRow("a text alone on a fresh bar runs 10 s at 100 ms") << -1.0 << 10000 << 100;
    QTest::newRow("a zero duration becomes 1 ms") << 0.0 << 1 << 50;
    QTest::newRow("less than a millisecond becomes 1 ms") << 0.0004 << 1 << 50;
    QTest::newRow("fractions of a millisecond are truncated") << 12.3456789 << 12345 << 123;
    QTest::newRow("a NaN keeps the previous duration") << std::nan("") << 10000 << 100;
    QTest::newRow("an absurd duration is clamped instead of overflowing")
        << 1e12 << std::numeric_limits<int>::max() << std::numeric_limits<int>::max() / 100;
}

void TestProgressBar::startSetsDurationAndInterval()
{
    QFETCH(double, duration);
    QFETCH(int, durationMs);
    QFETCH(int, interval);

    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.hide();
    if (duration < 0)
        bar.startAutoProgress(QStringLiteral("Text alone"));
    else
        bar.startAutoProgress(QStringLiteral("Working"), duration);
    QCOMPARE(bar.durationMs, durationMs);
    QCOMPARE(bar.steps, 100);
    QCOMPARE(bar.timer->interval(), interval);
    QVERIFY(bar.timer->isActive());
    QCOMPARE(bar.value(), 0);
    QVERIFY(bar.isVisible());
    QCOMPARE(bar.startTime, clocked.now);
    QCOMPARE(bar.format(), duration < 0 ? QStringLiteral("Text alone") : QStringLiteral("Working"));
}

void TestProgressBar::sixtySecondRunFollowsTheClock()
{
    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.startAutoProgress(QStringLiteral("Upgrading firmware"), 60.0);
    QCOMPARE(bar.value(), 0);

    QVERIFY(clocked.advanceAndTick(30000));
    QCOMPARE(bar.value(), 50);
    QVERIFY(clocked.advanceAndTick(29999));
    QCOMPARE(bar.value(), 99);
    QVERIFY(clocked.advanceAndTick(1));
    QCOMPARE(bar.value(), 100);
    QCOMPARE(clocked.finished.count(), 0);
    QVERIFY(bar.timer->isActive());

    QVERIFY(clocked.advanceAndTick(1));
    QCOMPARE(clocked.finished.count(), 1);
    QCOMPARE(bar.value(), 100);
    QVERIFY(!bar.timer->isActive());
    QVERIFY(bar.isVisible());
    QCOMPARE(bar.format(), QStringLiteral("Upgrading firmware"));
}

void TestProgressBar::halfSecondRunFinishesAtTheFirstTickPastItsEnd()
{
    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.startAutoProgress(QStringLiteral("Uploading & verifying"), 0.5);
    QVERIFY(clocked.advanceAndTick(250));
    QCOMPARE(bar.value(), 50);
    QVERIFY(clocked.advanceAndTick(250));
    QCOMPARE(clocked.finished.count(), 0);
    QVERIFY(clocked.advanceAndTick(1));
    QCOMPARE(clocked.finished.count(), 1);
    QCOMPARE(bar.value(), 100);
    QVERIFY(!bar.timer->isActive());
}

void TestProgressBar::zeroDurationFinishesAtTheFirstTick()
{
    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.startAutoProgress(QStringLiteral("Instant"), 0.0);
    QVERIFY(clocked.advanceAndTick(50));
    QCOMPARE(clocked.finished.count(), 1);
    QCOMPARE(bar.value(), 100);
    QVERIFY(!bar.timer->isActive());
}

void TestProgressBar::negativeDurationKeepsThePreviousRun()
{
    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.startAutoProgress(QStringLiteral("First"), 60.0);
    QVERIFY(clocked.advanceAndTick(60001));
    QCOMPARE(clocked.finished.count(), 1);

    bar.startAutoProgress(QStringLiteral("Second"), -3.0);
    QCOMPARE(bar.format(), QStringLiteral("Second"));
    QCOMPARE(bar.durationMs, 60000);
    QCOMPARE(bar.timer->interval(), 600);
    QCOMPARE(bar.value(), 0);
    QVERIFY(clocked.advanceAndTick(45000));
    QCOMPARE(bar.value(), 75);
    QCOMPARE(clocked.finished.count(), 1);
}

void TestProgressBar::restartWhileRunningStartsTheClockAgain()
{
    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.startAutoProgress(QStringLiteral("Run"), 60.0);
    QVERIFY(clocked.advanceAndTick(40000));
    QCOMPARE(bar.value(), 66);

    bar.startAutoProgress(QStringLiteral("Run again"), 60.0);
    QCOMPARE(bar.value(), 0);
    QVERIFY(clocked.advanceAndTick(30000));
    QCOMPARE(bar.value(), 50);
    QCOMPARE(clocked.finished.count(), 0);
    QVERIFY(clocked.advanceAndTick(30001));
    QCOMPARE(clocked.finished.count(), 1);

    bar.startAutoProgress();
    QCOMPARE(bar.format(), QStringLiteral("Run again"));
    QCOMPARE(bar.value(), 0);
    QVERIFY(bar.timer->isActive());
}

void TestProgressBar::lateTickCatchesUpAtOnce()
{
    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.startAutoProgress(QStringLiteral("Late"), 10.0);
    QCOMPARE(bar.timer->interval(), 100);
    QVERIFY(clocked.advanceAndTick(8765));
    QCOMPARE(bar.value(), 87);
}

void TestProgressBar::stoppingTheTimerEndsARunWithoutFinished()
{
    ClockedBar clocked;
    ProgressBar &bar = clocked.bar;
    bar.startAutoProgress(QStringLiteral("Stopped"), 0.5);
    bar.timer->stop();
    clocked.now += 10000;
    QVERIFY(!clocked.ticks.wait(300));
    QCOMPARE(clocked.finished.count(), 0);
    QCOMPARE(bar.value(), 0);
}

void TestProgressBar::realClockRunFinishes()
{
    ProgressBar bar;
    QSignalSpy finished(&bar, &ProgressBar::finished);
    bar.startAutoProgress(QStringLiteral("Real"), 0.0);
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(bar.value(), 100);
}

QTEST_MAIN(TestProgressBar)
#include "tst_progress_bar.moc"
