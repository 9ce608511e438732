#include "TestRegistry.h"
#include "lan/SocketControl.h"

#include <QSignalSpy>
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
        QCOMPARE(listener->State(), int(SocketControl::Listening));
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
        QCOMPARE(arrivals.first().first().toLongLong(), qint64(cut));
        QCOMPARE(server.BytesReceived(), qint64(cut));
        QString got = server.GetData();
        QCOMPARE(got, QString());
        QCOMPARE(server.BytesReceived(), qint64(0));
        peer.write(bytes.mid(cut));
        QTRY_COMPARE_WITH_TIMEOUT(got += server.GetData(), text, Patience);

        QVERIFY(server.SendData(text));
        QTRY_COMPARE_WITH_TIMEOUT(peer.bytesAvailable(), qint64(bytes.size()), Patience);
        QCOMPARE(peer.readAll(), bytes);
    }
    void closeRightAfterLargeSend()
    {
        SocketControl client("wsocLan");
        SocketControl server("wsocServer");
        QVERIFY(connectPair(client, server));
        QSignalSpy clientClosed(&client, &SocketControl::CloseEvent);
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
        QCOMPARE(client.State(), int(SocketControl::Closed));
        QTRY_VERIFY_WITH_TIMEOUT(events.contains("close"), 60000);
        QCOMPARE(events.last(), QString("close"));
        QCOMPARE(got.size(), sent.size());
        QVERIFY(got == sent);
        QCOMPARE(server.State(), int(SocketControl::PeerClosing));
        QCOMPARE(clientClosed.count(), 0);

        // The window closes the control and takes the next peer on it.
        server.Close();
        QCOMPARE(server.State(), int(SocketControl::Closed));
        SocketControl second("wsocLan");
        QVERIFY(connectPair(second, server));
    }
    void listenOnPortInUse()
    {
        SocketControl second("wsocLan");
        QList<SocketErrorInfo> errors;
        connect(&second, &SocketControl::Error, [&](SocketErrorInfo& e) {
            e.CancelDisplay = true;
            errors.append(e);
        });
        second.setBindAddress(Loopback);
        second.setLocalPort(port);
        QVERIFY(!second.Listen());
        QCOMPARE(int(second.lastError().Number), 10048);
        QCOMPARE(second.State(), int(SocketControl::ErrorState));
        QCOMPARE(errors.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, Patience);
        QCOMPARE(int(errors.first().Number), 10048);

        // A Close before the event is delivered cancels it.
        second.Close();
        QVERIFY(!second.Listen());
        second.Close();
        QCoreApplication::processEvents();
        QCOMPARE(errors.size(), 1);
        second.setLocalPort(0);
        QVERIFY(second.Listen());
        QCOMPARE(second.State(), int(SocketControl::Listening));
    }
    void refusedCalls()
    {
        SocketControl control("wsocServer");
        QVERIFY(!control.SendData("x\n"));
        QCOMPARE(int(control.lastError().Number), 10057);
        QCOMPARE(control.State(), int(SocketControl::Closed));
        QVERIFY(!control.Accept(123456));
        QCOMPARE(control.State(), int(SocketControl::Closed));
        QVERIFY(!control.Connect(" ", 1000));
        QCOMPARE(int(control.lastError().Number), 11001);
        QCOMPARE(control.State(), int(SocketControl::ErrorState));

        QVERIFY(!listener->Connect("127.0.0.1", port));
        QCOMPARE(int(listener->lastError().Number), 10022);
        QVERIFY(!listener->Listen());
        QCOMPARE(listener->State(), int(SocketControl::Listening));
    }
    void unacceptedRequestsAreClosed()
    {
        QList<int> requests;
        connect(listener.get(), &SocketControl::ConnectionRequest,
                [&](int requestID) { requests << requestID; });
        QTcpSocket first;
        first.connectToHost(Loopback, quint16(port));
        QTRY_COMPARE_WITH_TIMEOUT(requests.size(), 1, Patience);
        QTcpSocket second;
        second.connectToHost(Loopback, quint16(port));
        QTRY_COMPARE_WITH_TIMEOUT(requests.size(), 2, Patience);
        QVERIFY(requests[0] != requests[1]);

        // A newer request replaces the unanswered one.
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QAbstractSocket::UnconnectedState, Patience);
        SocketControl server("wsocServer");
        QVERIFY(!server.Accept(requests[0]));
        QCOMPARE(server.State(), int(SocketControl::Closed));

        // Closing the listener closes the request still waiting.
        listener->Close();
        QCOMPARE(listener->State(), int(SocketControl::Closed));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, Patience);
        QVERIFY(!server.Accept(requests[1]));
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
    bool connectPair(SocketControl& client, SocketControl& server)
    {
        return client.Connect("127.0.0.1", port) &&
               accept(server, [&] { return client.State() == SocketControl::Connected; });
    }

    std::unique_ptr<SocketControl> listener;
    int port = 0;
};

NIRVEX_TEST(TestSocketControl)
#include "tst_socketcontrol.moc"
