#include "LanCopy.h"
#include "PtyPair.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "core/SerialDevice.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"
#include "desktop/DropDownComboBox.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>

namespace {

constexpr int Patience = 20000;

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes)
        b = char(QRandomGenerator::global()->generate());
    return bytes;
}

// This process's resident memory in KiB.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmRSS:");
    return at < 0 ? -1 : text.mid(at + 6).trimmed().split(' ').value(0).toLongLong();
}

// A server-role copy and a client-role copy linked on 127.0.0.1, both started.
struct LinkedCopies {
    LanCopy server;
    LanCopy client;

    LinkedCopies(const QString& serverSource, const QString& clientSource)
        : server(serverSource, 1), client(clientSource, 2)
    {
        server.w->findChild<QLineEdit*>("txtPort")->setText(QStringLiteral("0"));
        client.w->findChild<QComboBox*>("cmbDest")->setEditText(QStringLiteral("127.0.0.1"));
        server.click();
        client.w->findChild<QLineEdit*>("txtServerPort")
            ->setText(QString::number(server.w->wsocLan->LocalPort()));
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

    // Short lines that each ask for 32767 bytes, sent by the tens of thousands at once while
    // the far end of the port does not read: they wait as text, not as bytes.
    void floodOfLongDataLinesStaysBounded_data()
    {
        QTest::addColumn<int>("role");
        QTest::newRow("server role") << 1;
        QTest::newRow("host role") << 3;
    }
    void floodOfLongDataLinesStaysBounded()
    {
        QFETCH(int, role);
        PtyPair a;
        LanCopy c(a.slavePath(), role);
        ScriptedPeer host;
        QTcpSocket peer;
        if (role == 1) {
            c.w->findChild<QLineEdit*>("txtPort")->setText(QStringLiteral("0"));
            c.click();
            peer.connectToHost(QHostAddress::LocalHost, quint16(c.w->wsocLan->LocalPort()));
        } else {
            c.w->Lan.setRelayHostEndpoint(QStringLiteral("127.0.0.1"), host.port());
            c.click();
            QTRY_VERIFY_WITH_TIMEOUT(host.connected(), Patience);
            host.send("AUTH:0\n");
        }
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn(), Patience);

        constexpr int Lines = 60000;
        constexpr qsizetype Count = 32767;
        QByteArray flood; // line i carries i in its first two bytes; the rest are zeros
        for (int i = 0; i < Lines; ++i)
            flood += "DATA:32767:" + QByteArray::number(i, 16).rightJustified(4, '0') + '\n';
        const qint64 before = residentKiB();
        role == 1 ? void(peer.write(flood)) : host.send(flood);
        qint64 peak = before;
        qint64 longestTurn = 0;
        QElapsedTimer turn;
        turn.start();
        for (QDeadlineTimer hold(3000); !hold.hasExpired();) {
            QTest::qWait(20);
            longestTurn = std::max(longestTurn, turn.restart());
            peak = std::max(peak, residentKiB());
        }
        QVERIFY(c.w->comSer->device()->bytesToWrite() > 0);
        QVERIFY2(longestTurn < 1000, qPrintable(QString::number(longestTurn)));

        constexpr int Checked = 64;
        const QByteArray got = a.readCount(Checked * Count);
        QVERIFY(got.size() >= Checked * Count);
        for (int i = 0; i < Checked; ++i) {
            QByteArray block(Count, '\0');
            block[0] = char(i >> 8);
            block[1] = char(i);
            QVERIFY2(got.mid(i * Count, Count) == block, qPrintable(QString::number(i)));
        }
        peak = std::max(peak, residentKiB());
        qInfo("resident memory grew by %lld KiB", peak - before);
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's quarantine keeps freed memory resident
        QVERIFY2(peak - before <= 32 * 1024, qPrintable(QString::number(peak - before)));
#endif

        c.click(); // the links go at once; the port gets its bounded time to drain
        QVERIFY(!c.app.RelayRunning);
        QCOMPARE(c.w->wsocLan->State(), int(SocketControl::Closed));
        QTRY_VERIFY_WITH_TIMEOUT(!c.w->comSer->PortOpen(), 3000);
        QVERIFY(c.status().startsWith(QStringLiteral("未送信の ")));
    }

    void serverServesOnePeerAtATime()
    {
        PtyPair a;
        LanCopy c(a.slavePath(), 1);
        c.w->findChild<QLineEdit*>("txtPort")->setText(QStringLiteral("0"));
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
        third.connectToHost(QHostAddress::LocalHost, quint16(port));
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn() && c.listEnabled(), Patience);
        third.write("DATA:1:43\n");
        QCOMPARE(a.readCount(1), QByteArray("C"));
    }
};

NIRVEX_TEST(TestLanRelay)
#include "tst_lanrelay.moc"
