#include "LanCopy.h"
#include "PtyPair.h"
#include "TestRegistry.h"
#include "core/SocketControl.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <signal.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Patience = 30000;
const QStringList Listen{"--listen", "127.0.0.1", "--port", "0"};

// Runs a set-up helper and stops the test when it failed.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

QString hostProgram()
{
    const QString dir = qEnvironmentVariable("NIRVEX_BUILD_DIR");
    return (dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir) +
           QStringLiteral("/nirvex-host");
}

// A raw TCP client of the service that keeps what it receives.
struct Peer {
    Peer()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                         [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QTcpSocket::disconnected, &socket, [this] { closed = true; });
    }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    QTcpSocket socket;
    QByteArray received;
    bool closed = false;
};

// A DATA line of 256 bytes that carries its number.
QByteArray dataLine(int number)
{
    QByteArray bytes(256, '\0');
    for (int k = 0; k < bytes.size(); ++k)
        bytes[k] = char((number >> (8 * (k % 4))) + k);
    return "DATA:256:" + bytes.toHex().toUpper() + '\n';
}

// Between copies and the service: cuts a copy's side alone, as a network drop does, and keeps
// the service's side open and silent.
struct Network {
    explicit Network(quint16 service)
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, service] {
            QTcpSocket* near = server.nextPendingConnection();
            auto* far = new QTcpSocket(&server);
            far->connectToHost(QHostAddress::LocalHost, service);
            far->waitForConnected(Patience);
            const auto pass = [](QTcpSocket* from, QTcpSocket* to) {
                from->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                QObject::connect(from, &QTcpSocket::readyRead, to,
                                 [from, to] { to->write(from->readAll()); });
            };
            pass(near, far);
            pass(far, near);
            lastNear = near;
            lastFar = far;
        });
    }
    void drop()
    {
        QObject::disconnect(lastFar, nullptr, nullptr, nullptr);
        lastNear->abort();
    }
    QTcpServer server;
    QTcpSocket* lastNear = nullptr;
    QTcpSocket* lastFar = nullptr;
};

qint64 peakMemoryKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmHWM:");
    return at < 0 ? -1 : text.mid(at + 6).trimmed().split(' ').value(0).toLongLong();
}

} // namespace

// The nirvex-host service run as a process and spoken to over TCP on 127.0.0.1, by raw
// peers and by two copies.
class TestRelayHost : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        peers.clear();
        if (host && host->state() != QProcess::NotRunning) {
            host->kill();
            host->waitForFinished(Patience);
        }
        if (QTest::currentTestFailed())
            qWarning("service log:\n%s", hostLog().constData());
        host.reset();
        log.clear();
    }
    void login_data()
    {
        QTest::addColumn<QByteArray>("accounts");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("closed");
        const QByteArray listed = "# operators\n\nGuest=Vorm\r\nali=se=same\n  #x=y\n";
        const QByteArray open;
        const auto row = [](const char* name, const QByteArray& accounts, const char* request,
                            const char* reply, bool closed) {
            QTest::newRow(name) << accounts << QByteArray(request) << QByteArray(reply) << closed;
        };
        // Another connection is logged in as Guest:Vorm: an ID may be shared.
        row("ID in use without a list", open, "AUTH:Guest:other", "AUTH:0", false);
        row("ID in use, listed pair", listed, "AUTH:Guest:Vorm", "AUTH:0", false);
        row("key holding =", listed, "AUTH:ali:se=same", "AUTH:0", false);
        row("wrong key", listed, "AUTH:Guest:vorm", "AUTH:1", true);
        row("unknown ID", listed, "AUTH:Nobody:Vorm", "AUTH:1", true);
        row("key field missing", open, "AUTH:Guest", "AUTH:3", false);
        row("colon in key", open, "AUTH:Guest:Vo:rm", "AUTH:3", false);
        row("not UTF-8", open, "AUTH:G\xff:Vorm", "AUTH:3", false);
    }
    void login()
    {
        QFETCH(QByteArray, accounts);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, closed);
        QStringList options;
        if (!accounts.isEmpty()) {
            QFile file(dir.filePath("accounts"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(accounts) == accounts.size());
            options << "--accounts" << file.fileName();
        }
        CHECKED(startHost(options));
        CHECKED(addPeers(2));
        CHECKED(login(*peers[1], "Guest", "Vorm"));
        Peer& peer = *peers[0];
        peer.send(request + '\n');
        CHECKED(expectExactly(peer, reply + '\n'));
        if (closed) {
            QTRY_VERIFY_WITH_TIMEOUT(peer.closed, Patience);
            QCOMPARE(peer.received, reply + '\n');
        } else {
            // Still open: a malformed request is answered.
            peer.send("AUTH:\n");
            CHECKED(expectExactly(peer, reply + "\nAUTH:3\n"));
        }
    }
    void relayInOrder_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("piece");
        QTest::addColumn<QByteArray>("relayed");
        QByteArray mixed;
        const QByteArray controls[] = {"CTRL:CTS:ON\n", "CTRL:DSR:OFF\n"};
        for (int i = 0; i < 2000; ++i)
            mixed +=
                i % 3 == 0 ? controls[i % 2] : "DATA:1:" + QByteArray::number(i % 256, 16) + '\n';
        QTest::newRow("mixed lines in 1000-byte pieces") << mixed << 1000 << mixed;
        // An over-long line is dropped up to its LF; the next line still goes.
        const QByteArray next = "DATA:1:41\n";
        QTest::newRow("100000 characters dropped")
            << "DATA:" + QByteArray(99995, '4') + '\n' + next << 7000 << next;
    }
    void relayInOrder()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, piece);
        QFETCH(QByteArray, relayed);
        CHECKED(startWith("KKKLL"));
        Peer &a = *peers[0], &b = *peers[1], &c = *peers[2], &d = *peers[3], &e = *peers[4];
        const int step = piece > 0 ? piece : int(stream.size());
        for (qsizetype at = 0; at < stream.size(); at += step)
            a.send(stream.mid(at, step));
        CHECKED(expectExactly(b, relayed));
        CHECKED(expectExactly(c, relayed));
        // Whatever a or d were sent would be queued before these.
        b.send("CTRL:RI:ON\n");
        e.send("CTRL:RI:OFF\n");
        CHECKED(expectExactly(a, "CTRL:RI:ON\n"));
        CHECKED(expectExactly(d, "CTRL:RI:OFF\n"));
        CHECKED(expectExactly(c, relayed + "CTRL:RI:ON\n"));
    }
    void listRows_data()
    {
        QTest::addColumn<int>("caller");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("rows");
        QTest::newRow("group of a")
            << 0 << QByteArray("LIST") << QByteArray("LIST:a:K:127.0.0.1\nLIST:b:K:127.0.0.1\n");
        QTest::newRow("all from a") << 0 << QByteArray("LIST:ALL")
                                    << QByteArray("LIST:a:K:127.0.0.1\nLIST:b:K:127.0.0.1\n"
                                                  "LIST:c:*:127.0.0.1\n");
        QTest::newRow("all from c") << 2 << QByteArray("LIST:ALL")
                                    << QByteArray("LIST:a:*:127.0.0.1\nLIST:b:*:127.0.0.1\n"
                                                  "LIST:c:L:127.0.0.1\n");
        QTest::newRow("not logged in") << 3 << QByteArray("LIST:ALL") << QByteArray();
    }
    void listRows()
    {
        QFETCH(int, caller);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, rows);
        CHECKED(startWith("KKL-"));
        // The AUTH:3 answering the malformed request shows that nothing else came before it.
        peers[caller]->send(request + "\nAUTH:\n");
        CHECKED(expectExactly(*peers[caller], rows + "AUTH:3\n"));
    }
    void slowReaderDropped()
    {
        CHECKED(startWith("KKK"));
        Peer &a = *peers[0], &b = *peers[1], &slow = *peers[2];
        // The slow peer takes nothing off the network; b reads all of 64 MiB, at most 1 MiB behind.
        slow.socket.setReadBufferSize(64);
        QObject::disconnect(&slow.socket, &QTcpSocket::readyRead, nullptr, nullptr);
        [[maybe_unused]] const qint64 peakBefore = peakMemoryKiB(host->processId());
        constexpr int Lines = 128 * 1024;
        qint64 unchecked = 0; // sent to b and not yet checked
        int next = 0, verified = 0;
        for (int round = 0; round < Lines && verified < Lines; ++round) {
            for (; next < Lines && unchecked < 1024 * 1024; ++next)
                unchecked += a.socket.write(dataLine(next));
            const qint64 before = b.received.size();
            QTRY_VERIFY_WITH_TIMEOUT(b.received.size() > before || b.closed, Patience);
            QVERIFY(!b.closed);
            qsizetype from = 0;
            for (qsizetype lf; (lf = b.received.indexOf('\n', from)) >= 0;
                 from = lf + 1, ++verified)
                QVERIFY2(QByteArrayView(b.received).sliced(from, lf + 1 - from) ==
                             dataLine(verified),
                         qPrintable(QStringLiteral("line %1 out of order").arg(verified)));
            b.received.remove(0, from);
            unchecked -= from;
        }
        QCOMPARE(verified, Lines);
        QTRY_VERIFY_WITH_TIMEOUT(hostLog().contains("dropping #3"), Patience);
        b.send("LIST\n");
        CHECKED(expectExactly(b, "LIST:a:K:127.0.0.1\nLIST:b:K:127.0.0.1\n"));
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's quarantine keeps freed memory resident
        const qint64 peakAfter = peakMemoryKiB(host->processId());
        QVERIFY2(
            peakAfter - peakBefore < 24 * 1024,
            qPrintable(QStringLiteral("peak memory grew by %1 KiB").arg(peakAfter - peakBefore)));
#endif
    }
    void idleConnectionClosed()
    {
        CHECKED(startWith("-K", {"--idle-timeout", "1"}));
        peers[0]->send("DATA:1:41\n");
        QTRY_VERIFY_WITH_TIMEOUT(peers[0]->closed, Patience);
        QCOMPARE(peers[0]->received, QByteArray());
        peers[1]->send("AUTH:\n");
        CHECKED(expectExactly(*peers[1], "AUTH:3\n"));
    }
    void connectionLimit()
    {
        CHECKED(startHost({"--max-connections", "2"}));
        CHECKED(addPeers(3));
        QTRY_VERIFY_WITH_TIMEOUT(peers[2]->closed, Patience);
        CHECKED(login(*peers[0], "a", "K"));
        CHECKED(login(*peers[1], "b", "K"));
        peers[0]->socket.disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(hostLog().contains("disconnect #1"), Patience);
        CHECKED(addPeers(1));
        CHECKED(login(*peers[3], "c", "K"));
    }
    void stopsOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void stopsOnSignal()
    {
        QFETCH(int, signalNumber);
        CHECKED(startWith("K"));
        QCOMPARE(::kill(pid_t(host->processId()), signalNumber), 0);
        QVERIFY(host->waitForFinished(Patience));
        QCOMPARE(host->exitStatus(), QProcess::NormalExit);
        QCOMPARE(host->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(peers[0]->closed, Patience);
    }
    void badCommandLine_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("listen on a name")
            << QStringList{"--listen", "nowhere"} << 2 << QByteArray("--listen");
        QTest::newRow("missing accounts file") << QStringList{"--accounts", "/nonexistent/accounts"}
                                               << 1 << QByteArray("cannot read accounts file");
        QTest::newRow("address not on this machine")
            << QStringList{"--listen", "192.0.2.1"} << 1
            << QByteArray("cannot listen on 192.0.2.1:0: ");
        // HELD stands for a port that the test holds.
        QTest::newRow("port in use") << QStringList{"--port", "HELD"} << 1
                                     << QByteArray("cannot listen on 127.0.0.1:HELD: ");
    }
    void badCommandLine()
    {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, message);
        QTcpServer held;
        QVERIFY(held.listen(QHostAddress::LocalHost, 0));
        const QString port = QString::number(held.serverPort());
        options.replaceInStrings(QStringLiteral("HELD"), port);
        message.replace("HELD", port.toLatin1());
        QProcess process;
        process.start(hostProgram(), Listen + options);
        QVERIFY(process.waitForFinished(Patience));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY2(process.readAllStandardError().contains(message), message.constData());
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
    }

    void sharedIdRelays()
    {
        CHECKED(startHost());
        CHECKED(addPeers(3));
        Peer &one = *peers[0], &two = *peers[1], &other = *peers[2];
        CHECKED(login(one, "Guest", "Vorm"));
        CHECKED(login(two, "Guest", "Vorm"));
        CHECKED(login(other, "c", "Vorm"));
        // Neither login throws the other out: each line reaches both of the others.
        Peer* const trio[] = {&one, &two, &other};
        for (int i = 0; i < 3; ++i) {
            const QByteArray line = "CTRL:CTS:" + QByteArray::number(i) + '\n';
            trio[i]->send(line);
            for (Peer* to : trio) {
                if (to != trio[i]) {
                    CHECKED(expectExactly(*to, line));
                    to->received.clear();
                }
            }
        }
    }
    // The service's side of a dropped connection stays open until probes find it dead; the copy
    // gets back in meanwhile, with the ID and key it was left at.
    void copyBackInAfterNetworkDrop()
    {
        CHECKED(startHost());
        CHECKED(addPeers(1));
        Peer& other = *peers[0];
        CHECKED(login(other, "other", "Vorm"));
        Network network(port);
        PtyPair a;
        LanCopy copy(a.slavePath(), 3);
        copy.w->setRelayHostEndpoint("127.0.0.1", network.server.serverPort());
        copy.click();
        QTRY_VERIFY_WITH_TIMEOUT(copy.lampOn(), Patience);
        QVERIFY(a.writeAll("one"));
        CHECKED(expectExactly(other, "DATA:3:6F6E65\n"));

        network.drop();
        QTRY_VERIFY_WITH_TIMEOUT(!copy.lampOn(), Patience);
        // The device sends again as soon as the copy is back on the network.
        QObject scope;
        QObject::connect(copy.w->Relay.wsocLan(), &SocketControl::ConnectEvent, &scope,
                         [&] { a.writeAll("two"); });
        QVERIFY(a.writeAll("?")); // its flush connects again; its own line is dropped
        QTRY_VERIFY_WITH_TIMEOUT(other.received.endsWith("DATA:3:74776F\n"), Patience);
        QVERIFY(copy.lampOn());
        QVERIFY(!copy.status().contains(QStringLiteral("ホストからエラー")));
        other.received.clear();
        other.send("LIST\n");
        CHECKED(expectExactly(other, "LIST:other:Vorm:127.0.0.1\nLIST:Guest:Vorm:127.0.0.1\n"
                                     "LIST:Guest:Vorm:127.0.0.1\n"));
    }
    // Keepalive probes start after a short silence, so that a peer gone without a word is let go
    // within a minute.
    void silentPeerProbed()
    {
        CHECKED(startWith("K"));
        const QString local = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0'));
        const QString remote = QStringLiteral("0100007F:%1")
                                   .arg(peers[0]->socket.localPort(), 4, 16, QLatin1Char('0'));
        const auto timer = [&] {
            QFile table(QStringLiteral("/proc/net/tcp"));
            if (!table.open(QIODevice::ReadOnly))
                return QString();
            for (const QByteArray& row : table.readAll().split('\n')) {
                const QStringList fields = QString::fromLatin1(row).simplified().split(' ');
                if (fields.size() > 5 && fields[1].compare(local, Qt::CaseInsensitive) == 0 &&
                    fields[2].compare(remote, Qt::CaseInsensitive) == 0)
                    return fields[5];
            }
            return QString();
        };
        // Timer kind 2 is the keepalive timer; its expiry is given in clock ticks.
        QTRY_VERIFY2_WITH_TIMEOUT(timer().startsWith(QStringLiteral("02:")), qPrintable(timer()),
                                  Patience);
        const double seconds =
            double(timer().mid(3).toLongLong(nullptr, 16)) / double(::sysconf(_SC_CLK_TCK));
        QVERIFY2(seconds <= 30, qPrintable(QString::number(seconds)));
    }

private:
    void startHost(const QStringList& options = {})
    {
        host = std::make_unique<QProcess>();
        host->start(hostProgram(), Listen + options);
        QVERIFY2(host->waitForStarted(Patience), qPrintable(hostProgram()));
        QTRY_VERIFY_WITH_TIMEOUT(host->canReadLine() || host->state() == QProcess::NotRunning,
                                 Patience);
        const QByteArray line = host->readLine().trimmed();
        QVERIFY2(line.startsWith("listening on 127.0.0.1:"), line.constData());
        port = line.mid(line.lastIndexOf(':') + 1).toUShort();
    }
    void addPeers(int count)
    {
        for (int i = 0; i < count; ++i) {
            peers.push_back(std::make_unique<Peer>());
            peers.back()->socket.connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(peers.back()->socket.waitForConnected(Patience));
            peers.back()->socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        }
    }
    // Starts the service with one peer per character of keys: peer i logs in as 'a' + i with
    // that key, or not at all for '-'.
    void startWith(const QByteArray& keys, const QStringList& options = {})
    {
        CHECKED(startHost(options));
        CHECKED(addPeers(int(keys.size())));
        for (int i = 0; i < keys.size(); ++i)
            if (keys[i] != '-')
                CHECKED(login(*peers[i], QByteArray(1, char('a' + i)), keys.mid(i, 1)));
    }
    void login(Peer& peer, const QByteArray& id, const QByteArray& key)
    {
        peer.send("AUTH:" + id + ':' + key + '\n');
        CHECKED(expectExactly(peer, "AUTH:0\n"));
        peer.received.clear();
    }
    void expectExactly(Peer& peer, const QByteArray& bytes)
    {
        QTRY_VERIFY_WITH_TIMEOUT(peer.received.size() >= bytes.size() || peer.closed, Patience);
        QCOMPARE(peer.received, bytes);
    }
    QByteArray hostLog()
    {
        if (host)
            log += host->readAllStandardError();
        return log;
    }

    std::unique_ptr<QProcess> host;
    QByteArray log;
    quint16 port = 0;
    std::vector<std::unique_ptr<Peer>> peers;
    QTemporaryDir dir;
};

NIRVEX_TEST(TestRelayHost)
#include "tst_relayhost.moc"
