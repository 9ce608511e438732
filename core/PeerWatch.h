#pragma once

#include <QObject>
#include <QTimer>

class QAbstractSocket;

// Tells when the peer of a connected TCP socket has gone silent for good (cable pulled, host
// gone, route dropped), while a live peer that only keeps its receive window shut is kept.
class PeerWatch : public QObject {
    Q_OBJECT
public:
    // A peer that has acknowledged nothing for this long, while something of ours waits for its
    // answer, is taken for dead.
    static constexpr int SilentMs = 30000;
    static constexpr int CheckMs = 2000;

    // Watches socket, which must be connected, as its child; the keepalive timers are set on it.
    explicit PeerWatch(QAbstractSocket* socket);

signals:
    // Emitted once, from the event loop; the socket is left as it is for its owner to close.
    void peerLost();

private:
    void check();

    QAbstractSocket* socket;
    QTimer timer;
};
