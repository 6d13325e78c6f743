#include "gui/progress_bar.h"

#include "gui/style_sheets.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <limits>

ProgressBar::ProgressBar(QWidget *parent)
    : QProgressBar(parent)
    , timer(new QTimer(this))
    , clockMs([] { return QDeadlineTimer::current().deadline(); })
{
    applyStyle();
    connect(timer, &QTimer::timeout, this, &ProgressBar::increase);
}

qint64 ProgressBar::elapsedMs() const
{
    return clockMs() - startTime;
}

void ProgressBar::applyStyle()
{
    setRange(0, 100);
    setStyleSheet(progressBarStyleSheet());
}

void ProgressBar::startAutoProgress(QString format, double duration)
{
    timer->stop();
    setValue(minimum());
    setFormat(format);
    // A NaN fails this test and keeps the previous duration, like a negative one.
    if (duration >= 0) {
        // Clamped so that an absurd duration cannot overflow the conversion.
        const double requestedMs = duration * 1000;
        const int ms = requestedMs >= std::numeric_limits<int>::max()
                           ? std::numeric_limits<int>::max()
                           : static_cast<int>(requestedMs);
        durationMs = ms > 0 ? ms : 1;
    }
    startAutoProgress();
}

void ProgressBar::startAutoProgress()
{
    steps = maximum() - minimum();
    if (steps <= 0)
        steps = 1;
    setValue(minimum());
    int interval = durationMs / steps;
    if (interval < minIntervalMs)
        interval = minIntervalMs;
    timer->setInterval(interval);
    timer->start();
    startTime = clockMs();
    show();
}

void ProgressBar::increase()
{
    setValue(static_cast<int>(static_cast<double>(elapsedMs()) / durationMs * steps));
    if (elapsedMs() > durationMs) {
        timer->stop();
        setValue(maximum());
        emit finished();
    }
}
