#pragma once

#include <QObject>
#include <QTimer>

// A repeating timer driven by two properties: it runs while Enabled is true and Interval is
// above 0, and every switch to enabled or new interval starts its countdown afresh.
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    explicit IntervalTimer(QObject* parent = nullptr);

    bool Enabled() const { return enabled; }
    int Interval() const { return interval; }
    // True while a countdown is under way (enabled with a positive interval).
    bool isRunning() const { return timer.isActive(); }
    // Milliseconds left in the current countdown, -1 when none runs.
    int remainingTime() const { return timer.remainingTime(); }

public slots:
    // Enabling an enabled timer restarts its countdown.
    void setEnabled(bool on);
    // Milliseconds; 0 or less keeps the timer from firing while leaving Enabled as it is.
    void setInterval(int milliseconds);

signals:
    void Timer();

private:
    void restart();

    QTimer timer;
    bool enabled = false;
    int interval = 0;
};
