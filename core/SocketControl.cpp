#include "core/SocketControl.h"

#include "core/PeerWatch.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QHash>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/socket.h>

namespace {

// Connections a listening control announced and no control has taken over yet; all controls
// live on the GUI thread.
struct PendingRequest {
    QPointer<QTcpSocket> socket;
    const SocketControl* owner = nullptr;
};

QHash<int, PendingRequest>& pendingRequests()
{
    static QHash<int, PendingRequest> requests;
    return requests;
}

int newRequestId()
{
    static int last = 0;
    do {
        last = last == INT_MAX ? 1 : last + 1;
    } while (pendingRequests().contains(last));
    return last;
}

void closeRequest(int requestID)
{
    const auto it = pendingRequests().find(requestID);
    if (it == pendingRequests().end())
        return;
    if (QTcpSocket* socket = it->socket) {
        socket->abort();
        socket->deleteLater();
    }
    pendingRequests().erase(it);
}

void closeRequestsOf(const SocketControl* owner)
{
    auto& requests = pendingRequests();
    for (auto it = requests.begin(); it != requests.end();) {
        if (it->owner == owner) {
            if (QTcpSocket* socket = it->socket) {
                socket->abort();
                socket->deleteLater();
            }
            it = requests.erase(it);
        } else {
            ++it;
        }
    }
}

// A pending connection buffers at most this much before it is taken over; the peer waits.
constexpr qint64 PendingReadLimit = 64 * 1024;
// A closed connection gets this long to hand its queued data to the network.
constexpr int LingerMs = 30000;

bool isValidPort(int port)
{
    return port >= 0 && port <= 65535;
}

// Marks a method of the control as running, so that events are held for the event loop.
struct CallScope {
    explicit CallScope(int& depth) : depth(depth) { ++depth; }
    ~CallScope() { --depth; }
    int& depth;
};

} // namespace

SocketControl::SocketControl(const QString& name, QObject* parent) : QObject(parent), name(name) {}

SocketControl::~SocketControl()
{
    ++generation;
    releaseSocket();
    releaseServer();
}

int SocketControl::LocalPort() const
{
    if (server && state == Listening)
        return server->serverPort();
    if (peerKnown)
        return boundPort;
    return localPort;
}

QString SocketControl::RemoteHost() const
{
    return peerKnown ? peerHost : remoteHost;
}

int SocketControl::RemotePort() const
{
    return peerKnown ? peerPort : remotePort;
}

qint64 SocketControl::bytesToWrite() const
{
    return socket ? socket->bytesToWrite() : 0;
}

void SocketControl::setTls(bool on, const QByteArray& pin, const QList<QSslCertificate>& cas)
{
    tls = on;
    tlsPin = pin;
    tlsCas = cas;
}

bool SocketControl::Listen()
{
    if (state != Closed) {
        refuse(SocketErrorInfo::InvalidArgument);
        return false;
    }
    if (!isValidPort(localPort)) {
        failNow(SocketErrorInfo::AddressNotAvailable);
        return false;
    }
    auto* listener = new QTcpServer(this);
    listener->setProxy(QNetworkProxy::NoProxy);
    const QHostAddress address =
        bindAddress.isNull() ? QHostAddress(QHostAddress::Any) : bindAddress;
    if (!listener->listen(address, quint16(localPort))) {
        const int16_t number =
            errorNumberFor(listener->serverError(), Listening, listener->errorString());
        delete listener;
        failNow(number);
        return false;
    }
    connect(listener, &QTcpServer::newConnection, this, &SocketControl::onNewConnection);
    server = listener;
    state = Listening;
    return true;
}

bool SocketControl::Connect(const QString& host, int port)
{
    remoteHost = host;
    remotePort = port;
    return Connect();
}

bool SocketControl::Connect()
{
    if (state != Closed) {
        refuse(SocketErrorInfo::InvalidArgument);
        return false;
    }
    const QString host = remoteHost.trimmed();
    if (host.isEmpty()) {
        failNow(SocketErrorInfo::HostNotFound);
        return false;
    }
    if (remotePort < 1 || remotePort > 65535 || !isValidPort(localPort)) {
        failNow(SocketErrorInfo::AddressNotAvailable);
        return false;
    }
    CallScope scope(callDepth);
    QSslSocket* secure = tls ? new QSslSocket(this) : nullptr;
    QTcpSocket* connection = secure ? secure : new QTcpSocket(this);
    connection->setProxy(QNetworkProxy::NoProxy);
    if (localPort != 0 || !bindAddress.isNull()) {
        const QHostAddress address =
            bindAddress.isNull() ? QHostAddress(QHostAddress::Any) : bindAddress;
        if (!connection->bind(address, quint16(localPort))) {
            const int16_t number =
                errorNumberFor(connection->error(), Connecting, connection->errorString());
            delete connection;
            failNow(number);
            return false;
        }
    }
    attach(connection);
    startReceiving();
    state = ResolvingHost;
    handshaking = false;
    tlsFailed = TlsFailure::None;
    if (!secure) {
        connection->connectToHost(host, quint16(remotePort));
        return true;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!tlsCas.isEmpty())
        config.setCaCertificates(tlsCas);
    secure->setSslConfiguration(config);
    connect(secure, &QSslSocket::encrypted, this, &SocketControl::onEncrypted);
    connect(secure, &QSslSocket::sslErrors, this, &SocketControl::onSslErrors);
    secure->connectToHostEncrypted(host, quint16(remotePort));
    return true;
}

bool SocketControl::Accept(int requestID)
{
    if (state != Closed) {
        refuse(SocketErrorInfo::InvalidArgument);
        return false;
    }
    const auto it = pendingRequests().find(requestID);
    if (it == pendingRequests().end() || !it->socket) {
        if (it != pendingRequests().end())
            pendingRequests().erase(it);
        refuse(SocketErrorInfo::InvalidArgument);
        return false;
    }
    QTcpSocket* connection = it->socket;
    pendingRequests().erase(it);

    connection->setParent(this);
    attach(connection);
    startReceiving();
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    watchPeer();
    notePeer();
    state = Connected;

    // Data or a close that reached the connection while it waited to be taken over.
    const quint64 current = generation;
    QMetaObject::invokeMethod(
        this,
        [this, current] {
            if (current != generation || !socket || state != Connected)
                return;
            if (socket->state() != QAbstractSocket::ConnectedState)
                onDisconnected();
            else if (socket->bytesAvailable() > 0)
                onReadyRead();
        },
        Qt::QueuedConnection);
    return true;
}

QHostAddress SocketControl::RequestAddress(int requestID) const
{
    const PendingRequest request = pendingRequests().value(requestID);
    return request.owner == this && request.socket ? request.socket->peerAddress() : QHostAddress();
}

bool SocketControl::SendData(const QString& text)
{
    if (state != Connected || !socket) {
        refuse(SocketErrorInfo::NotConnected);
        return false;
    }
    return SendBytes(text.toUtf8());
}

bool SocketControl::SendBytes(QByteArrayView bytes)
{
    if (state != Connected || !socket) {
        refuse(SocketErrorInfo::NotConnected);
        return false;
    }
    CallScope scope(callDepth);
    const qint64 sent = sendDirect(bytes);
    if (sent == bytes.size())
        return true;
    const QByteArrayView rest = bytes.sliced(std::max<qint64>(sent, 0));
    if (socket->write(rest.data(), rest.size()) != rest.size()) {
        refuse(SocketErrorInfo::NotConnected);
        return false;
    }
    socket->flush();
    return true;
}

qint64 SocketControl::sendDirect(QByteArrayView bytes)
{
    // Writing through the socket's own buffer switches its write notifier on and off again
    // for every block, which wakes the event loop twice; with nothing queued ahead, the bytes
    // can go to the kernel at once and keep their order.
    // Over TLS every byte must pass through the socket's encryption.
    if (qobject_cast<QSslSocket*>(socket) || socket->bytesToWrite() > 0 ||
        socket->state() != QAbstractSocket::ConnectedState)
        return -1;
    const qintptr fd = socket->socketDescriptor();
    if (fd < 0)
        return -1;
    qint64 sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(int(fd), bytes.data() + sent, size_t(bytes.size() - sent),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // A full kernel buffer leaves the rest to the socket's queue; an error is left for
            // the socket to meet and report on its own write.
            break;
        }
    }
    return sent;
}

QString SocketControl::GetData()
{
    QString text = decoder.decode(received);
    received.clear();
    // Bytes left in the socket while `received` was full raise no readyRead of their own.
    if (socket && socket->bytesAvailable() > 0) {
        const quint64 current = generation;
        QMetaObject::invokeMethod(
            this,
            [this, current] {
                if (current == generation && socket && state == Connected)
                    onReadyRead();
            },
            Qt::QueuedConnection);
    }
    return text;
}

void SocketControl::Close()
{
    ++generation;
    releaseSocket();
    releaseServer();
    received.clear();
    handshaking = false;
    state = Closed;
}

QString SocketControl::displayAddress(const QHostAddress& address)
{
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const quint32 ipv4 = address.toIPv4Address(&mapped);
        if (mapped)
            return QHostAddress(ipv4).toString();
    }
    return address.toString();
}

int16_t SocketControl::errorNumberFor(QAbstractSocket::SocketError error, int during,
                                      const QString& message)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return SocketErrorInfo::ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
        return SocketErrorInfo::HostNotFound;
    case QAbstractSocket::AddressInUseError:
        return SocketErrorInfo::AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return SocketErrorInfo::AddressNotAvailable;
    case QAbstractSocket::SocketAccessError:
        return SocketErrorInfo::AccessDenied;
    case QAbstractSocket::SocketResourceError:
        return SocketErrorInfo::NoBufferSpace;
    case QAbstractSocket::SocketTimeoutError:
        return SocketErrorInfo::TimedOut;
    case QAbstractSocket::RemoteHostClosedError:
        return SocketErrorInfo::ConnectionReset;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return SocketErrorInfo::AddressFamilyNotSupported;
    case QAbstractSocket::NetworkError:
        if (message.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
            return SocketErrorInfo::TimedOut;
        if (message.contains(QLatin1String("in use"), Qt::CaseInsensitive))
            return SocketErrorInfo::AddressInUse;
        if (during == Connected || during == PeerClosing)
            return SocketErrorInfo::ConnectionAborted;
        if (message.contains(QLatin1String("network unreachable"), Qt::CaseInsensitive))
            return SocketErrorInfo::NetworkUnreachable;
        return SocketErrorInfo::HostUnreachable;
    default:
        return SocketErrorInfo::ConnectionAborted;
    }
}

template <class F> void SocketControl::deliver(F&& f)
{
    if (callDepth == 0) {
        f();
        return;
    }
    const quint64 current = generation;
    QMetaObject::invokeMethod(
        this,
        [this, current, f = std::forward<F>(f)]() mutable {
            if (current == generation)
                f();
        },
        Qt::QueuedConnection);
}

void SocketControl::attach(QTcpSocket* connection)
{
    socket = connection;
    connection->setReadBufferSize(ReadAheadLimit);
    connect(connection, &QAbstractSocket::stateChanged, this, &SocketControl::onStateChanged);
    connect(connection, &QAbstractSocket::connected, this, &SocketControl::onConnected);
    connect(connection, &QIODevice::readyRead, this, &SocketControl::onReadyRead);
    connect(connection, &QAbstractSocket::disconnected, this, &SocketControl::onDisconnected);
    connect(connection, &QAbstractSocket::errorOccurred, this, &SocketControl::onSocketError);
}

void SocketControl::startReceiving()
{
    received.clear();
    decoder = QStringDecoder(QStringDecoder::Utf8);
    peerKnown = false;
    peerDead = false;
}

void SocketControl::watchPeer()
{
    auto* watch = new PeerWatch(socket);
    // A dead peer ends the connection the way a peer that closes it does.
    connect(watch, &PeerWatch::peerLost, this, [this] {
        peerDead = true;
        onDisconnected();
    });
}

void SocketControl::releaseSocket()
{
    peerKnown = false;
    QTcpSocket* connection = socket;
    socket = nullptr;
    if (!connection)
        return;
    disconnect(connection, nullptr, this, nullptr);
    connection->setParent(nullptr);
    if (connection->state() == QAbstractSocket::ConnectedState && !peerDead) {
        // Let queued data reach the peer; the socket removes itself once it is done.
        connect(connection, &QAbstractSocket::disconnected, connection, &QObject::deleteLater);
        QTimer::singleShot(LingerMs, connection, [connection] {
            connection->abort();
            connection->deleteLater();
        });
        connection->disconnectFromHost();
    } else {
        connection->abort();
        connection->deleteLater();
    }
}

void SocketControl::releaseServer()
{
    closeRequestsOf(this);
    lastRequest = 0;
    QTcpServer* listener = server;
    server = nullptr;
    if (!listener)
        return;
    disconnect(listener, nullptr, this, nullptr);
    listener->close();
    listener->deleteLater();
}

void SocketControl::onNewConnection()
{
    const QPointer<SocketControl> self(this);
    while (server && state == Listening && server->hasPendingConnections()) {
        QTcpSocket* connection = server->nextPendingConnection();
        if (!connection)
            break;
        // Only the latest unanswered request is kept open.
        closeRequest(lastRequest);
        connection->setReadBufferSize(PendingReadLimit);
        const int requestID = newRequestId();
        pendingRequests().insert(requestID, PendingRequest{connection, this});
        lastRequest = requestID;
        emit ConnectionRequest(requestID);
        if (!self)
            return;
    }
}

void SocketControl::onStateChanged(QAbstractSocket::SocketState socketState)
{
    if (state != ResolvingHost && state != HostResolved && state != Connecting)
        return;
    if (socketState == QAbstractSocket::HostLookupState)
        state = ResolvingHost;
    else if (socketState == QAbstractSocket::ConnectingState)
        state = Connecting;
}

void SocketControl::onConnected()
{
    if (auto* secure = qobject_cast<QSslSocket*>(socket)) {
        // The connection is up once the handshake is done.
        handshaking = true;
        const quint64 current = generation;
        QTimer::singleShot(HandshakeLimitMs, secure, [this, current] {
            if (current == generation && handshaking)
                tlsFail(TlsFailure::Handshake, SocketErrorInfo::TimedOut);
        });
        return;
    }
    deliver([this] {
        if (!socket || (state != ResolvingHost && state != HostResolved && state != Connecting))
            return;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        watchPeer();
        notePeer();
        // A connection we made keeps the host as it was given, not the address it resolved to.
        peerHost = remoteHost;
        state = Connected;
        emit ConnectEvent();
    });
}

void SocketControl::onEncrypted()
{
    deliver([this] {
        auto* secure = qobject_cast<QSslSocket*>(socket);
        if (!secure || !handshaking)
            return;
        // A certificate the CAs vouch for must still be the pinned one.
        if (!tlsPin.isEmpty() && QCryptographicHash::hash(secure->peerCertificate().toDer(),
                                                          QCryptographicHash::Sha256) != tlsPin) {
            tlsFail(TlsFailure::FingerprintMismatch, SocketErrorInfo::ConnectionAborted);
            return;
        }
        handshaking = false;
        secure->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        watchPeer();
        notePeer();
        peerHost = remoteHost;
        state = Connected;
        emit ConnectEvent();
    });
}

void SocketControl::onSslErrors(const QList<QSslError>& errors)
{
    // Answered at once: the handshake goes on only when the errors are ignored here.
    auto* secure = qobject_cast<QSslSocket*>(socket);
    if (!secure)
        return;
    if (!tlsPin.isEmpty()) {
        const QByteArray digest =
            QCryptographicHash::hash(secure->peerCertificate().toDer(), QCryptographicHash::Sha256);
        if (digest == tlsPin)
            secure->ignoreSslErrors(errors);
        else
            tlsFailed = TlsFailure::FingerprintMismatch;
        return;
    }
    const bool nameOnly = std::all_of(errors.begin(), errors.end(), [](const QSslError& e) {
        return e.error() == QSslError::HostNameMismatch;
    });
    tlsFailed = nameOnly ? TlsFailure::NameMismatch : TlsFailure::Untrusted;
}

void SocketControl::tlsFail(TlsFailure failure, int16_t number)
{
    handshaking = false;
    if (tlsFailed == TlsFailure::None)
        tlsFailed = failure;
    if (!socket || state == Closed || state == ErrorState)
        return;
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    raiseError(number);
}

void SocketControl::onReadyRead()
{
    // A window that has not taken what came so far leaves the rest in the socket for now.
    if (socket && received.size() < ReadAheadLimit && drain())
        emit DataArrival(received.size());
}

void SocketControl::onDisconnected()
{
    if (handshaking) {
        deliver([this] { tlsFail(TlsFailure::Handshake, SocketErrorInfo::ConnectionAborted); });
        return;
    }
    deliver([this] {
        if (!socket || state != Connected)
            return;
        const QPointer<SocketControl> self(this);
        const quint64 current = generation;
        if (drain()) {
            emit DataArrival(received.size());
            if (!self || current != generation || state != Connected)
                return;
        }
        state = PeerClosing;
        emit CloseEvent();
    });
}

void SocketControl::onSocketError(QAbstractSocket::SocketError socketError)
{
    if (!socket)
        return;
    if (state != ResolvingHost && state != HostResolved && state != Connecting &&
        state != Connected)
        return;
    // A peer that ends the connection is reported by onDisconnected.
    if (socketError == QAbstractSocket::RemoteHostClosedError && state == Connected)
        return;
    const int during = state;
    const QString message = socket->errorString();
    if (handshaking) {
        // Whatever ends the connection before the handshake is done, the handshake failed.
        deliver([this] { tlsFail(TlsFailure::Handshake, SocketErrorInfo::ConnectionAborted); });
        return;
    }
    deliver([this, socketError, during, message] { socketFailed(socketError, during, message); });
}

void SocketControl::socketFailed(QAbstractSocket::SocketError socketError, int during,
                                 const QString& message)
{
    if (!socket || state == Closed || state == ErrorState || state == PeerClosing)
        return;
    const QPointer<SocketControl> self(this);
    const quint64 current = generation;
    if (during == Connected && drain()) {
        emit DataArrival(received.size());
        if (!self || current != generation || !socket)
            return;
    }
    disconnect(socket, nullptr, this, nullptr);
    raiseError(errorNumberFor(socketError, during, message));
}

bool SocketControl::drain()
{
    QByteArray more = socket->readAll();
    if (more.isEmpty())
        return false;
    if (received.isEmpty())
        received = std::move(more);
    else
        received.append(more);
    return true;
}

void SocketControl::notePeer()
{
    peerKnown = true;
    peerHost = displayAddress(socket->peerAddress());
    peerPort = socket->peerPort();
    boundPort = socket->localPort();
}

void SocketControl::failNow(int16_t number)
{
    error = SocketErrorInfo::make(number, name);
    state = ErrorState;
    const quint64 current = generation;
    QMetaObject::invokeMethod(
        this,
        [this, current, number] {
            if (current == generation && state == ErrorState)
                raiseError(number);
        },
        Qt::QueuedConnection);
}

void SocketControl::refuse(int16_t number)
{
    error = SocketErrorInfo::make(number, name);
}

void SocketControl::raiseError(int16_t number)
{
    SocketErrorInfo info = SocketErrorInfo::make(number, name);
    error = info;
    state = ErrorState;
    const QPointer<SocketControl> self(this);
    emit Error(info);
    if (self && !info.CancelDisplay)
        qWarning().noquote() << info.Source + QLatin1Char(':') + QString::number(info.Number) +
                                    QLatin1Char(':') + info.Description;
}
