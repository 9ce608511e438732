#include "HostClient.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTest>

static constexpr int Patience = 30000;

HostClient::HostClient()
{
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                     [this] { received += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, &socket, [this] { closed = true; });
}

bool HostClient::connectTo(quint16 port, bool wait)
{
    socket.abort();
    received.clear();
    closed = false;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!wait)
        return true;
    const bool up = socket.waitForConnected(Patience);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return up;
}

bool HostClient::login(const QByteArray& id, const QByteArray& key)
{
    send("AUTH:" + id + ':' + key + '\n');
    // Waits on the socket alone: a benchmark logs in many clients one after the other.
    for (QDeadlineTimer limit(Patience); !received.contains('\n') && !closed;)
        if (!socket.waitForReadyRead(int(limit.remainingTime())))
            break;
    const bool accepted = received.startsWith("AUTH:0\n");
    if (accepted)
        received.remove(0, 7);
    return accepted;
}

bool HostClient::waitForBytes(qsizetype size)
{
    return QTest::qWaitFor([&] { return received.size() >= size || closed; }, Patience) &&
           received.size() >= size;
}
