#include "HostClient.h"

#include "DataLines.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTest>

namespace {

constexpr int Patience = 30000;

} // namespace

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
    if (!socket.waitForConnected(Patience))
        return false;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

void HostClient::send(const QByteArray& bytes)
{
    socket.write(bytes);
    socket.flush();
}

bool HostClient::login(const QByteArray& id, const QByteArray& key)
{
    send("AUTH:" + id + ':' + key + '\n');
    // Waits on the socket alone: a benchmark logs in many clients one after the other.
    for (QDeadlineTimer limit(Patience); !received.contains('\n') && !closed;)
        if (!socket.waitForReadyRead(int(limit.remainingTime())))
            break;
    if (!received.startsWith("AUTH:0\n"))
        return false;
    received.remove(0, 7);
    return true;
}

bool HostClient::waitForBytes(qsizetype size)
{
    return QTest::qWaitFor([&] { return received.size() >= size || closed; }, Patience) &&
           received.size() >= size;
}

QByteArray HostClient::data() const
{
    return DataLines::payload(received);
}
