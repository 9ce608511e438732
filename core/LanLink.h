#pragma once

#include "core/LineReceiver.h"
#include "core/PeerAllowList.h"
#include "core/SocketControl.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

class RelayCore;
struct SocketErrorInfo;

// The relay's LAN link: the line protocol over wsocLan / wsocServer in the server, client and
// host roles, the host-role login, and the connection state the core reports.
class LanLink {
public:
    // Source bytes kept, beyond the full SendBuffer, while the relay host has not accepted
    // this copy yet.
    static constexpr qsizetype BacklogLimit = 64 * 1024;
    // How often received text waiting for room in the source port looks at its queue again.
    static constexpr int RoomCheckMs = 2;

    explicit LanLink(RelayCore& core);

    // Sends one line (LF added) on the role's socket when it is connected; drops it otherwise.
    // Reconnects a closed client or host link first (the line itself is then dropped). Does
    // nothing while no relay runs.
    void SendLine(const QString& line);
    // Sends the first SendCount bytes of SendBuffer, then the backlog, as DATA lines and empties
    // both. In the host role before the login is accepted the bytes stay where they are.
    void FlushData();
    // Flushes, then sends the CTS (signal 1) or DSR (signal 2) state as a CTRL line.
    void SendControl(int signal, bool state);
    // Cuts received text into lines and handles each; the unfinished tail waits for more.
    void ReceiveText(const QString& chunk);
    void HandleMessage(const QString& line);
    // The unfinished line received so far.
    const QString& ReceiveBuffer() const { return receiver.buffer(); }
    // True while received text waits for the source port to send what it has queued.
    bool ReceiveHeld() const { return !heldSocket.isNull() || !unread.isEmpty(); }
    // The source port's queue has emptied (or the port has gone): waiting lines are taken again
    // until the queue is over RelayCore::QueueLimit once more.
    void ResumeReceiving();

    // The server role's allow list for the relay about to start (empty text: everyone); returns
    // the status texts about entries it could not read.
    QStringList SetAllowedPeers(const QString& text);

    // Starts the socket for the role; returns at once. force is set only by the relay start;
    // without it only a closed or failed client or host link is started again.
    void OpenLan(bool force);
    void wsocLan_ConnectionRequest(int requestID);
    void wsocLan_Connect();
    void wsocLan_DataArrival();
    void wsocLan_Close();
    void wsocServer_Connect();
    void wsocServer_DataArrival();
    void wsocServer_Close();
    // Either socket's error: shown on the status panel, no message box of its own. A TLS
    // connection that never came up is shown by what failed.
    void wsoc_Error(SocketErrorInfo& e,
                    SocketControl::TlsFailure failure = SocketControl::TlsFailure::None);

    void SendListRequest(bool all);

    // Source bytes that found SendBuffer full while FlushData had to keep it: kept in order up
    // to BacklogLimit, the rest dropped with a note on the status panel.
    void HoldBack(const char* bytes, qsizetype count);
    qsizetype BacklogSize() const { return backlog.size(); }
    bool HasBacklog() const { return !backlog.isEmpty(); }

    // First LAN step of the relay stop: sends what is still collected when sendTail is set and
    // the link is connected now, without opening one, then forgets the rest.
    void FlushTail(bool sendTail);
    // Closes both sockets when they are not closed.
    void CloseLan();

    // The socket the role's lines go out on.
    SocketControl* lineSocket() const;

    // While one lives, the lines SendLine passes go out together, in one write, when the last
    // one ends: a block of source bytes costs one send, not one per line.
    class Batch {
    public:
        explicit Batch(LanLink& link) : link(link) { ++link.batchDepth; }
        ~Batch() { link.endBatch(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        LanLink& link;
    };

    // "Source:Number:Description:Scode".
    static QString ErrorText(const SocketErrorInfo& e);
    // The status text for a TLS connection to the relay host that failed before it was up.
    static QString TlsFailureText(SocketControl::TlsFailure failure);
    // The status text for bytes dropped while waiting for the login.
    static QString DroppedText(qint64 count);
    // The status texts for a peer the allow list turned away, for allow list entries that
    // could not be read, and for a list that admits nobody.
    static QString TurnedAwayText(const QString& address);
    static QString UnreadableEntriesText(const QStringList& entries);
    static QString NobodyAllowedText();

private:
    // Takes what the socket received, or leaves it there while the source port still has more
    // than RelayCore::QueueLimit to send.
    void receiveFrom(SocketControl* socket);
    // Handles the lines of text one by one while the source port has room; the rest waits in
    // `unread`, and socket (when given) is read again once that is taken.
    void take(const QString& text, SocketControl* socket);
    bool sourceHasRoom() const;
    // While received text waits, looks at the source port's queue every RoomCheckMs.
    void checkRoomSoon();
    // The peer of socket has closed: what it sent first is delivered, then the link ends.
    void peerClosed(SocketControl* socket);
    void sendData(const uint8_t* bytes, int count);
    // Sends whole lines, each with its LF, as SendLine does.
    void sendWire(const QByteArray& wire);
    void endBatch();
    void sendBatched();
    void connectionEnded();
    bool hostRole() const;
    // Takes over a connection request and closes it at once: the peer learns it is not served.
    static void turnAway(int requestID);

    RelayCore& core;
    LineReceiver receiver;
    QByteArray backlog;
    qint64 droppedBytes = 0;
    bool stopping = false;
    int batchDepth = 0;
    // Lines of the open batch, each with its LF, and the socket they go to.
    QByteArray batched;
    SocketControl* batchSocket = nullptr;
    // The socket whose received text waits for room in the source port.
    QPointer<SocketControl> heldSocket;
    // Received text not yet cut into lines, taken before anything more from heldSocket.
    QString unread;
    bool roomCheckScheduled = false;
    PeerAllowList allowedPeers;
};
