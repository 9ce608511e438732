#pragma once

#include "core/SocketErrorInfo.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringDecoder>

class QTcpServer;
class QTcpSocket;

// A TCP socket with the members and events the relay window drives, carrying text as UTF-8.
class SocketControl : public QObject {
    Q_OBJECT
public:
    // Received bytes read ahead from the connection until the window takes them; the rest
    // waits in the kernel, whose full window then slows the peer down.
    static constexpr qint64 ReadAheadLimit = 256 * 1024;

    // Events are delivered from the event loop, never from inside a method call, and a handler
    // may call any method of the control, Close() included. Failures a method sees at once (a
    // port in use, an address that cannot be bound, an empty host) make it return false with
    // lastError() set, put the control in state 9 and are also raised as an Error event from the
    // event loop, so a window that only watches events still shows them. Calls made in the
    // wrong state (Listen on a busy control, SendData while not connected, Accept of an unknown
    // request) return false with lastError() set and change nothing.
    enum StateValue : int {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        PeerClosing = 8,
        ErrorState = 9,
    };

    // What ended a TLS connection before it was up.
    enum class TlsFailure { None, Untrusted, NameMismatch, FingerprintMismatch, Handshake };
    // A TLS handshake not done this long after the TCP connection came up is given up.
    static constexpr int HandshakeLimitMs = 20000;

    // `name` is the control's name, reported as the Source of its errors.
    explicit SocketControl(const QString& name, QObject* parent = nullptr);
    ~SocketControl() override;

    const QString& Name() const { return name; }
    int State() const { return state; }

    // The set port; while listening or connected, the port actually bound.
    int LocalPort() const;
    void setLocalPort(int port) { localPort = port; }
    // The set host; on an accepted connection, the peer's address.
    QString RemoteHost() const;
    void setRemoteHost(const QString& host) { remoteHost = host; }
    // The set port; while connected (or after the peer closed), the peer's port.
    int RemotePort() const;
    void setRemotePort(int port) { remotePort = port; }
    // Address Listen binds and Connect binds locally; any address when null (the default).
    void setBindAddress(const QHostAddress& address) { bindAddress = address; }

    // Connections Connect() makes from now on are TLS, never clear text: the peer's certificate
    // is checked against the system's trusted CAs, or cas when given, and must name the host;
    // with a pin (SHA-256 digest of the certificate) the certificate must have that digest and
    // nothing else is asked of it. ConnectEvent comes once the handshake is done; nothing is
    // sent before. A failed handshake is an Error, and tlsFailure() then says what failed.
    void setTls(bool on, const QByteArray& pin = {}, const QList<QSslCertificate>& cas = {});
    TlsFailure tlsFailure() const { return tlsFailed; }

    // Listens on LocalPort; requests arrive as ConnectionRequest.
    bool Listen();
    // Starts connecting to RemoteHost:RemotePort; the outcome arrives as ConnectEvent or Error.
    bool Connect();
    bool Connect(const QString& host, int port);
    // On a closed control: takes over the connection a listening control announced.
    // No ConnectEvent follows; the control is connected when this returns true.
    bool Accept(int requestID);
    // The peer address of a request this control announced and no control has taken over yet;
    // a null address when there is none.
    QHostAddress RequestAddress(int requestID) const;
    // Queues the text as UTF-8; nothing is lost while connected, however large.
    bool SendData(const QString& text);
    // Queues the bytes as they are, with the same guarantees as SendData.
    bool SendBytes(QByteArrayView bytes);
    // Every byte received so far, decoded as UTF-8; a character split between two arrivals is
    // completed by the next call.
    QString GetData();
    qint64 BytesReceived() const { return received.size(); }
    // Bytes handed to SendData that have not reached the network yet.
    qint64 bytesToWrite() const;
    // Closes whatever the control holds; State becomes 0 and no event follows. Data already
    // queued by SendData is still delivered to the peer.
    void Close();

    const SocketErrorInfo& lastError() const { return error; }

    // Text form of a peer address, IPv4-mapped IPv6 addresses shown as IPv4.
    static QString displayAddress(const QHostAddress& address);
    // Error number for a failure Qt reported while the control was in state `during`;
    // `message` is Qt's untranslated text, used only to tell a time-out from other failures.
    static int16_t errorNumberFor(QAbstractSocket::SocketError error, int during,
                                  const QString& message);

signals:
    void ConnectionRequest(int requestID);
    // The connection started by Connect() is up.
    void ConnectEvent();
    void DataArrival(qint64 bytesTotal);
    // The peer or the network ended the connection; State stays 8 until Close().
    void CloseEvent();
    void Error(SocketErrorInfo& e);

private:
    // Runs f now, or from the event loop when a method of this control is still running.
    template <class F> void deliver(F&& f);
    void attach(QTcpSocket* socket);
    void startReceiving();
    void releaseSocket();
    void releaseServer();
    void onNewConnection();
    void onStateChanged(QAbstractSocket::SocketState socketState);
    void onConnected();
    void onEncrypted();
    void onSslErrors(const QList<QSslError>& errors);
    // Ends a TLS connection whose handshake failed for the given reason.
    void tlsFail(TlsFailure failure, int16_t number);
    void onReadyRead();
    void onDisconnected();
    void onSocketError(QAbstractSocket::SocketError socketError);
    // Starts watching the connected socket for a peer that has vanished without closing.
    void watchPeer();
    void socketFailed(QAbstractSocket::SocketError socketError, int during, const QString& message);
    // Hands as much of bytes to the kernel as it takes now; the count taken, or -1 when the
    // socket holds queued data or the kernel refused with an error (the caller then queues).
    qint64 sendDirect(QByteArrayView bytes);
    // Reads what the socket holds into `received`; true when anything came.
    bool drain();
    void notePeer();
    // A failure seen at once by a method: state 9, lastError, and an Error event to follow.
    void failNow(int16_t number);
    // A call made in the wrong state: lastError only.
    void refuse(int16_t number);
    void raiseError(int16_t number);

    QString name;
    int state = Closed;
    int localPort = 0;
    QString remoteHost;
    int remotePort = 0;
    QHostAddress bindAddress;

    QPointer<QTcpServer> server;
    QPointer<QTcpSocket> socket;
    bool peerKnown = false;
    // The peer went silent for good: nothing queued for it is worth waiting for.
    bool peerDead = false;
    QString peerHost;
    int peerPort = 0;
    int boundPort = 0;
    int lastRequest = 0;
    int callDepth = 0;

    bool tls = false;
    QByteArray tlsPin;
    QList<QSslCertificate> tlsCas;
    // The TCP connection under a TLS one is up, and the handshake runs.
    bool handshaking = false;
    TlsFailure tlsFailed = TlsFailure::None;

    QByteArray received;
    QStringDecoder decoder{QStringDecoder::Utf8};
    SocketErrorInfo error;
    // Bumped by every Close(), so events queued before it are dropped.
    quint64 generation = 0;
};
