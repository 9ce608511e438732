#include "DataLines.h"
#include "HostClient.h"
#include "HostProcess.h"
#include "TestRegistry.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <signal.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Patience = 30000;

} // namespace

// The nirvex-host service run as a process and spoken to over TCP on 127.0.0.1 by scripted
// clients.
class TestRelayHost : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        clients.clear();
        host.kill();
        if (QTest::currentTestFailed())
            qWarning("service log:\n%s", host.log().constData());
    }
    void login_data()
    {
        QTest::addColumn<QByteArray>("accounts");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply"); // the service hangs up after AUTH:1
        const QByteArray listed = "# operators\n\nGuest=Vorm\r\nali=se=same\n  #x=y\n";
        const auto row = [](const char* name, const QByteArray& accounts, const char* request,
                            const char* reply) {
            QTest::newRow(name) << accounts << QByteArray(request) << QByteArray(reply);
        };
        // Another connection is logged in as Guest:Vorm: an ID may be shared.
        row("ID in use without a list", {}, "AUTH:Guest:other", "AUTH:0");
        row("ID in use, listed pair", listed, "AUTH:Guest:Vorm", "AUTH:0");
        row("key holding =", listed, "AUTH:ali:se=same", "AUTH:0");
        row("wrong key", listed, "AUTH:Guest:vorm", "AUTH:1");
        row("unknown ID", listed, "AUTH:Nobody:Vorm", "AUTH:1");
        row("key field missing", {}, "AUTH:Guest", "AUTH:3");
        row("colon in key", {}, "AUTH:Guest:Vo:rm", "AUTH:3");
        row("not UTF-8", {}, "AUTH:G\xff:Vorm", "AUTH:3");
    }
    void login()
    {
        QFETCH(QByteArray, accounts);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QVERIFY(host.start({}, accounts));
        QVERIFY(add(2));
        QVERIFY(clients[1]->login("Guest", "Vorm"));
        HostClient& client = *clients[0];
        client.send(request + '\n');
        expectExactly(client, reply + '\n');
        if (reply == "AUTH:1") {
            QTRY_VERIFY_WITH_TIMEOUT(client.closed, Patience);
            QCOMPARE(client.received, reply + '\n');
        } else { // still open: a malformed request is answered
            client.send("AUTH:\n");
            expectExactly(client, reply + "\nAUTH:3\n");
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
        QVERIFY(startWith("KKKLL"));
        HostClient &a = *clients[0], &b = *clients[1], &c = *clients[2], &d = *clients[3];
        for (qsizetype at = 0; at < stream.size(); at += piece)
            a.send(stream.mid(at, piece));
        expectExactly(b, relayed);
        expectExactly(c, relayed);
        // Whatever a or d were sent would be queued before these.
        b.send("CTRL:RI:ON\n");
        clients[4]->send("CTRL:RI:OFF\n");
        expectExactly(a, "CTRL:RI:ON\n");
        expectExactly(d, "CTRL:RI:OFF\n");
        expectExactly(c, relayed + "CTRL:RI:ON\n");
    }
    void listRows_data()
    {
        QTest::addColumn<int>("caller");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("rows");
        QTest::newRow("group of a")
            << 0 << QByteArray("LIST") << QByteArray("LIST:a:K:127.0.0.1\nLIST:b:K:127.0.0.1\n");
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
        QVERIFY(startWith("KKL-"));
        // The AUTH:3 answering the malformed request shows that nothing else came before it.
        clients[caller]->send(request + "\nAUTH:\n");
        expectExactly(*clients[caller], rows + "AUTH:3\n");
    }
    void slowReaderDropped()
    {
        QVERIFY(startWith("KKK"));
        HostClient &a = *clients[0], &b = *clients[1], &slow = *clients[2];
        // The slow client takes nothing off the network; b reads all of 64 MiB, at most 1 MiB
        // behind.
        slow.socket.setReadBufferSize(64);
        QObject::disconnect(&slow.socket, &QTcpSocket::readyRead, nullptr, nullptr);
        [[maybe_unused]] const qint64 peakBefore = host.statusKiB("VmHWM:");
        constexpr int Lines = 128 * 1024;
        qint64 unchecked = 0; // sent to b and not yet checked
        int next = 0, verified = 0;
        for (int round = 0; round < Lines && verified < Lines; ++round) {
            for (; next < Lines && unchecked < 1024 * 1024; ++next)
                unchecked += a.socket.write(DataLines::numbered(next));
            const qint64 before = b.received.size();
            QTRY_VERIFY_WITH_TIMEOUT(b.received.size() > before || b.closed, Patience);
            QVERIFY(!b.closed);
            qsizetype from = 0;
            for (qsizetype lf; (lf = b.received.indexOf('\n', from)) >= 0;
                 from = lf + 1, ++verified)
                QVERIFY2(QByteArrayView(b.received).sliced(from, lf + 1 - from) ==
                             DataLines::numbered(verified),
                         qPrintable(QStringLiteral("line %1 out of order").arg(verified)));
            b.received.remove(0, from);
            unchecked -= from;
        }
        QCOMPARE(verified, Lines);
        QTRY_VERIFY_WITH_TIMEOUT(host.log().contains("dropping #3"), Patience);
        b.send("LIST\n");
        expectExactly(b, "LIST:a:K:127.0.0.1\nLIST:b:K:127.0.0.1\n");
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's quarantine keeps freed memory resident
        const qint64 grown = host.statusKiB("VmHWM:") - peakBefore;
        QVERIFY2(grown < 24 * 1024,
                 qPrintable(QStringLiteral("peak memory grew by %1 KiB").arg(grown)));
#endif
    }
    void idleConnectionClosed()
    {
        QVERIFY(startWith("-K", {"--idle-timeout", "1"}));
        clients[0]->send("DATA:1:41\n");
        QTRY_VERIFY_WITH_TIMEOUT(clients[0]->closed, Patience);
        QCOMPARE(clients[0]->received, QByteArray());
        clients[1]->send("AUTH:\n");
        expectExactly(*clients[1], "AUTH:3\n");
    }
    void connectionLimit()
    {
        QVERIFY(host.start({"--max-connections", "2"}));
        QVERIFY(add(3));
        QTRY_VERIFY_WITH_TIMEOUT(clients[2]->closed, Patience);
        QVERIFY(clients[0]->login("a", "K") && clients[1]->login("b", "K"));
        clients[0]->socket.disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(host.log().contains("disconnect #1"), Patience);
        QVERIFY(add(1) && clients[3]->login("c", "K"));
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
        QVERIFY(startWith("K"));
        QCOMPARE(::kill(pid_t(host.process().processId()), signalNumber), 0);
        QVERIFY(host.process().waitForFinished(Patience));
        QCOMPARE(host.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.process().exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(clients[0]->closed, Patience);
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
        // HELD stands for a port that the test listens on.
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
        process.start(HostProcess::program(),
                      QStringList{"--listen", "127.0.0.1", "--port", "0"} + options);
        QVERIFY(process.waitForFinished(Patience));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY2(process.readAllStandardError().contains(message), message.constData());
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
    }
    void sharedIdRelays()
    {
        QVERIFY(host.start());
        QVERIFY(add(3));
        QVERIFY(clients[0]->login("Guest", "Vorm") && clients[1]->login("Guest", "Vorm") &&
                clients[2]->login("c", "Vorm"));
        // Neither login throws the other out: each line reaches both of the others.
        for (size_t i = 0; i < 3; ++i) {
            const QByteArray line = "CTRL:CTS:" + QByteArray::number(qulonglong(i)) + '\n';
            clients[i]->send(line);
            for (size_t to = 0; to < 3; ++to) {
                if (to != i) {
                    expectExactly(*clients[to], line);
                    clients[to]->received.clear();
                }
            }
        }
    }
    // Keepalive probes start after a short silence, so that a peer gone without a word is let go
    // within a minute.
    void silentPeerProbed()
    {
        QVERIFY(startWith("K"));
        const auto hex = [](quint16 port) {
            return QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0'));
        };
        const QString local = hex(host.port()), remote = hex(clients[0]->socket.localPort());
        // Timer kind 2 is the keepalive timer; its expiry is given in clock ticks.
        const auto timer = [&] {
            QFile table(QStringLiteral("/proc/net/tcp"));
            const QByteArray text = table.open(QIODevice::ReadOnly) ? table.readAll() : "";
            for (const QByteArray& row : text.split('\n')) {
                const QStringList fields = QString::fromLatin1(row).simplified().split(' ');
                if (fields.size() > 5 && fields[1].compare(local, Qt::CaseInsensitive) == 0 &&
                    fields[2].compare(remote, Qt::CaseInsensitive) == 0)
                    return fields[5];
            }
            return QString();
        };
        QTRY_VERIFY2_WITH_TIMEOUT(timer().startsWith(QStringLiteral("02:")), qPrintable(timer()),
                                  Patience);
        const double seconds =
            double(timer().mid(3).toLongLong(nullptr, 16)) / double(::sysconf(_SC_CLK_TCK));
        QVERIFY2(seconds <= 30, qPrintable(QString::number(seconds)));
    }

private:
    bool add(int count)
    {
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<HostClient>());
            if (!clients.back()->connectTo(host.port()))
                return false;
        }
        return true;
    }
    // Starts the service with one client per character of keys: client i logs in as 'a' + i
    // with that key, or not at all for '-'.
    bool startWith(const QByteArray& keys, const QStringList& options = {})
    {
        if (!host.start(options) || !add(int(keys.size())))
            return false;
        for (int i = 0; i < keys.size(); ++i)
            if (keys[i] != '-' &&
                !clients[size_t(i)]->login(QByteArray(1, char('a' + i)), keys.mid(i, 1)))
                return false;
        return true;
    }
    void expectExactly(HostClient& client, const QByteArray& bytes)
    {
        client.waitForBytes(bytes.size());
        QCOMPARE(client.received, bytes);
    }

    HostProcess host;
    std::vector<std::unique_ptr<HostClient>> clients;
};

NIRVEX_TEST(TestRelayHost)
#include "tst_relayhost.moc"
