#pragma once

#include "core/LineReceiver.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class NirvexMain;
class frmMain;
class SocketControl;
struct SocketErrorInfo;

// The main window's LAN link: the line protocol over wsocLan / wsocServer in the server, client
// and host roles, the host-role login, and the LAN lamp and list command that follow it.
class LanLink : public QObject {
    Q_OBJECT
public:
    // Port of the relay host service.
    static constexpr int RelayHostPort = 10001;
    // Source bytes kept, beyond the full SendBuffer, while the relay host has not accepted
    // this copy yet.
    static constexpr qsizetype BacklogLimit = 64 * 1024;
    // How often received text waiting for room in the source port looks at its queue again.
    static constexpr int RoomCheckMs = 2;

    LanLink(NirvexMain& app, frmMain& form);

    // Sends one line (LF added) on the role's socket when it is connected; drops it otherwise.
    // Reconnects a closed client or host link first (the line itself is then dropped). Does
    // nothing while no relay runs.
    void SendLine(const QString& line);
    // Sends the first SendCount bytes of SendBuffer, then the backlog, as DATA lines and empties
    // both. In the host role before the login is accepted the bytes stay where they are.
    void FlushData();
    // Flushes, then sends the CTS (signal 1) or DSR (signal 2) state as a CTRL line.
    void SendControl(int signal, bool state);
    static QString SplitField(const QString& text, int index);
    // Cuts received text into lines and handles each; ReceiveBuffer keeps the unfinished tail.
    void ReceiveText(const QString& chunk);
    void HandleMessage(const QString& line);
    const QString& ReceiveBuffer() const { return receiver.buffer(); }
    // True while received text waits for the source port to send what it has queued.
    bool ReceiveHeld() const { return !heldSocket.isNull() || !unread.isEmpty(); }
    // The source port's queue has emptied (or the port has gone): waiting lines are taken again
    // until the queue is over SerialRelay::QueueLimit once more.
    void ResumeReceiving();

    // Starts the socket for the role in DestMode; returns at once. force is set only by the
    // relay start; without it only a closed or failed client or host link is started again.
    void OpenLan(bool force);
    void wsocLan_ConnectionRequest(int requestID);
    void wsocLan_Connect();
    void wsocLan_DataArrival(qint64 bytesTotal);
    void wsocLan_Close();
    void wsocLan_Error(SocketErrorInfo& e);
    void wsocServer_Connect();
    void wsocServer_DataArrival(qint64 bytesTotal);
    void wsocServer_Close();
    void wsocServer_Error(SocketErrorInfo& e);

    // The host role's part of the list command: asks the relay host for its rows.
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

    // Where the host role connects; tests point it at a scripted peer.
    void setRelayHostEndpoint(const QString& host, int port);

    // A port text read from its leading number, rounded; -1 when it is beyond 32 bits.
    static int PortNumber(const QString& text);
    // "Source:Number:Description:Scode".
    static QString ErrorText(const SocketErrorInfo& e);
    // The status text for bytes dropped while waiting for the login.
    static QString DroppedText(qint64 count);

signals:
    // A DATA line was built from these bytes (it may still be dropped for want of a link).
    void dataFlushed(const QByteArray& bytes);
    // A CTRL line was built for this change.
    void controlSent(int signal, bool state);
    // A LIST row from the relay host.
    void listRowReceived(const QString& id, const QString& key, const QString& host);

private:
    // Takes what the socket received, or leaves it there while the source port still has more
    // than SerialRelay::QueueLimit to send.
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
    void setLanLamp(bool connected);
    void connectionEnded();
    void showStatus(const QString& text);

    NirvexMain& app;
    frmMain& form;
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
    QString relayHost = QStringLiteral(NIRVEX_RELAY_HOST);
    int relayPort = RelayHostPort;
};
