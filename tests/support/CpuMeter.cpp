#include "CpuMeter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <time.h>

double CpuMeter::busyShare(int ms)
{
    const auto cpuNs = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    };
    // Nanoseconds this thread has waited, runnable, for a CPU; 0 where the kernel does not say.
    const auto waitNs = [] {
        QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
        return stat.open(QIODevice::ReadOnly)
                   ? stat.readAll().simplified().split(' ').value(1).toLongLong()
                   : 0LL;
    };
    QElapsedTimer wall;
    const qint64 cpuBefore = cpuNs(), waitBefore = waitNs();
    wall.start();
    QTest::qWait(ms);
    const qint64 runnable = wall.nsecsElapsed() - (waitNs() - waitBefore);
    return double(cpuNs() - cpuBefore) / double(qMax<qint64>(runnable, 1));
}
