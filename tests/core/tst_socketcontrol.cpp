#include "TestRegistry.h"
#include "core/SocketControl.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

namespace {

constexpr int Patience = 20000;

} // namespace

// The socket control against real connections on 127.0.0.1.
class TestSocketControl : public QObject {
    Q_OBJECT
private slots:
    // Every byte queued before a close still reaches the peer, before its close event.
    void closeRightAfterLargeSend()
    {
        SocketControl listener(QStringLiteral("wsocLan"));
        listener.setBindAddress(QHostAddress(QHostAddress::LocalHost));
        listener.setLocalPort(0);
        QVERIFY(listener.Listen());
        SocketControl client(QStringLiteral("wsocLan"));
        SocketControl server(QStringLiteral("wsocServer"));
        connect(&listener, &SocketControl::ConnectionRequest, &server, &SocketControl::Accept);
        QVERIFY(client.Connect(QStringLiteral("127.0.0.1"), listener.LocalPort()));
        QTRY_VERIFY_WITH_TIMEOUT(server.State() == SocketControl::Connected &&
                                     client.State() == SocketControl::Connected,
                                 Patience);
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
};

NIRVEX_TEST(TestSocketControl)
#include "tst_socketcontrol.moc"
