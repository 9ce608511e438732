#include "../core/RelayCopy.h"
#include "HostProcess.h"
#include "NetNamespace.h"
#include "TestRegistry.h"

#include "core/SocketControl.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

constexpr int Patience = 20000;
// A dead peer must be noticed in about 30 s; this leaves room for a busy machine.
constexpr int DeadWithinMs = 42000;

} // namespace

// Peers that vanish without closing and peers that only stop reading, over real connections.
class TestDeadPeer : public QObject {
    Q_OBJECT
private slots:
    void blackholedPeerEndsTheLink_data()
    {
        QTest::addColumn<bool>("sending");
        QTest::newRow("bytes waiting for the peer") << true;
        QTest::newRow("idle connection") << false;
    }
    // A copy in the host role and the relay host inside a namespace whose traffic is then cut:
    // each side drops the other.
    void blackholedPeerEndsTheLink()
    {
        QFETCH(bool, sending);
        NetNamespace ns;
        if (!ns.ready)
            QSKIP("making a network namespace needs root or CAP_NET_ADMIN");
        QProcess host;
        host.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList command = ns.inside(
            {HostProcess::program(), "--listen", ns.inner, "--port", "0", "--idle-timeout", "0"});
        host.start(command.first(), command.mid(1));
        const auto stop = qScopeGuard([&] { host.kill(), host.waitForFinished(Patience); });
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += host.readAll()).contains("listening on"), Patience);
        const int port = log.mid(log.lastIndexOf(':') + 1).trimmed().toInt();
        QVERIFY(port > 0);

        FakeSerialPort source(QStringLiteral("fake:deadPeer"));
        RelayCopy c({{1, source.path()}}, DestinationKind::Lan, LanRole::Host);
        c.core.wsocLan()->setBindAddress(QHostAddress());
        c.settings.relayHost.host = ns.inner;
        c.settings.relayHost.port = port;
        QVERIFY(c.start());
        QTRY_VERIFY_WITH_TIMEOUT(c.lanLamp && c.link, Patience);
        QVERIFY(source.pushBytes(sample(4096)));
        QTest::qWait(500);

        QVERIFY(ns.blackhole());
        QElapsedTimer since;
        since.start();
        QTimer feed;
        if (sending) {
            connect(&feed, &QTimer::timeout, [&] { source.pushBytes(sample(200)); });
            feed.start(500);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!c.link, DeadWithinMs);
        qInfo("copy saw the link end %lld ms after the cut", since.elapsed());
        QVERIFY(!c.lanLamp);
        feed.stop();
        QTRY_VERIFY_WITH_TIMEOUT((log += host.readAll()).contains("no answer"), DeadWithinMs);
        qInfo("relay host dropped the copy %lld ms after the cut", since.elapsed());
    }

    // A peer that holds its window shut for a minute is alive: the connection stays, and once
    // it reads again every byte arrives in order.
    void slowPeerKeptWithoutLoss()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        SocketControl sender(QStringLiteral("wsocLan"));
        QSignalSpy closed(&sender, &SocketControl::CloseEvent);
        int failed = 0;
        connect(&sender, &SocketControl::Error, [&] { ++failed; });
        QVERIFY(sender.Connect(QStringLiteral("127.0.0.1"), listener.serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), Patience);
        QTcpSocket* reader = listener.nextPendingConnection();
        reader->setReadBufferSize(4096);
        QTRY_COMPARE_WITH_TIMEOUT(sender.State(), int(SocketControl::Connected), Patience);

        const QByteArray sent = sample(24 * 1024 * 1024, 7);
        QVERIFY(sender.SendBytes(sent));
        QTest::qWait(60000);
        QCOMPARE(closed.count(), 0);
        QCOMPARE(failed, 0);
        QCOMPARE(sender.State(), int(SocketControl::Connected));
        // Still queued here: the reader's window was shut all along.
        QVERIFY(sender.bytesToWrite() > 0);

        reader->setReadBufferSize(0);
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += reader->readAll()).size() >= sent.size(), Patience);
        QVERIFY(got == sent);
        QCOMPARE(closed.count(), 0);
    }
};

NIRVEX_TEST(TestDeadPeer)
#include "tst_deadpeer.moc"
