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
#include <QTcpSocket>
#include <QTest>

namespace {

constexpr int Patience = 20000;

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
        server.w->txtPort->setText(QStringLiteral("0"));
        client.w->cmbDest->setEditText(QStringLiteral("127.0.0.1"));
        server.click();
        client.w->txtServerPort->setText(QString::number(server.w->wsocLan->LocalPort()));
        client.click();
    }
    bool up() const { return server.lampOn() && client.lampOn(); }
};

} // namespace

// Two copies, or one copy and a scripted peer, relaying serial data over TCP.
class TestLanRelay : public QObject {
    Q_OBJECT
private slots:
    void bytesBothWays()
    {
        PtyPair a, b;
        QVERIFY(a.isValid() && b.isValid());
        LinkedCopies link(a.slavePath(), b.slavePath());
        QTRY_VERIFY_WITH_TIMEOUT(link.up(), Patience);
        for (PtyPair* in : {&a, &b}) {
            const QByteArray block = randomBytes(1024 * 1024);
            QVERIFY(in->writeAll(block));
            QCOMPARE((in == &a ? b : a).readCount(block.size()), block);
        }
    }

    void modemLinesCrossTheLink()
    {
        FakeSerialPort a(QStringLiteral("fake:lanServer")), b(QStringLiteral("fake:lanClient"));
        LinkedCopies link(a.path(), b.path());
        QTRY_VERIFY_WITH_TIMEOUT(link.up(), Patience);
        for (bool on : {true, false, true}) {
            a.setCts(on);
            QTRY_COMPARE_WITH_TIMEOUT(b.rts(), on, Patience);
            b.setDsr(on);
            QTRY_COMPARE_WITH_TIMEOUT(a.dtr(), on, Patience);
        }
    }

    void burstInFullLinesThenTailAndReconnect()
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

        peer.hangUp(); // the next line reconnects and is itself dropped
        QTRY_VERIFY_WITH_TIMEOUT(!c.lampOn() && !c.listEnabled(), Patience);
        QVERIFY(a.writeAll("x"));
        QTRY_VERIFY_WITH_TIMEOUT(peer.connections() == 2 && c.lampOn(), Patience);
        QVERIFY(a.writeAll("kept"));
        QTRY_COMPARE_WITH_TIMEOUT(peer.data(), QByteArray("kept"), Patience);
    }

    void serverServesOnePeerAtATime()
    {
        PtyPair a;
        LanCopy c(a.slavePath(), 1);
        c.w->txtPort->setText(QStringLiteral("0"));
        c.click();
        const int port = c.w->wsocLan->LocalPort();
        QVERIFY(port > 0);
        QTcpSocket first, second, third;
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
};

NIRVEX_TEST(TestLanRelay)
#include "tst_lanrelay.moc"
