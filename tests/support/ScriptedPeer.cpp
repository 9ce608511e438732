#include "ScriptedPeer.h"

#include "DataLines.h"

#include <QTcpSocket>

ScriptedPeer::ScriptedPeer()
{
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            if (latest)
                latest->disconnect(this);
            latest = socket;
            ++taken;
            received.clear();
            partial.clear();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                partial += socket->readAll();
                for (qsizetype lf; (lf = partial.indexOf('\n')) >= 0; partial.remove(0, lf + 1))
                    received.append(QString::fromUtf8(partial.left(lf)));
            });
        }
    });
}

QByteArray ScriptedPeer::data() const
{
    return DataLines::payload(received.join('\n').toUtf8());
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
