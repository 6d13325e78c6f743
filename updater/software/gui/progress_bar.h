#pragma once

#include <QProgressBar>
#include <QString>

#include <functional>

class QTimer;

// Time-based progress: fills from minimum to maximum over a run's duration,
// following the clock rather than the number of timer ticks.
class ProgressBar : public QProgressBar
{
    Q_OBJECT

public:
    explicit ProgressBar(QWidget *parent = nullptr);

    int steps = 1;
    int minIntervalMs = 50;
    QTimer *timer = nullptr;
    // Reading of `clockMs` when the current run started.
    qint64 startTime = 0;
    int durationMs = 10000;

    // Monotonic milliseconds; tests put a clock of their own here.
    std::function<qint64()> clockMs;

    qint64 elapsedMs() const;

signals:
    void finished();

public slots:
    void startAutoProgress(QString format, double duration = -1);
    void startAutoProgress();
    void increase();

private:
    void applyStyle();
};
