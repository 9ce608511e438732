#include "DataLines.h"
#include "HostClient.h"
#include "HostProcess.h"
#include "TestRegistry.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int Patience = 30000;

} // namespace

// The nirvex-host service run as a process and spoken to over TCP on 127.0.0.1 by scripted
// clients.
class TestRelayHost : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        struct rlimit limit {}; // for the crowds of clients below
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
        limit.rlim_cur = std::max(limit.rlim_cur, std::min<rlim_t>(4096, limit.rlim_max));
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &limit) == 0);
    }
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
        QTest::addColumn<QByteArray>("reply");
        const QByteArray listed = "# operators\n\nGuest=Vorm\r\nali=se=same\n  #x=y\n";
        const auto row = [](const char* name, const QByteArray& accounts, const char* request,
                            const char* reply) {
            QTest::newRow(name) << accounts << QByteArray(request) << QByteArray(reply);
        };
        row("key holding =", listed, "AUTH:ali:se=same", "AUTH:0");
        row("unknown ID", listed, "AUTH:Nobody:Vorm", "AUTH:1");
        row("key field missing", {}, "AUTH:Guest", "AUTH:3");
        row("not UTF-8", {}, "AUTH:G\xff:Vorm", "AUTH:3");
    }
    void login()
    {
        QFETCH(QByteArray, accounts);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QVERIFY(host.start({}, accounts) && add(1));
        HostClient& client = *clients[0];
        client.send(request + '\n');
        expectExactly(client, reply + '\n');
        if (reply == "AUTH:1") { // then hangs up
            QTRY_VERIFY_WITH_TIMEOUT(client.closed, Patience);
        } else { // still open: a malformed request is answered
            client.send("AUTH:\n");
            expectExactly(client, reply + "\nAUTH:3\n");
        }
    }
    // Lines reach the rest of the sender's group whole and in order, however they are cut; an
    // over-long line is dropped up to its LF. Two connections may share an ID.
    void relayInOrder()
    {
        QVERIFY(startWith("KKKLL", {}, "abcdd"));
        HostClient &a = *clients[0], &b = *clients[1], &c = *clients[2], &d = *clients[3];
        QByteArray relayed;
        const QByteArray controls[] = {"CTRL:CTS:ON\n", "CTRL:DSR:OFF\n"};
        for (int i = 0; i < 2000; ++i)
            relayed +=
                i % 3 == 0 ? controls[i % 2] : "DATA:1:" + QByteArray::number(i % 256, 16) + '\n';
        const qsizetype cut = relayed.indexOf('\n', 9000) + 1; // the long line goes between two
        const QByteArray stream =
            relayed.left(cut) + "DATA:" + QByteArray(99995, '4') + '\n' + relayed.mid(cut);
        for (qsizetype at = 0; at < stream.size(); at += 7000)
            a.send(stream.mid(at, 7000));
        expectExactly(b, relayed);
        expectExactly(c, relayed);
        b.send("CTRL:RI:ON\n"); // whatever a or d were sent would be queued before these
        clients[4]->send("CTRL:RI:OFF\n");
        expectExactly(a, "CTRL:RI:ON\n");
        expectExactly(d, "CTRL:RI:OFF\n");
        expectExactly(c, relayed + "CTRL:RI:ON\n");
    }
    void listAll_data()
    {
        QTest::addColumn<QByteArray>("accounts");
        QTest::addColumn<int>("asker");
        QTest::addColumn<QByteArray>("rows");
        const QByteArray accounts = "admin:a=K\nadmin:b=K\nb=K\nc=L\n", a = "LIST:a:K:127.0.0.1\n",
                         b = "LIST:b:K:127.0.0.1\n";
        QTest::newRow("administrator") << accounts << 0 << a + b + "LIST:c:*:127.0.0.1\n";
        QTest::newRow("mark taken back") << accounts << 1 << a + b;
        QTest::newRow("ordinary ID") << accounts << 2 << QByteArray("LIST:c:L:127.0.0.1\n");
        QTest::newRow("no accounts file") << QByteArray() << 0 << a + b;
    }
    // LIST:ALL shows every group to administrators only, hiding the keys of other groups, and
    // nothing before a login; the AUTH:3 answering the malformed request shows that nothing
    // else came before it.
    void listAll()
    {
        QFETCH(QByteArray, accounts);
        QFETCH(int, asker);
        QFETCH(QByteArray, rows);
        QVERIFY(host.start({}, accounts) && add(4));
        for (size_t n = 0; n < 3; ++n)
            QVERIFY(clients[n]->login(QByteArray(1, "abc"[n]), n < 2 ? "K" : "L"));
        for (size_t n : {size_t(asker), size_t(3)})
            clients[n]->send("LIST:ALL\nAUTH:\n");
        expectExactly(*clients[size_t(asker)], rows + "AUTH:3\n");
        expectExactly(*clients[3], "AUTH:3\n");
    }
    void slowReaderDropped()
    {
        QVERIFY(startWith("KKK"));
        HostClient &a = *clients[0], &b = *clients[1], &slow = *clients[2];
        // The slow client takes nothing off the network; b reads all of 64 MiB, 1 MiB behind.
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
    // Strangers are let go: the oldest when a newcomer finds every place taken, and any when
    // silent for too long without a login; a logged-in connection stays, and a freed place
    // takes the next one.
    void strangersLetGo()
    {
        QVERIFY(host.start({"--max-connections", "2", "--idle-timeout", "1"}));
        QVERIFY(add(3));
        QTRY_VERIFY_WITH_TIMEOUT(clients[0]->closed, Patience);
        QVERIFY(clients[1]->login("b", "K"));
        clients[2]->send("DATA:1:41\n");
        QTRY_VERIFY_WITH_TIMEOUT(clients[2]->closed, Patience);
        QCOMPARE(clients[2]->received, QByteArray());
        QVERIFY(add(1) && clients[3]->login("c", "K"));
        QVERIFY(add(1)); // every place held by a copy
        QTRY_VERIFY_WITH_TIMEOUT(clients[4]->closed, Patience);
        clients[1]->send("AUTH:\n");
        expectExactly(*clients[1], "AUTH:3\n");
    }
    void idleFlood_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("strangersLeft");
        QTest::newRow("per-address limit") << QStringList() << 8;
    }
    // 2100 idle strangers from one address keep neither a copy out nor a logged-in one out:
    // the newest 8 stay.
    void idleFlood()
    {
        QFETCH(QStringList, options);
        QFETCH(int, strangersLeft);
        QVERIFY(startWith("K", options));
        add(2100, false);
        QTRY_VERIFY_WITH_TIMEOUT(host.log().contains("connect #2101 "), Patience);
        const auto connected = [this] {
            return std::count_if(clients.begin(), clients.end(), [](const auto& c) {
                return c->socket.state() == QAbstractSocket::ConnectedState;
            });
        };
        QTRY_COMPARE_WITH_TIMEOUT(int(connected()), 1 + strangersLeft, Patience);
        QElapsedTimer timer;
        timer.start();
        add(1, false, "AUTH:g:K\n");
        expectExactly(*clients.back(), "AUTH:0\n");
        qInfo("login beside 2100 idle connections: %lld ms", timer.elapsed());
        QVERIFY(timer.elapsed() < 1000);
        clients[0]->send("DATA:1:41\n");
        expectExactly(*clients.back(), "AUTH:0\nDATA:1:41\n");
    }
    // Every copy at once from one address, as behind a NAT after the service restarts.
    void thousandCopiesAtOnce()
    {
        QVERIFY(host.start());
        QElapsedTimer timer;
        timer.start();
        add(1000, false, "AUTH:c:K\n");
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(clients.begin(), clients.end(),
                        [](const auto& c) { return c->received == "AUTH:0\n"; }),
            20000);
        qInfo("1000 copies logged in at once: %lld ms", timer.elapsed());
    }
    void stopOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
    }
    // A signal ends the service cleanly and closes its connections.
    void stopOnSignal()
    {
        QFETCH(int, signalNumber);
        QVERIFY(startWith("K"));
        QCOMPARE(::kill(pid_t(host.process().processId()), signalNumber), 0);
        QVERIFY(host.process().waitForFinished(Patience));
        QCOMPARE(host.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.process().exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(clients[0]->closed, Patience);
    }

private:
    // Without wait, returns at once: first goes out once connected.
    bool add(int count, bool wait = true, const QByteArray& first = {})
    {
        for (int i = 0; i < count; ++i) {
            clients.push_back(std::make_unique<HostClient>());
            if (!clients.back()->connectTo(host.port(), wait))
                return false;
            clients.back()->socket.write(first);
        }
        return true;
    }
    // Starts the service with one client per character of keys: client i logs in as ids[i]
    // with that key, or not at all for '-'.
    bool startWith(const QByteArray& keys, const QStringList& options = {},
                   const QByteArray& ids = "abcde")
    {
        if (!host.start(options) || !add(int(keys.size())))
            return false;
        for (int i = 0; i < keys.size(); ++i)
            if (keys[i] != '-' && !clients[size_t(i)]->login(ids.mid(i, 1), keys.mid(i, 1)))
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
