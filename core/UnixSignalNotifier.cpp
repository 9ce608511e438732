#include "core/UnixSignalNotifier.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// [0] written by the handler, [1] read by the event loop.
int pipeEnds[2] = {-1, -1};

} // namespace

UnixSignalNotifier::UnixSignalNotifier(const QList<int>& signalNumbers, QObject* parent)
    : QObject(parent)
{
    if (pipeEnds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UnixSignalNotifier::drain);

    valid = true;
    for (const int number : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = &UnixSignalNotifier::handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction old {};
        if (::sigaction(number, &action, &old) == 0)
            previous.append({number, old});
        else
            valid = false;
    }
}

UnixSignalNotifier::~UnixSignalNotifier()
{
    for (const auto& [number, old] : std::as_const(previous))
        ::sigaction(number, &old, nullptr);
    if (notifier) {
        delete notifier;
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        pipeEnds[0] = pipeEnds[1] = -1;
    }
}

void UnixSignalNotifier::handle(int signalNumber)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
    errno = saved;
}

void UnixSignalNotifier::drain()
{
    unsigned char bytes[64];
    for (;;) {
        const ssize_t got = ::read(pipeEnds[1], bytes, sizeof bytes);
        if (got <= 0)
            return;
        for (ssize_t i = 0; i < got; ++i)
            emit received(bytes[i]);
    }
}

// Compiled here so that the service links without the window code of the library.
#include "moc_UnixSignalNotifier.cpp"
