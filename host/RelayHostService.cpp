#include "host/RelayHostService.h"

#include "host/RelayHostClient.h"
#include "host/RelayHostLog.h"
#include "host/RelayHostProtocol.h"

#include "core/PeerWatch.h"

#include <QFile>
#include <QSslSocket>
#include <QTcpSocket>

namespace {

constexpr qsizetype ReadChunk = 64 * 1024;
// Bytes taken from one connection per turn of the event loop, so that a copy sending as fast as
// it can, or a stranger sending junk, cannot hold up the others: the rest waits in the system's
// buffer, and TCP slows the sender down. A connection that has not logged in has nothing to
// send but its AUTH line and a few CTRL lines, so it gets a small share.
constexpr qint64 LoggedInReadBudget = ReadChunk;
constexpr qint64 StrangerReadBudget = 4 * 1024;
// More than that before a login is not a copy of Nirvex: it is closed.
constexpr qint64 MaxBytesBeforeLogin = 64 * 1024;
constexpr int SweepMs = 1000;
// A copy sends its AUTH line as soon as it is connected. A stranger younger than this is not
// let go for another from its address, so that copies behind one address reconnecting
// together all get in; the sweep brings the address back to its limit afterwards.
constexpr qint64 LoginGraceMs = 2000;
constexpr int AcceptRetryMs = 200;

} // namespace

RelayHostService::RelayHostService(Settings settings, QObject* parent)
    : QObject(parent), settings(std::move(settings)), readBuffer(ReadChunk, Qt::Uninitialized)
{
    clock.start();
    for (QTcpServer* listener :
         {static_cast<QTcpServer*>(&server), static_cast<QTcpServer*>(&tlsServer)}) {
        connect(listener, &QTcpServer::newConnection, this,
                [this, listener] { acceptPending(listener); });
        // Out of file descriptors: the server stops accepting; try again shortly.
        connect(listener, &QTcpServer::acceptError, this, [this, listener] {
            RelayHostLog::write(
                QStringLiteral("accept failed: %1; retrying").arg(listener->errorString()));
            listener->pauseAccepting();
            QTimer::singleShot(AcceptRetryMs, listener,
                               [listener] { listener->resumeAccepting(); });
        });
    }
    sweepTimer.setInterval(SweepMs);
    connect(&sweepTimer, &QTimer::timeout, this, &RelayHostService::sweep);
}

RelayHostService::~RelayHostService()
{
    const QSet<RelayHostClient*> all = clients;
    for (RelayHostClient* client : all) {
        client->socket()->disconnect();
        client->socket()->abort();
        delete client;
    }
}

bool RelayHostService::listen(QString* error)
{
    prepareListener(server);
    if (settings.plain && !server.listen(settings.address, settings.port)) {
        if (error)
            *error = server.errorString();
        return false;
    }
    if (settings.tls) {
        tlsServer.setConfiguration(*settings.tls);
        prepareListener(tlsServer);
        if (!tlsServer.listen(settings.address, settings.tlsPort)) {
            if (error)
                *error = QStringLiteral("TLS port %1: %2")
                             .arg(settings.tlsPort)
                             .arg(tlsServer.errorString());
            server.close();
            return false;
        }
    }
    sweepTimer.start();
    return true;
}

void RelayHostService::prepareListener(QTcpServer& listener)
{
    // Qt's default of 50 makes a burst of connects wait a second each time the queue is full.
    const int backlog = qMax(50, settings.maxConnections);
    listener.setListenBacklogSize(backlog);
    QFile limit(QStringLiteral("/proc/sys/net/core/somaxconn"));
    bool known = false;
    const int cap = limit.open(QIODevice::ReadOnly) ? limit.readAll().trimmed().toInt(&known) : 0;
    if (known && cap < backlog)
        RelayHostLog::write(QStringLiteral("accept queue of %1 connections cut to %2 by "
                                           "net.core.somaxconn")
                                .arg(backlog)
                                .arg(cap));
}

QHostAddress RelayHostService::address() const
{
    return server.isListening() ? server.serverAddress() : tlsServer.serverAddress();
}

void RelayHostService::acceptPending(QTcpServer* from)
{
    while (QTcpSocket* socket = from->nextPendingConnection())
        admit(socket);
}

void RelayHostService::admit(QTcpSocket* socket)
{
    const QString host = RelayHostProtocol::hostText(socket->peerAddress());
    const auto from = waitingFrom.constFind(host);
    if (from != waitingFrom.constEnd() &&
        qsizetype(from->size()) >= settings.maxPendingPerAddress &&
        clock.elapsed() - from->begin()->second->connectedAt() >= LoginGraceMs)
        drop(from->begin()->second,
             QStringLiteral("oldest of %1 connections from %2 not logged in, making room")
                 .arg(from->size())
                 .arg(host));
    if (clients.size() >= settings.maxConnections) {
        if (waiting.empty()) {
            RelayHostLog::write(QStringLiteral("refused connection from %1: all %2 connections "
                                               "logged in")
                                    .arg(host)
                                    .arg(settings.maxConnections));
            socket->close();
            socket->deleteLater();
            return;
        }
        // The address holding the most strangers gives up its oldest: a flood from one
        // address makes room with its own connections.
        const QString crowded = std::get<QString>(*crowding.rbegin());
        drop(waitingFrom.constFind(crowded)->begin()->second,
             QStringLiteral("oldest connection not logged in from the address holding most of "
                            "them, making room at the limit of %1")
                 .arg(settings.maxConnections));
    }
    socket->setReadBufferSize(StrangerReadBudget);
    auto* client = new RelayHostClient(socket, nextNumber++, clock.elapsed(), this);
    clients.insert(client);
    enterWaiting(client);
    connect(socket, &QTcpSocket::readyRead, client, [this, client] { receive(client); });
    connect(socket, &QTcpSocket::disconnected, client, [this, client] { forget(client); });
    connect(client->watch(), &PeerWatch::peerLost, client, [this, client] {
        drop(client, QStringLiteral("no answer for %1 s").arg(PeerWatch::SilentMs / 1000));
    });
    connect(socket, &QTcpSocket::errorOccurred, client,
            [this, client](QAbstractSocket::SocketError error) {
                if (error == QAbstractSocket::SslHandshakeFailedError)
                    drop(client, QStringLiteral("TLS handshake failed: %1")
                                     .arg(client->socket()->errorString()));
                else if (client->socket()->state() == QAbstractSocket::UnconnectedState)
                    forget(client);
            });
    auto* secure = qobject_cast<QSslSocket*>(socket);
    RelayHostLog::write(QStringLiteral("connect %1%2 (%3 open)")
                            .arg(describe(client), secure ? QStringLiteral(" TLS") : QString())
                            .arg(clients.size()));
    if (secure) {
        secure->startServerEncryption();
        return;
    }
    // Bytes that came with the connection do not raise readyRead again.
    if (socket->bytesAvailable() > 0)
        receive(client);
}

void RelayHostService::enterWaiting(RelayHostClient* client)
{
    waiting.emplace(client->number(), client);
    std::map<quint64, RelayHostClient*>& from = waitingFrom[client->host()];
    rank(client->host(), from, false);
    from.emplace(client->number(), client);
    rank(client->host(), from, true);
}

void RelayHostService::leaveWaiting(RelayHostClient* client)
{
    if (waiting.erase(client->number()) == 0)
        return;
    const auto from = waitingFrom.find(client->host());
    rank(client->host(), *from, false);
    from->erase(client->number());
    if (from->empty())
        waitingFrom.erase(from);
    else
        rank(client->host(), *from, true);
}

void RelayHostService::rank(const QString& host, const std::map<quint64, RelayHostClient*>& from,
                            bool in)
{
    if (from.empty())
        return;
    // Most strangers last; among equals, the one whose oldest is oldest.
    const auto key = std::make_tuple(qsizetype(from.size()), ~from.begin()->first, host);
    if (in)
        crowding.insert(key);
    else
        crowding.erase(key);
}

void RelayHostService::receive(RelayHostClient* client)
{
    QTcpSocket* socket = client->socket();
    for (;;) {
        const qint64 got = socket->read(readBuffer.data(), readBuffer.size());
        if (got <= 0)
            return;
        // A closing connection's input is read and thrown away, so it cannot pile up.
        if (client->closing || client->forgotten)
            continue;
        if (!client->group) {
            client->bytesBeforeLogin += got;
            if (client->bytesBeforeLogin > MaxBytesBeforeLogin) {
                close(client, QStringLiteral("%1 bytes sent without logging in")
                                  .arg(client->bytesBeforeLogin));
                continue;
            }
        }
        consume(client, readBuffer.constData(), got);
    }
}

void RelayHostService::consume(RelayHostClient* client, const char* data, qsizetype size)
{
    // Consecutive relayed lines of one read go out to each peer in one write.
    QByteArrayView run;
    const auto flush = [&] {
        if (!run.isEmpty() && client->group)
            relay(client, run);
        run = QByteArrayView();
    };
    client->feed(data, size, [&](QByteArrayView line, bool inChunk) {
        if (client->closing || client->forgotten)
            return;
        const QByteArrayView text = line.chopped(1);
        if (client->group && RelayHostProtocol::kind(text) == RelayHostProtocol::Kind::Relayed) {
            if (inChunk && !run.isEmpty() && run.data() + run.size() == line.data()) {
                run = QByteArrayView(run.data(), run.size() + line.size());
                return;
            }
            flush();
            if (inChunk)
                run = line;
            else
                relay(client, line);
            return;
        }
        flush();
        request(client, text);
    });
    if (!client->closing && !client->forgotten)
        flush();
}

void RelayHostService::request(RelayHostClient* client, QByteArrayView line)
{
    switch (RelayHostProtocol::kind(line)) {
    case RelayHostProtocol::Kind::Auth:
        login(client, line);
        break;
    case RelayHostProtocol::Kind::List:
        list(client, line);
        break;
    default:
        // Relayed lines before the login, and lines that mean nothing here.
        break;
    }
}

void RelayHostService::login(RelayHostClient* client, QByteArrayView line)
{
    const std::optional<RelayHostProtocol::Login> login = RelayHostProtocol::parseAuth(line);
    if (!login) {
        RelayHostLog::write(
            QStringLiteral("login refused %1: malformed request").arg(describe(client)));
        send(client, RelayHostProtocol::authReply(RelayHostProtocol::Malformed));
        return;
    }
    const QString shownId = RelayHostLog::printable(login->id);
    if (settings.accounts && !settings.accounts->accepts(login->id, login->key)) {
        RelayHostLog::write(QStringLiteral("login refused %1: ID %2 unknown or wrong key")
                                .arg(describe(client), shownId));
        if (send(client, RelayHostProtocol::authReply(RelayHostProtocol::Refused)))
            close(client, QStringLiteral("ID refused"));
        return;
    }
    logout(client);
    if (!send(client, RelayHostProtocol::authReply(RelayHostProtocol::Accepted)))
        return;
    client->id = login->id;
    client->key = login->key;
    client->administrator = settings.accounts && settings.accounts->isAdministrator(login->id);
    QList<RelayHostClient*>& group = groups[login->key];
    group.append(client);
    client->group = &group;
    leaveWaiting(client);
    client->loginNumber = nextLogin++;
    loggedIn.emplace(client->loginNumber, client);
    client->socket()->setReadBufferSize(LoggedInReadBudget);
    RelayHostLog::write(
        QStringLiteral("login %1 (%2 in its group)").arg(describe(client)).arg(group.size()));
}

void RelayHostService::list(RelayHostClient* client, QByteArrayView line)
{
    if (!client->group)
        return;
    const RelayHostProtocol::ListScope scope = RelayHostProtocol::listScope(line);
    if (scope == RelayHostProtocol::ListScope::None)
        return;
    QByteArray rows;
    if (scope == RelayHostProtocol::ListScope::All && client->administrator) {
        for (const auto& [number, member] : loggedIn) {
            const QString key =
                member->group == client->group ? member->key : RelayHostProtocol::maskedKey();
            rows += RelayHostProtocol::listRow(member->id, key, member->host());
        }
        RelayHostLog::write(QStringLiteral("list of all for %1, administrator: %2 rows in %3 "
                                           "groups")
                                .arg(describe(client))
                                .arg(loggedIn.size())
                                .arg(groups.size()));
    } else {
        for (const RelayHostClient* member : std::as_const(*client->group))
            rows += RelayHostProtocol::listRow(member->id, member->key, member->host());
        if (scope == RelayHostProtocol::ListScope::All)
            RelayHostLog::write(QStringLiteral("list of all for %1, not an administrator: the "
                                               "%2 rows of its own group")
                                    .arg(describe(client))
                                    .arg(client->group->size()));
    }
    send(client, rows);
}

void RelayHostService::relay(RelayHostClient* from, QByteArrayView lines)
{
    // A copy: members dropped on the way leave the group while it is walked.
    const QList<RelayHostClient*> members = *from->group;
    for (RelayHostClient* to : members) {
        if (to != from)
            send(to, lines);
    }
}

bool RelayHostService::send(RelayHostClient* to, QByteArrayView bytes)
{
    if (to->closing || to->forgotten)
        return false;
    QTcpSocket* socket = to->socket();
    socket->write(bytes.data(), bytes.size());
    const qint64 queued = socket->bytesToWrite();
    if (queued > settings.maxQueuedBytes) {
        drop(to, QStringLiteral("slow reader, %1 bytes waiting to be sent").arg(queued));
        return false;
    }
    return true;
}

void RelayHostService::logout(RelayHostClient* client)
{
    if (!client->group)
        return;
    client->group->removeOne(client);
    if (client->group->isEmpty())
        groups.erase(client->key);
    client->group = nullptr;
    client->administrator = false;
    loggedIn.erase(client->loginNumber);
    if (!client->forgotten)
        enterWaiting(client);
}

void RelayHostService::close(RelayHostClient* client, const QString& why)
{
    if (client->closing || client->forgotten)
        return;
    RelayHostLog::write(QStringLiteral("closing %1: %2").arg(describe(client), why));
    logout(client);
    client->closing = true;
    client->closingSince = clock.elapsed();
    client->socket()->disconnectFromHost();
}

void RelayHostService::drop(RelayHostClient* client, const QString& why)
{
    if (client->forgotten)
        return;
    RelayHostLog::write(QStringLiteral("dropping %1: %2").arg(describe(client), why));
    logout(client);
    client->closing = true;
    client->socket()->abort();
    forget(client);
}

void RelayHostService::forget(RelayHostClient* client)
{
    if (client->forgotten)
        return;
    client->forgotten = true;
    logout(client);
    leaveWaiting(client);
    clients.remove(client);
    QString note;
    if (client->discardedLines() > 0)
        note = QStringLiteral(", %1 over-long lines discarded").arg(client->discardedLines());
    RelayHostLog::write(QStringLiteral("disconnect %1 (%2 open%3)")
                            .arg(describe(client))
                            .arg(clients.size())
                            .arg(note));
    client->deleteLater();
}

void RelayHostService::sweep()
{
    const qint64 now = clock.elapsed();
    const qint64 idleMs = qint64(settings.idleTimeoutSeconds) * 1000;
    // Only strangers can be closing or idle; dropping one leaves the others' places in the map.
    // Oldest first, so an address above its limit keeps its newest.
    for (auto next = waiting.begin(); next != waiting.end();) {
        RelayHostClient* client = (next++)->second;
        const qsizetype fromItsAddress = qsizetype(waitingFrom.constFind(client->host())->size());
        if (client->closing) {
            if (now - client->closingSince >= CloseGraceMs)
                drop(client, QStringLiteral("did not close in time"));
        } else if (idleMs > 0 && now - client->connectedAt() >= idleMs) {
            close(client,
                  QStringLiteral("not logged in after %1 s").arg(settings.idleTimeoutSeconds));
        } else if (fromItsAddress > settings.maxPendingPerAddress &&
                   now - client->connectedAt() >= LoginGraceMs) {
            drop(client, QStringLiteral("one of %1 connections from %2 not logged in")
                             .arg(fromItsAddress)
                             .arg(client->host()));
        }
    }
}

QString RelayHostService::describe(const RelayHostClient* client) const
{
    QString text =
        QLatin1Char('#') + QString::number(client->number()) + QLatin1Char(' ') + client->peer();
    if (!client->id.isEmpty())
        text += QLatin1String(" ID ") + RelayHostLog::printable(client->id);
    return text;
}

// Compiled here so that the service links without the window code of the library.
#include "moc_RelayHostService.cpp"
