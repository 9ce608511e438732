#pragma once

#include "DataLines.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

// The far end of a LAN link played by a test on 127.0.0.1: takes every connection, records
// the lines of the latest one and answers on it.
class ScriptedPeer : public QObject {
    Q_OBJECT
public:
    ScriptedPeer();

    int port() const { return server.serverPort(); }
    int connections() const { return taken; }
    // Lines of the latest connection, without their LF, and the bytes of its DATA lines.
    QStringList lines() const { return received; }
    QByteArray data() const { return DataLines::payload(received.join('\n').toUtf8()); }
    bool connected() const { return latest && latest->state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray& text);

private:
    QTcpServer server;
    QPointer<QTcpSocket> latest;
    int taken = 0;
    QStringList received;
    QByteArray partial;
};
