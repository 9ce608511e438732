#include "host/RelayHostClient.h"

#include "host/RelayHostProtocol.h"

#include "core/PeerWatch.h"

#include <QTcpSocket>

namespace {

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
    // A vanished peer is found within about half a minute, so that its connection does not
    // linger in its group and in the list.
    peerWatch = new PeerWatch(tcp);
}
