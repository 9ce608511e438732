#pragma once

#include "DataLines.h"

#include <QTcpSocket>

// A copy's side of the relay host played by a test: a raw TCP client on 127.0.0.1 that logs
// in with AUTH lines and keeps everything it receives.
class HostClient {
public:
    HostClient();

    // Connects to 127.0.0.1:port; with wait false it returns at once and what is sent goes out
    // once connected. Drops a connection made before and what it received.
    bool connectTo(quint16 port, bool wait = true);
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // Sends "AUTH:id:key" and waits for the answer; true on "AUTH:0", which is then taken out
    // of what was received.
    bool login(const QByteArray& id, const QByteArray& key);
    // Waits until at least size bytes came, or the connection ended.
    bool waitForBytes(qsizetype size);
    // The bytes of every DATA line received so far, in order.
    QByteArray data() const { return DataLines::payload(received); }

    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
};
