#include "host/RelayHostClient.h"

#include "host/RelayHostProtocol.h"

#include <QTcpSocket>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// Finds a vanished peer (cable pulled, machine off, network down) within about 40 seconds of
// silence, so that its connection does not linger in its group and in the list.
void keepAlive(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr fd = socket->socketDescriptor();
    if (fd < 0)
        return;
    const int idle = 20;
    const int interval = 5;
    const int probes = 4;
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

QString peerText(const QTcpSocket* socket)
{
    bool v4Address = false;
    const quint32 v4 = socket->peerAddress().toIPv4Address(&v4Address);
    if (v4Address)
        return QHostAddress(v4).toString() + QLatin1Char(':') + QString::number(socket->peerPort());
    return QLatin1Char('[') + socket->peerAddress().toString() + QLatin1String("]:") +
           QString::number(socket->peerPort());
}

} // namespace

RelayHostClient::RelayHostClient(QTcpSocket* socket, quint64 number, qint64 connectedAt,
                                 QObject* parent)
    : QObject(parent), tcp(socket), serial(number), peerText(::peerText(socket)),
      hostText(RelayHostProtocol::hostText(socket->peerAddress())), since(connectedAt)
{
    tcp->setParent(this);
    tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    keepAlive(tcp);
}
