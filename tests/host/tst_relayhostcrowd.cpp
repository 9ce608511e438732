#include "HostClient.h"
#include "HostProcess.h"
#include "TestRegistry.h"

#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int Patience = 60000;

std::vector<std::unique_ptr<HostClient>> connecting(quint16 port, int count,
                                                    const QByteArray& first = {})
{
    std::vector<std::unique_ptr<HostClient>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<HostClient>());
        clients.back()->connectTo(port, false);
        clients.back()->socket.write(first);
    }
    return clients;
}

int countIn(const std::vector<std::unique_ptr<HostClient>>& clients,
            QAbstractSocket::SocketState state)
{
    return int(std::count_if(clients.begin(), clients.end(), [state](const auto& client) {
        return client->socket.state() == state;
    }));
}

} // namespace

// Many connections at once from one address: strangers that never log in cannot keep copies
// out or push logged-in ones out, and a crowd of copies logging in together gets in quickly.
class TestRelayHostCrowd : public QObject {
    Q_OBJECT

    HostProcess host;

private slots:
    void initTestCase()
    {
        struct rlimit limit {};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &limit) == 0);
        const rlim_t wanted = 4096;
        if (limit.rlim_cur < wanted) {
            limit.rlim_cur = qMin(wanted, limit.rlim_max);
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        if (limit.rlim_cur < wanted)
            QSKIP("needs 4096 open files");
    }
    void cleanup()
    {
        host.kill();
        if (QTest::currentTestFailed())
            qWarning("service log:\n%s", host.log().right(4000).constData());
    }

    void idleFloodFromOneAddress()
    {
        QVERIFY(host.start());
        HostClient partner;
        QVERIFY(partner.connectTo(host.port()) && partner.login("p", "K"));
        const auto flood = connecting(host.port(), 2100);
        QTRY_COMPARE_WITH_TIMEOUT(countIn(flood, QAbstractSocket::ConnectingState) +
                                      countIn(flood, QAbstractSocket::HostLookupState),
                                  0, Patience);
        // The service keeps the newest 8 of one address's strangers.
        QTRY_COMPARE_WITH_TIMEOUT(countIn(flood, QAbstractSocket::ConnectedState), 8, Patience);

        // Waits in the event loop: the service's log must keep flowing.
        QElapsedTimer timer;
        timer.start();
        const auto genuine = connecting(host.port(), 1, "AUTH:g:K\n");
        QTRY_COMPARE_WITH_TIMEOUT(genuine[0]->received, QByteArray("AUTH:0\n"), Patience);
        const qint64 ms = timer.elapsed();
        qInfo("login beside 2100 idle connections: %lld ms", ms);
        QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
        partner.send("DATA:1:41\n");
        QTRY_COMPARE_WITH_TIMEOUT(genuine[0]->received, QByteArray("AUTH:0\nDATA:1:41\n"),
                                  Patience);
    }

    void strangersMakeRoom_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("tableFull");
        QTest::newRow("table full")
            << QStringList{"--max-connections", "4", "--max-pending-per-address", "100"} << true;
        QTest::newRow("address at its limit")
            << QStringList{"--max-connections", "100", "--max-pending-per-address", "1"} << false;
    }
    // Three copies log in, then strangers come one after the other: all but the newest are let
    // go, never a copy, and a fourth copy still gets in. A fifth finds every place held by a
    // copy when the table is full.
    void strangersMakeRoom()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, tableFull);
        QVERIFY(host.start(options));
        std::vector<std::unique_ptr<HostClient>> copies(5), strangers(20);
        for (size_t i = 0; i < 3; ++i) {
            copies[i] = std::make_unique<HostClient>();
            QVERIFY(copies[i]->connectTo(host.port()) && copies[i]->login("c", "K"));
        }
        for (auto& stranger : strangers) {
            stranger = std::make_unique<HostClient>();
            QVERIFY(stranger->connectTo(host.port()));
        }
        const auto last = std::move(strangers.back());
        strangers.pop_back();
        QTRY_COMPARE_WITH_TIMEOUT(countIn(strangers, QAbstractSocket::UnconnectedState), 19,
                                  Patience);
        QCOMPARE(last->socket.state(), QAbstractSocket::ConnectedState);
        copies[0]->send("DATA:1:41\n");
        for (size_t i : {1, 2})
            QTRY_COMPARE_WITH_TIMEOUT(copies[i]->received, QByteArray("DATA:1:41\n"), Patience);

        copies[3] = std::make_unique<HostClient>();
        QVERIFY(copies[3]->connectTo(host.port()) && copies[3]->login("d", "K"));
        QTRY_COMPARE_WITH_TIMEOUT(last->socket.state(), QAbstractSocket::UnconnectedState,
                                  Patience);
        copies[4] = std::make_unique<HostClient>();
        QVERIFY(copies[4]->connectTo(host.port()));
        if (tableFull)
            QTRY_VERIFY_WITH_TIMEOUT(copies[4]->closed, Patience);
        else
            QVERIFY(copies[4]->login("e", "K"));
        copies[1]->send("DATA:1:42\n");
        QTRY_COMPARE_WITH_TIMEOUT(copies[3]->received, QByteArray("DATA:1:42\n"), Patience);
        QVERIFY(!copies[0]->closed && !copies[2]->closed);
    }

    // Every copy at once, as after the service restarts, all from one address as behind a NAT:
    // none is let go before it had time to log in, and none waits for the system to retry.
    void thousandCopiesAtOnce()
    {
        QVERIFY(host.start());
        QElapsedTimer timer;
        timer.start();
        const auto copies = connecting(host.port(), 1000, "AUTH:c:K\n");
        const auto loggedIn = [&] {
            return int(std::count_if(copies.begin(), copies.end(), [](const auto& copy) {
                return copy->received == "AUTH:0\n";
            }));
        };
        QTRY_COMPARE_WITH_TIMEOUT(loggedIn(), 1000, 20000);
        qInfo("1000 copies logged in at once: %lld ms", timer.elapsed());
    }
};

NIRVEX_TEST(TestRelayHostCrowd)
#include "tst_relayhostcrowd.moc"
