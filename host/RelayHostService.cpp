#include "host/RelayHostService.h"

#include "host/RelayHostClient.h"
#include "host/RelayHostLog.h"
#include "host/RelayHostProtocol.h"

#include "core/PeerWatch.h"

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
constexpr int AcceptRetryMs = 200;

} // namespace

RelayHostService::RelayHostService(Settings settings, QObject* parent)
    : QObject(parent), settings(std::move(settings)), readBuffer(ReadChunk, Qt::Uninitialized)
{
    clock.start();
    connect(&server, &QTcpServer::newConnection, this, &RelayHostService::acceptPending);
    // Out of file descriptors: the server stops accepting; try again shortly.
    connect(&server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        RelayHostLog::write(
            QStringLiteral("accept failed: %1; retrying").arg(server.errorString()));
        server.pauseAccepting();
        QTimer::singleShot(AcceptRetryMs, this, [this] { server.resumeAccepting(); });
    });
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
    if (!server.listen(settings.address, settings.port)) {
        if (error)
            *error = server.errorString();
        return false;
    }
    sweepTimer.start();
    return true;
}

void RelayHostService::acceptPending()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        if (clients.size() >= settings.maxConnections) {
            RelayHostLog::write(QStringLiteral("refused connection from %1: limit of %2 "
                                               "connections reached")
                                    .arg(RelayHostProtocol::hostText(socket->peerAddress()))
                                    .arg(settings.maxConnections));
            socket->close();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(StrangerReadBudget);
        auto* client = new RelayHostClient(socket, nextNumber++, clock.elapsed(), this);
        clients.insert(client);
        connect(socket, &QTcpSocket::readyRead, client, [this, client] { receive(client); });
        connect(socket, &QTcpSocket::disconnected, client, [this, client] { forget(client); });
        connect(socket, &QTcpSocket::errorOccurred, client, [this, client] {
            if (client->socket()->state() == QAbstractSocket::UnconnectedState)
                forget(client);
        });
        connect(client->watch(), &PeerWatch::peerLost, client, [this, client] {
            drop(client, QStringLiteral("no answer for %1 s").arg(PeerWatch::SilentMs / 1000));
        });
        RelayHostLog::write(
            QStringLiteral("connect %1 (%2 open)").arg(describe(client)).arg(clients.size()));
        // Bytes that came with the connection do not raise readyRead again.
        if (socket->bytesAvailable() > 0)
            receive(client);
    }
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
    QList<RelayHostClient*>& group = groups[login->key];
    group.append(client);
    client->group = &group;
    loggedIn.append(client);
    client->socket()->setReadBufferSize(LoggedInReadBudget);
    RelayHostLog::write(
        QStringLiteral("login %1 (%2 in its group)").arg(describe(client)).arg(group.size()));
}

void RelayHostService::list(RelayHostClient* client, QByteArrayView line)
{
    if (!client->group)
        return;
    QByteArray rows;
    switch (RelayHostProtocol::listScope(line)) {
    case RelayHostProtocol::ListScope::Group:
        for (const RelayHostClient* member : std::as_const(*client->group))
            rows += RelayHostProtocol::listRow(member->id, member->key, member->host());
        break;
    case RelayHostProtocol::ListScope::All:
        for (const RelayHostClient* member : std::as_const(loggedIn)) {
            const QString key =
                member->group == client->group ? member->key : RelayHostProtocol::maskedKey();
            rows += RelayHostProtocol::listRow(member->id, key, member->host());
        }
        break;
    case RelayHostProtocol::ListScope::None:
        return;
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
    loggedIn.removeOne(client);
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
    const QSet<RelayHostClient*> all = clients;
    for (RelayHostClient* client : all) {
        if (client->forgotten)
            continue;
        if (client->closing) {
            if (now - client->closingSince >= CloseGraceMs)
                drop(client, QStringLiteral("did not close in time"));
        } else if (!client->group && idleMs > 0 && now - client->connectedAt() >= idleMs) {
            close(client,
                  QStringLiteral("not logged in after %1 s").arg(settings.idleTimeoutSeconds));
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
