#pragma once

#include "host/RelayHostAccounts.h"
#include "host/RelayHostTlsServer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <map>
#include <optional>
#include <set>
#include <tuple>

class RelayHostClient;

// The relay host service: copies log in with an ID and a key, and every DATA and CTRL line of a
// copy goes to the other copies that logged in with the same key.
//
// Replies to "AUTH:ID:key": AUTH:0 logged in; AUTH:1 unknown ID or wrong key (only with an
// accounts list), the connection is then closed once the reply is sent; AUTH:3 malformed request.
// Copies may come in clear text, over TLS on a port of its own, or both; a TLS connection counts
// from its TCP connect, so one whose handshake never ends is timed out like any stranger.
// Several connections may log in with one ID, so that a copy whose old connection has not yet
// been found dead gets back in at once; keepalive probes find such a connection within a minute
// (RelayHostClient).
// An AUTH on a logged-in connection moves it to the new ID and group when accepted; code 3
// leaves the earlier login in place.
// "LIST" and "LIST:ALL" are answered only to logged-in copies, in login order; "LIST:ALL" lists
// every group only to an ID the accounts list marks as administrator, and the caller's group
// like "LIST" to anyone else. Lines of a copy that has not logged in are never relayed; one that
// has not logged in within the idle timeout, or has sent more than 64 KiB without logging in, is
// closed. A copy whose unsent output grows beyond maxQueuedBytes is dropped. Input is taken a
// bounded portion per connection per turn, so that no connection holds up the others.
// Strangers (connections not logged in) cannot crowd copies out: one address holds at most
// maxPendingPerAddress of them that have had time to log in, its oldest making room for its
// newest, and a full table lets the oldest stranger of the address holding the most go for a
// newcomer; a newcomer is refused only when every place is held by a logged-in copy.
class RelayHostService : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QHostAddress address = QHostAddress::Any;
        quint16 port = 10001;
        // Clear text on port; off only when TLS is served.
        bool plain = true;
        // With a configuration (certificate and key), TLS is served on tlsPort too.
        std::optional<QSslConfiguration> tls;
        quint16 tlsPort = 10002;
        int maxConnections = 2000;
        int maxPendingPerAddress = 8;
        // 0 never closes a connection for not logging in.
        int idleTimeoutSeconds = 30;
        qint64 maxQueuedBytes = 4 * 1024 * 1024;
        // Without a list any ID logs in with the key it gives.
        std::optional<RelayHostAccounts> accounts;
    };

    explicit RelayHostService(Settings settings, QObject* parent = nullptr);
    ~RelayHostService() override;

    bool listen(QString* error);
    // The address listened on, and the ports bound: 0 for one not served.
    QHostAddress address() const;
    quint16 port() const { return server.serverPort(); }
    quint16 tlsPort() const { return tlsServer.serverPort(); }
    qsizetype connectionCount() const { return clients.size(); }
    qsizetype loggedInCount() const { return qsizetype(loggedIn.size()); }

    // A connection still closing this long after it was asked to is cut.
    static constexpr int CloseGraceMs = 10000;

private:
    // Sets up a listener before it listens: an accept queue long enough for every copy
    // reconnecting at once.
    void prepareListener(QTcpServer& listener);
    void acceptPending(QTcpServer* from);
    // Takes a new connection from any listener, making room for it or refusing it.
    void admit(QTcpSocket* socket);
    // Keeps the strangers' tables in step with the login state.
    void enterWaiting(RelayHostClient* client);
    void leaveWaiting(RelayHostClient* client);
    // Takes an address's strangers out of the crowding order, or puts them back in.
    void rank(const QString& host, const std::map<quint64, RelayHostClient*>& from, bool in);
    void receive(RelayHostClient* client);
    void consume(RelayHostClient* client, const char* data, qsizetype size);
    void request(RelayHostClient* client, QByteArrayView line);
    void login(RelayHostClient* client, QByteArrayView line);
    void list(RelayHostClient* client, QByteArrayView line);
    void relay(RelayHostClient* from, QByteArrayView lines);
    // Queues bytes for the client; false when it is gone or was dropped as a slow reader.
    bool send(RelayHostClient* to, QByteArrayView bytes);
    void logout(RelayHostClient* client);
    // Closes after the queued bytes have gone out.
    void close(RelayHostClient* client, const QString& why);
    // Cuts the connection at once.
    void drop(RelayHostClient* client, const QString& why);
    void forget(RelayHostClient* client);
    void sweep();
    QString describe(const RelayHostClient* client) const;

    Settings settings;
    QTcpServer server;
    RelayHostTlsServer tlsServer;
    QTimer sweepTimer;
    QElapsedTimer clock;
    QSet<RelayHostClient*> clients;
    // Logged-in clients by login number, so in login order.
    std::map<quint64, RelayHostClient*> loggedIn;
    // Open clients not logged in by connection number, so oldest first; all of them, and
    // by peer address.
    std::map<quint64, RelayHostClient*> waiting;
    QHash<QString, std::map<quint64, RelayHostClient*>> waitingFrom;
    // Addresses with strangers by how many they have, most last.
    std::set<std::tuple<qsizetype, quint64, QString>> crowding;
    // Logged-in clients by key, each group in login order.
    std::map<QString, QList<RelayHostClient*>> groups;
    QByteArray readBuffer;
    quint64 nextNumber = 1;
    quint64 nextLogin = 1;
};
