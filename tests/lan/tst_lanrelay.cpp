#include "LanCopy.h"
#include "PtyPair.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "app/DropDownComboBox.h"
#include "app/IntervalTimer.h"
#include "lan/SocketControl.h"
#include "serial/FakeSerialPort.h"

#include <QLineEdit>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

constexpr int Patience = 20000;

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->generate());
    return bytes;
}

// A server-role copy and a client-role copy linked on 127.0.0.1, both started.
struct LinkedCopies {
    LanCopy server;
    LanCopy client;

    LinkedCopies(const QString& serverSource, const QString& clientSource)
        : server(serverSource, 1), client(clientSource, 2)
    {
        const QString port = QString::number(freePort());
        server.w->txtPort->setText(port);
        client.w->txtServerPort->setText(port);
        client.w->cmbDest->setEditText(QStringLiteral("127.0.0.1"));
        server.click();
        client.click();
    }
    bool up() const { return server.lampOn() && client.lampOn(); }
};

} // namespace

// Two copies, or one copy and a scripted peer, relaying serial data over TCP.
class TestLanRelay : public QObject {
    Q_OBJECT
private slots:
    void bytesBothWays_data()
    {
        QTest::addColumn<bool>("fromServer");
        QTest::newRow("1 MiB server to client") << true;
        QTest::newRow("1 MiB client to server") << false;
    }
    void bytesBothWays()
    {
        QFETCH(bool, fromServer);
        PtyPair a;
        PtyPair b;
        QVERIFY(a.isValid() && b.isValid());
        LinkedCopies link(a.slavePath(), b.slavePath());
        QTRY_VERIFY_WITH_TIMEOUT(link.up(), Patience);
        PtyPair& in = fromServer ? a : b;
        PtyPair& out = fromServer ? b : a;
        const QByteArray block = randomBytes(1024 * 1024);
        QVERIFY(in.writeAll(block));
        QCOMPARE(out.readCount(block.size()), block);
        QVERIFY(out.writeAll("back"));
        QCOMPARE(in.readCount(4), QByteArray("back"));
    }

    void modemLinesCrossTheLink()
    {
        FakeSerialPort a(QStringLiteral("fake:lanServer"));
        FakeSerialPort b(QStringLiteral("fake:lanClient"));
        LinkedCopies link(a.path(), b.path());
        QTRY_VERIFY_WITH_TIMEOUT(link.up(), Patience);
        for (bool on : {true, false, true}) {
            a.setCts(on);
            QTRY_COMPARE_WITH_TIMEOUT(b.rts(), on, Patience);
            b.setDsr(on);
            QTRY_COMPARE_WITH_TIMEOUT(a.dtr(), on, Patience);
        }
    }

    void burstLeavesInFullLinesThenTheTail()
    {
        PtyPair a;
        ScriptedPeer peer;
        LanCopy c(a.slavePath(), 2);
        c.w->txtServerPort->setText(QString::number(peer.port()));
        c.click();
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn() && peer.connected(), Patience);
        c.holdBurst();
        const QByteArray burst = randomBytes(300);
        QVERIFY(a.writeAll(burst));
        QTRY_COMPARE_WITH_TIMEOUT(c.app.SendCount, 44, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(peer.lines().size(), 1, Patience);
        QVERIFY(peer.lines().at(0).startsWith("DATA:256:"));
        c.w->tmrSer->setInterval(1); // the line falls quiet
        QTRY_COMPARE_WITH_TIMEOUT(peer.lines().size(), 2, Patience);
        QVERIFY(peer.lines().at(1).startsWith("DATA:44:"));
        QCOMPARE(peer.data(), burst);
    }

    void serverServesOnePeerAtATime()
    {
        PtyPair a;
        LanCopy c(a.slavePath(), 1);
        const int port = freePort();
        c.w->txtPort->setText(QString::number(port));
        c.click();
        QCOMPARE(c.w->wsocLan->LocalPort(), port);
        QTcpSocket first;
        QTcpSocket second;
        QTcpSocket third;
        first.connectToHost(QHostAddress::LocalHost, quint16(port));
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn() && c.listEnabled(), Patience);
        second.connectToHost(QHostAddress::LocalHost, quint16(port));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, Patience);
        first.write("DATA:2:4142\n");
        QCOMPARE(a.readCount(2), QByteArray("AB"));

        first.disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(!c.lampOn() && !c.listEnabled(), Patience);
        // A served socket that has failed does not lock the next peer out.
        c.w->wsocServer->setRemoteHost(QString());
        QVERIFY(!c.w->wsocServer->Connect());
        QCOMPARE(c.w->wsocServer->State(), int(SocketControl::ErrorState));
        third.connectToHost(QHostAddress::LocalHost, quint16(port));
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn() && c.listEnabled(), Patience);
        third.write("DATA:1:43\n");
        QCOMPARE(a.readCount(1), QByteArray("C"));
    }

    void clientReconnectsWithTheNextLine()
    {
        FakeSerialPort port(QStringLiteral("fake:lanReconnect"));
        ScriptedPeer peer;
        LanCopy c(port.path(), 2);
        c.w->txtServerPort->setText(QString::number(peer.port()));
        c.click();
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn() && c.listEnabled() && peer.connected(), Patience);
        peer.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!c.lampOn() && !c.listEnabled(), Patience);
        QVERIFY(port.pushBytes("lost")); // its flush starts the connection; its line is dropped
        QTRY_VERIFY_WITH_TIMEOUT(peer.connections() == 2 && c.lampOn(), Patience);
        QVERIFY(port.pushBytes("kept"));
        QTRY_COMPARE_WITH_TIMEOUT(peer.data(), QByteArray("kept"), Patience);
    }
};

NIRVEX_TEST(TestLanRelay)
#include "tst_lanrelay.moc"
