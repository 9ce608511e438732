#include "core/IntervalTimer.h"

IntervalTimer::IntervalTimer(QObject* parent) : QObject(parent)
{
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, [this] {
        if (enabled)
            emit Timer();
    });
}

void IntervalTimer::setEnabled(bool on)
{
    enabled = on;
    restart();
}

void IntervalTimer::setInterval(int milliseconds)
{
    interval = milliseconds;
    restart();
}

void IntervalTimer::restart()
{
    if (enabled && interval > 0)
        timer.start(interval);
    else
        timer.stop();
}
