#include "TestRegistry.h"
#include "core/SocketControl.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <functional>
#include <memory>

namespace {

constexpr int Patience = 20000;
const QHostAddress Loopback(QHostAddress::LocalHost);

} // namespace

// The socket control against real connections on 127.0.0.1.
class TestSocketControl : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        listener = std::make_unique<SocketControl>("wsocLan");
        listener->setBindAddress(Loopback);
        listener->setLocalPort(0);
        QVERIFY(listener->Listen());
        port = listener->LocalPort();
        QVERIFY(port > 0);
    }
    void cleanup() { listener.reset(); }
    void characterSplitBetweenReads_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cut");
        QTest::newRow("3-byte, 1 + 2") << "\u3042Z" << 1;
        QTest::newRow("3-byte, 2 + 1") << "\u3042Z" << 2;
        QTest::newRow("4-byte, 3 + 1") << "\U0001F600\n" << 3;
    }
    void characterSplitBetweenReads()
    {
        QFETCH(QString, text);
        QFETCH(int, cut);
        SocketControl server("wsocServer");
        QTcpSocket peer;
        peer.connectToHost(Loopback, quint16(port));
        QVERIFY(accept(server, [&] { return peer.state() == QAbstractSocket::ConnectedState; }));
        QSignalSpy arrivals(&server, &SocketControl::DataArrival);
        const QByteArray bytes = text.toUtf8();
        peer.write(bytes.left(cut));
        QVERIFY(arrivals.wait(Patience));
        QString got = server.GetData();
        QCOMPARE(got, QString());
        peer.write(bytes.mid(cut));
        QTRY_COMPARE_WITH_TIMEOUT(got += server.GetData(), text, Patience);
    }
    void closeRightAfterLargeSend()
    {
        SocketControl client("wsocLan");
        SocketControl server("wsocServer");
        QVERIFY(client.Connect("127.0.0.1", port));
        QVERIFY(accept(server, [&] { return client.State() == SocketControl::Connected; }));
        QString sent;
        for (int i = 0; sent.size() < 8 * 1024 * 1024; ++i)
            sent += QString("DATA:%1:%2\n").arg(i % 256).arg(QString(i % 256 * 2, 'F'));
        QStringList events;
        QString got;
        connect(&server, &SocketControl::DataArrival, [&] {
            events << "data";
            got += server.GetData();
        });
        connect(&server, &SocketControl::CloseEvent, [&] { events << "close"; });

        // Every queued byte still reaches the peer, before its close event.
        QVERIFY(client.SendData(sent));
        QVERIFY(client.bytesToWrite() > 0);
        client.Close();
        QTRY_VERIFY_WITH_TIMEOUT(events.contains("close"), 60000);
        QCOMPARE(events.last(), QString("close"));
        QCOMPARE(got.size(), sent.size());
        QVERIFY(got == sent);
    }
    // A connected control reads ahead only so far while nobody takes the received text, and
    // every byte still comes, in order, once it is taken again.
    void readsAheadOnlySoFarAndLosesNothing()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        SocketControl control(QStringLiteral("wsocLan"));
        QSignalSpy connected(&control, &SocketControl::ConnectEvent);
        QVERIFY(control.Connect(QStringLiteral("127.0.0.1"), server.serverPort()));
        QVERIFY(server.waitForNewConnection(Patience));
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, Patience);

        QByteArray sent;
        for (int i = 0; sent.size() < 8 * SocketControl::ReadAheadLimit; ++i)
            sent += QByteArray::number(i) + '\n';
        peer->write(sent);
        QSignalSpy arrivals(&control, &SocketControl::DataArrival);
        QTRY_VERIFY_WITH_TIMEOUT(control.BytesReceived() >= SocketControl::ReadAheadLimit,
                                 Patience);
        QTest::qWait(50); // more has no room: it stays with the socket and the kernel
        QVERIFY(control.BytesReceived() < 3 * SocketControl::ReadAheadLimit);

        QByteArray got;
        for (QDeadlineTimer limit(30000); got.size() < sent.size() && !limit.hasExpired();) {
            got += control.GetData().toUtf8();
            if (got.size() < sent.size())
                arrivals.wait(1000);
        }
        QCOMPARE(got.size(), sent.size());
        QVERIFY(got == sent);
    }

private:
    // Lets server take the next connection request, until it and the other end are connected.
    bool accept(SocketControl& server, const std::function<bool()>& otherEndUp)
    {
        const QMetaObject::Connection taking = connect(
            listener.get(), &SocketControl::ConnectionRequest, &server, &SocketControl::Accept);
        const bool ok = QTest::qWaitFor(
            [&] { return server.State() == SocketControl::Connected && otherEndUp(); }, Patience);
        disconnect(taking);
        return ok;
    }

    std::unique_ptr<SocketControl> listener;
    int port = 0;
};

NIRVEX_TEST(TestSocketControl)
#include "tst_socketcontrol.moc"
