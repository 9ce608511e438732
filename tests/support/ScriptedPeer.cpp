#include "ScriptedPeer.h"

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

void ScriptedPeer::send(const QByteArray& text)
{
    if (latest) {
        latest->write(text);
        latest->flush();
    }
}
