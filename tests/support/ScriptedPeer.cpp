#include "ScriptedPeer.h"

#include "DataLines.h"

#include <QTcpSocket>

ScriptedPeer::ScriptedPeer()
{
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            latest = socket;
            received.append(QStringList());
            partials.append(QByteArray());
            const qsizetype n = received.size() - 1;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, n] {
                QByteArray& text = partials[n];
                text += socket->readAll();
                for (qsizetype lf; (lf = text.indexOf('\n')) >= 0; text.remove(0, lf + 1))
                    received[n].append(QString::fromUtf8(text.left(lf)));
            });
        }
    });
}

QStringList ScriptedPeer::lines(int n) const
{
    if (received.isEmpty())
        return {};
    return received.value(n < 0 ? received.size() - 1 : n);
}

QByteArray ScriptedPeer::data(int n) const
{
    return DataLines::payload(lines(n).join('\n').toUtf8());
}

bool ScriptedPeer::connected() const
{
    return latest && latest->state() == QAbstractSocket::ConnectedState;
}

void ScriptedPeer::send(const QByteArray& text)
{
    if (latest) {
        latest->write(text);
        latest->flush();
    }
}

void ScriptedPeer::hangUp()
{
    if (latest)
        latest->disconnectFromHost();
}
