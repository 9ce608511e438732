#include "CpuMeter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <time.h>

namespace {

qint64 processCpuNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Nanoseconds this thread has waited, runnable, for a CPU; 0 where the kernel does not say.
qint64 runQueueWaitNs()
{
    QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    return stat.readAll().simplified().split(' ').value(1).toLongLong();
}

} // namespace

double CpuMeter::busyShare(int ms)
{
    QElapsedTimer wall;
    const qint64 cpuBefore = processCpuNs();
    const qint64 waitBefore = runQueueWaitNs();
    wall.start();
    QTest::qWait(ms);
    const qint64 runnable = wall.nsecsElapsed() - (runQueueWaitNs() - waitBefore);
    return double(processCpuNs() - cpuBefore) / double(qMax<qint64>(runnable, 1));
}
