#include "PtyPair.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <utility>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    int slaveFd = -1;
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slaveFd, name, &raw, nullptr) != 0) {
        master = -1;
        return;
    }
    slave = QString::fromLocal8Bit(name);
    ::close(slaveFd);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not hold the master open: closing it would not end the line.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
}

void PtyPair::closeMaster()
{
    if (master >= 0)
        ::close(std::exchange(master, -1));
}

bool PtyPair::writeAll(const QByteArray& bytes)
{
    qsizetype done = 0;
    for (QDeadlineTimer limit(20000); master >= 0 && done < bytes.size() && !limit.hasExpired();) {
        const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
        n > 0 ? void(done += n) : QTest::qWait(1);
    }
    return done == bytes.size();
}

QByteArray PtyPair::readCount(qsizetype count)
{
    QByteArray got;
    char buffer[4096];
    for (QDeadlineTimer limit(20000); master >= 0 && got.size() < count && !limit.hasExpired();) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        n > 0 ? void(got.append(buffer, n)) : QTest::qWait(1);
    }
    return got;
}

int PtyPair::openSlave() const
{
    return ::open(QFile::encodeName(slave).constData(), O_RDWR | O_NOCTTY);
}
