#include "HeldPort.h"
#include "HostClient.h"
#include "HostProcess.h"
#include "LinkedPty.h"
#include "PtyPair.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <time.h>

namespace {

constexpr int Patience = 30000;
const QString started = QStringLiteral("接続しました！");
const QString refused = QStringLiteral("IDが正しくないため、接続を拒否されました。");
const QString vanished = QStringLiteral("[8010:デバイスが切断されました]");
const QString refusedConnect = QStringLiteral("wsocLan:10061:");
const QByteArray goodLine = "DATA:3:4F4B21\n";

// The bytes of a literal, NULs included.
template <qsizetype N> QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// The CPU time spent in a second of the event loop, as a share of the time this thread could
// run (0 idle, about 1 spinning): waits for a CPU held by others do not count as busy.
double busyShare()
{
    const auto cpuNs = [] {
        timespec now{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    };
    const auto waitNs = [] { // runnable, waiting for a CPU; 0 where the kernel does not say
        QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
        return stat.open(QIODevice::ReadOnly)
                   ? stat.readAll().simplified().split(' ').value(1).toLongLong()
                   : 0LL;
    };
    QElapsedTimer wall;
    const qint64 cpuBefore = cpuNs(), waitBefore = waitNs();
    wall.start();
    QTest::qWait(1000);
    const qint64 runnable = wall.nsecsElapsed() - (waitNs() - waitBefore);
    return double(cpuNs() - cpuBefore) / double(qMax<qint64>(runnable, 1));
}

// After a fault: the relay says what happened and does not spin while it waits.
bool settled(const RelayCopy& c, const QString& status)
{
    const bool said = QTest::qWaitFor([&] { return c.status.startsWith(status); }, Patience);
    const double busy = busyShare();
    if (said && busy < 0.3)
        return true;
    qWarning("status \"%s\", busy %.0f%% of the time", qPrintable(c.status), busy * 100);
    return false;
}

} // namespace

// Faults from outside while a relay runs: ports and peers that vanish, a relay host that dies
// or refuses, and a peer that sends garbage. Each ends with a relay that is still running,
// says so on the status signal, idles, and relays again after a stop and a start.
class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { host.kill(); }

    void serialPortClosedMidStream_data()
    {
        QTest::addColumn<int>("victim"); // the port whose device goes away
        QTest::addColumn<QString>("status");
        QTest::newRow("source") << 1 << "シリアルポートエラー " + vanished;
        QTest::newRow("destination") << 2 << "転送先シリアルポートエラー " + vanished;
    }
    void serialPortClosedMidStream()
    {
        QFETCH(int, victim);
        std::unique_ptr<PtyPair> pty[3] = {nullptr, std::make_unique<PtyPair>(),
                                           std::make_unique<PtyPair>()};
        RelayCopy c({{1, pty[1]->slavePath()}, {2, pty[2]->slavePath()}});
        QVERIFY(c.start());
        QVERIFY(pty[1]->writeAll(sample(256 * 1024, 1)));
        QVERIFY(pty[2]->readCount(4096).size() >= 4096); // the stream flows
        pty[victim]->closeMaster(); // the other side now waits for it to come back
        QFETCH(QString, status);
        QVERIFY(settled(c, status));
        QVERIFY(c.core.RelayRunning()); // until the user stops it

        c.core.StopRelay(); // a port that still has bytes queued gets its second to send them
        QTRY_VERIFY_WITH_TIMEOUT(c.portsClosed(), 3000);
        for (int n : {1, 2}) {
            pty[n] = std::make_unique<PtyPair>();
            c.ports.setEntry(n, pty[n]->slavePath());
        }
        QVERIFY(c.start());
        QCOMPARE(c.status, started);
        const QByteArray again = sample(8192, 3);
        QVERIFY(pty[1]->writeAll(again));
        QCOMPARE(pty[2]->readCount(again.size()), again);
    }

    // A source adapter unplugged and plugged in again behind its link while a LAN relay runs:
    // the link stays up, what the peer sent meanwhile arrives once, then bytes flow both ways.
    void sourceComesBackBehindItsLink()
    {
        LinkedPty adapter;
        PtyPair b;
        RelayCopy server({{1, b.slavePath()}}, DestinationKind::Lan, LanRole::Server);
        QVERIFY(adapter.line && server.start());
        RelayCopy me({{1, adapter.path}}, DestinationKind::Lan, LanRole::Client);
        me.settings.peerPort = server.listeningPort();
        QVERIFY(me.start());
        QTRY_VERIFY_WITH_TIMEOUT(me.lanLamp && server.lanLamp, Patience);
        const QSignalSpy links(&me.core, &RelayCore::linkChanged);
        QVERIFY(adapter.line->writeAll("before"));
        QCOMPARE(b.readCount(6), QByteArray("before"));
        adapter.line->closeMaster();
        QVERIFY(settled(me, "シリアルポートエラー " + vanished));
        QVERIFY(b.writeAll("while away") && adapter.plugIn());
        QTRY_COMPARE_WITH_TIMEOUT(me.status, "シリアルポート COM1 を開き直しました。", Patience);
        QCOMPARE(adapter.line->readCount(10), QByteArray("while away"));
        QVERIFY(adapter.line->writeAll("after"));
        QCOMPARE(b.readCount(5), QByteArray("after"));
        QVERIFY(links.isEmpty() && me.lanLamp && server.lanLamp);
    }

    // A destination port back from an unplug, once no other program holds it, gets its RTS and
    // DTR as they were and what the source received meanwhile; a stop ends the wait for it.
    void destinationComesBackWithItsLines()
    {
        FakeSerialPort source("fake:replug1"), gone("fake:replug2");
        RelayCopy c({{1, source.path()}, {2, gone.path()}});
        QVERIFY(c.start());
        source.setCts(true);
        source.setDsr(true);
        source.setDsr(false); // RTS on, DTR off against its default
        QTRY_VERIFY(gone.rts() && !gone.dtr());
        gone.vanish();
        QTRY_VERIFY(c.status.startsWith("転送先"));
        QVERIFY(source.pushBytes("kept"));
        gone.setOpenError(8005);
        gone.plugIn();
        QTest::qWait(2 * RelayCore::ReopenPollMs);
        QVERIFY(!gone.isOpen());
        gone.setOpenError(0);
        QTRY_COMPARE(c.status, "転送先シリアルポート COM2 を開き直しました。");
        QVERIFY(gone.rts() && !gone.dtr());
        QTRY_COMPARE(gone.written(), QByteArray("kept"));
        gone.vanish();
        QTRY_VERIFY(!gone.isOpen());
        c.core.StopRelay();
        gone.plugIn();
        QTest::qWait(2 * RelayCore::ReopenPollMs);
        QVERIFY(!gone.isOpen());
    }

    // The peer copy disappears at once, as a killed process would: its sockets are aborted
    // without its handlers running, then it is destroyed.
    void lanPeerKilledMidStream_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("status");
        // The client's next line tries the dead server; the server shows no text for a peer
        // that left, only the grey lamp.
        QTest::newRow("client loses its server") << 2 << refusedConnect;
        QTest::newRow("server loses its client") << 1 << started;
    }
    void lanPeerKilledMidStream()
    {
        QFETCH(int, role);
        const HeldPort held;
        const auto copy = [&](PtyPair& pty, int copyRole) {
            auto c = std::make_unique<RelayCopy>(QMap<int, QString>{{1, pty.slavePath()}},
                                                 DestinationKind::Lan, LanRole(copyRole));
            c->settings.listenPort = c->settings.peerPort = held.number();
            return c;
        };
        PtyPair a;
        const std::unique_ptr<RelayCopy> me = copy(a, role);
        std::unique_ptr<PtyPair> b;
        std::unique_ptr<RelayCopy> peer;
        const auto startPeer = [&] {
            peer.reset();
            b = std::make_unique<PtyPair>();
            peer = copy(*b, 3 - role);
            peer->start();
        };
        role == 2 ? (startPeer(), void(me->start())) : (void(me->start()), startPeer());
        QTRY_VERIFY_WITH_TIMEOUT(me->lanLamp && peer->lanLamp, Patience);
        QVERIFY(a.writeAll(sample(256 * 1024, 4)));
        QVERIFY(b->readCount(4096).size() >= 4096); // the stream flows

        for (SocketControl* control : {peer->core.wsocLan(), peer->core.wsocServer()}) {
            for (QTcpSocket* socket : control->findChildren<QTcpSocket*>()) {
                socket->blockSignals(true);
                socket->abort();
            }
        }
        peer.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!me->lanLamp && !me->link, Patience);
        if (role == 2) // the next line reconnects: nobody answers yet
            QVERIFY(a.writeAll("lost"));
        QFETCH(QString, status);
        QVERIFY(settled(*me, status));
        QVERIFY(me->core.RelayRunning());

        startPeer(); // a new server on the same port, or a new client
        if (role == 2)
            QVERIFY(a.writeAll("lost again")); // its flush connects; its own line is dropped
        QTRY_VERIFY_WITH_TIMEOUT(me->lanLamp && peer->lanLamp, Patience);
        QVERIFY(a.writeAll("through"));
        QByteArray got;
        for (QDeadlineTimer limit(Patience); !got.endsWith("through") && !limit.hasExpired();)
            got += b->readCount(1);
        QVERIFY(got.endsWith("through"));
    }

    void relayHostFaults_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("service killed and started again") << true;
        QTest::newRow("ID refused") << false;
    }
    void relayHostFaults()
    {
        QFETCH(bool, restart);
        const QByteArray accounts = "Guest=Right\npeer=Right\n";
        QVERIFY(host.start({}, accounts));
        HostClient peer;
        QVERIFY(peer.connectTo(host.port()) && peer.login("peer", "Right"));
        PtyPair a;
        RelayCopy c({{1, a.slavePath()}}, DestinationKind::Lan, LanRole::Host);
        c.settings.hostKey = restart ? QStringLiteral("Right") : QStringLiteral("Vorm");
        c.settings.relayHost.host = QStringLiteral("127.0.0.1");
        c.settings.relayHost.port = host.port();
        QVERIFY(c.start());

        if (restart) {
            QTRY_VERIFY_WITH_TIMEOUT(c.lanLamp, Patience);
            QVERIFY(a.writeAll(sample(256 * 1024, 6)));
            QTRY_VERIFY_WITH_TIMEOUT(peer.data().size() >= 4096, Patience); // the stream flows
            const quint16 port = host.port();
            host.kill();
            QTRY_VERIFY_WITH_TIMEOUT(!c.lanLamp && !c.link, Patience);
            QVERIFY(a.writeAll("lost")); // the next line reconnects: nobody answers yet
            QVERIFY(settled(c, refusedConnect));
            QVERIFY(host.start({}, accounts, port));
            QVERIFY(peer.connectTo(port) && peer.login("peer", "Right"));
            QVERIFY(a.writeAll("lost again")); // connects and logs in; its own line is dropped
            QTRY_VERIFY_WITH_TIMEOUT(c.lanLamp && c.link, Patience);
            QVERIFY(a.writeAll("through"));
            QTRY_VERIFY_WITH_TIMEOUT(peer.data().endsWith("through"), Patience);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(c.status, refused, Patience);
            QTRY_VERIFY_WITH_TIMEOUT(!c.link, Patience); // the service hung up
            QVERIFY(a.writeAll(sample(4096, 7)));        // kept, not sent
            QVERIFY(settled(c, refused));
            QVERIFY(!c.lanLamp && !c.core.Authenticated());
        }

        c.core.StopRelay();
        c.settings.hostKey = QStringLiteral("Right");
        QVERIFY(c.start());
        QTRY_VERIFY_WITH_TIMEOUT(c.lanLamp, Patience);
        const QByteArray again = sample(8192, 8);
        QVERIFY(a.writeAll(again));
        QTRY_VERIFY_WITH_TIMEOUT(peer.data().endsWith(again), Patience);
    }

    void peerSendsGarbage_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<bool>("heavy"); // also checks idling and a stop and start
        const auto row = [](const char* name, const QByteArray& text, const QByteArray& written,
                            bool heavy = false) {
            QTest::newRow(name) << text << written << heavy;
        };
        row("10 MB without LF", "DATA:3:" + QByteArray(10 * 1024 * 1024, 'A'), "", true);
        row("line at the limit", "DATA:1:41" + QByteArray(32767 - 9, '0') + '\n', "A");
        row("line one over the limit", "DATA:1:41" + QByteArray(32768 - 9, '0') + '\n', "");
        row("NUL and invalid UTF-8", raw("\0\xff\xfe\xc3\x28\x80\0\n"), "");
        row("cut UTF-8 before LF", raw("\xe3\x81\nDATA:1:41\n"), "A");
        row("lone CR", "DATA:1:41\rDATA:1:42\r", "A");
        row("CR before the keyword", "\rDATA:1:41\n", "");
        row("CR after the hex", "DATA:2:41\r\n", raw("A\0"));
        row("count rounds to 0", "DATA:0.5:41\n", "");
        row("count 32768", "DATA:32768:41\n", "");
        row("full-width hex digits", "DATA:1:\xef\xbc\x94\xef\xbc\x91\n", raw("\0"));
        row("lower-case hex", "DATA:1:ff\n", "\xff");
        row("hex too short", "DATA:3:41\n", raw("A\0\0"));
        row("odd digit at the end", "DATA:2:414\n", "A\x04");
        row("colon shifts the fields", "DATA:2:41:42\n", raw("A\0"));
        row("largest count", "DATA:32767:\n", QByteArray(32767, '\0'));
    }
    void peerSendsGarbage()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, written);
        PeerCopy p(LanRole::Client);
        QTRY_VERIFY_WITH_TIMEOUT(p.c.lanLamp && p.peer.connected(), Patience);
        p.peer.send(text);
        p.peer.send('\n' + goodLine); // ends whatever line the text left open
        QTRY_COMPARE_WITH_TIMEOUT(p.port.written(), written + "OK!", Patience);
        QFETCH(bool, heavy);
        if (!heavy)
            return;
        QVERIFY(settled(p.c, started));
        p.c.core.StopRelay();
        QVERIFY(p.c.start());
        QTRY_VERIFY_WITH_TIMEOUT(p.c.lanLamp && p.peer.connections() == 2, Patience);
        p.peer.send(goodLine);
        QTRY_COMPARE_WITH_TIMEOUT(p.port.written(), written + "OK!OK!", Patience);
    }

private:
    HostProcess host;
};

NIRVEX_TEST(TestFaults)
#include "tst_faults.moc"
