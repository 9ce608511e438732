#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// The far end of a LAN link played by a test on 127.0.0.1: takes every connection, records
// the lines each one sends and answers on the latest.
class ScriptedPeer : public QObject {
    Q_OBJECT
public:
    ScriptedPeer();

    int port() const { return server.serverPort(); }
    // Connections taken so far.
    int connections() const { return int(received.size()); }
    // Lines of connection n (the latest when n is -1), without their LF.
    QStringList lines(int n = -1) const;
    // The bytes of every DATA line of connection n, in order.
    QByteArray data(int n = -1) const;
    bool connected() const;
    void send(const QByteArray& text);
    // Ends the latest connection.
    void hangUp();

private:
    QTcpServer server;
    QPointer<QTcpSocket> latest;
    QList<QStringList> received;
    // Text after the last LF, per connection.
    QList<QByteArray> partials;
};
