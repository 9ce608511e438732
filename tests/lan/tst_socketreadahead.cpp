#include "TestRegistry.h"
#include "core/SocketControl.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

// A connected control reads ahead only so far while its window leaves the received text
// untaken, and every byte still comes, in order, once the window takes it again.
class TestSocketReadAhead : public QObject {
    Q_OBJECT

private slots:
    void readsAheadOnlySoFarAndLosesNothing()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        SocketControl control(QStringLiteral("wsocLan"));
        QSignalSpy connected(&control, &SocketControl::ConnectEvent);
        QVERIFY(control.Connect(QStringLiteral("127.0.0.1"), server.serverPort()));
        QVERIFY(server.waitForNewConnection(10000));
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);

        QByteArray sent;
        for (int i = 0; sent.size() < 8 * SocketControl::ReadAheadLimit; ++i)
            sent += QByteArray::number(i) + '\n';
        peer->write(sent);
        QSignalSpy arrivals(&control, &SocketControl::DataArrival);
        QTRY_VERIFY_WITH_TIMEOUT(control.BytesReceived() >= SocketControl::ReadAheadLimit, 10000);
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

NIRVEX_TEST(TestSocketReadAhead)
#include "tst_socketreadahead.moc"
