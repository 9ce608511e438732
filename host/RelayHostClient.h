#pragma once

#include "core/LineReceiver.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>
#include <cstring>
#include <utility>

class PeerWatch;
class QTcpSocket;

// One connection to the relay host service: its socket, its login and the line being received.
class RelayHostClient : public QObject {
public:
    // Longest line kept, without its LF; a longer one is discarded up to its LF.
    static constexpr qsizetype MaxLineLength = LineReceiver::MaxLineLength;

    // Takes the connected socket over as a child.
    RelayHostClient(QTcpSocket* socket, quint64 number, qint64 connectedAt,
                    QObject* parent = nullptr);

    QTcpSocket* socket() const { return tcp; }
    // Raises peerLost when the peer has gone silent for good.
    PeerWatch* watch() const { return peerWatch; }
    quint64 number() const { return serial; }
    // "address:port" of the peer, for the log.
    const QString& peer() const { return peerText; }
    // The peer address as list rows show it.
    const QString& host() const { return hostText; }
    qint64 connectedAt() const { return since; }

    // Cuts received bytes into lines and calls onLine(QByteArrayView line, bool inChunk) for
    // each complete line, LF included. inChunk tells that the view lies inside `data`, so that
    // neighbouring lines are neighbours in memory; otherwise it is valid only during the call.
    // Over-long lines are discarded up to their LF.
    template <class F> void feed(const char* data, qsizetype size, F&& onLine);
    qint64 discardedLines() const { return discarded; }

    // Login state, kept by the service: the group is the list of clients sharing the key,
    // null while not logged in.
    QString id;
    QString key;
    QList<RelayHostClient*>* group = nullptr;
    // Its place in the login order, while logged in.
    quint64 loginNumber = 0;
    bool administrator = false;
    // Bytes received while not logged in.
    qint64 bytesBeforeLogin = 0;
    // Set once the service is closing the connection; no line is handled after it.
    bool closing = false;
    qint64 closingSince = 0;
    // Set once the service has let go of the connection; the object is deleted later.
    bool forgotten = false;

private:
    QTcpSocket* tcp;
    PeerWatch* peerWatch = nullptr;
    quint64 serial;
    QString peerText;
    QString hostText;
    qint64 since;
    QByteArray pending;
    bool dropping = false;
    qint64 discarded = 0;
};

template <class F> void RelayHostClient::feed(const char* data, qsizetype size, F&& onLine)
{
    qsizetype from = 0;
    while (from < size) {
        const void* found = std::memchr(data + from, '\n', size_t(size - from));
        if (!found) {
            const qsizetype rest = size - from;
            if (dropping)
                return;
            if (pending.size() + rest > MaxLineLength) {
                pending = QByteArray();
                dropping = true;
                ++discarded;
            } else {
                pending.append(data + from, rest);
            }
            return;
        }
        const qsizetype lf = static_cast<const char*>(found) - data;
        const qsizetype start = from;
        from = lf + 1;
        if (dropping) {
            dropping = false;
            continue;
        }
        if (pending.size() + (lf - start) > MaxLineLength) {
            pending = QByteArray();
            ++discarded;
            continue;
        }
        if (pending.isEmpty()) {
            onLine(QByteArrayView(data + start, lf + 1 - start), true);
        } else {
            pending.append(data + start, lf + 1 - start);
            const QByteArray line = std::exchange(pending, QByteArray());
            onLine(QByteArrayView(line), false);
        }
    }
}
