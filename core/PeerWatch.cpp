#include "core/PeerWatch.h"

#include <QAbstractSocket>
#include <QVariant>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// Keepalive probes start after this much silence of an idle connection and repeat at this
// interval, so a vanished idle peer has left probes unanswered for the check to see within
// SilentMs. The count lets the kernel end the connection by itself only well after that.
constexpr int KeepIdleS = 10;
constexpr int KeepIntervalS = 5;
constexpr int KeepCount = 8;

// The connection of descriptor fd is established and its peer has acknowledged nothing for
// SilentMs while data or a probe of ours waits for an answer. A live peer that keeps its window
// shut answers every window probe, which clears the probe count, even when the probes have
// backed off to half a minute or more apart; silence alone would cut it.
bool peerSilent(qintptr fd)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (fd < 0 || ::getsockopt(int(fd), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    return info.tcpi_state == TCP_ESTABLISHED &&
           info.tcpi_last_ack_recv >= quint32(PeerWatch::SilentMs) &&
           (info.tcpi_unacked > 0 || info.tcpi_probes > 0);
}

} // namespace

PeerWatch::PeerWatch(QAbstractSocket* socket) : QObject(socket), socket(socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr fd = socket->socketDescriptor();
    if (fd >= 0) {
        ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdleS, sizeof KeepIdleS);
        ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &KeepIntervalS, sizeof KeepIntervalS);
        ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &KeepCount, sizeof KeepCount);
    }
    timer.setInterval(CheckMs);
    connect(&timer, &QTimer::timeout, this, &PeerWatch::check);
    timer.start();
}

void PeerWatch::check()
{
    if (socket->state() != QAbstractSocket::ConnectedState ||
        !peerSilent(socket->socketDescriptor()))
        return;
    timer.stop();
    emit peerLost();
}
