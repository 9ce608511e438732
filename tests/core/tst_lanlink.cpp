#include "PtyPair.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include "core/LineCodec.h"
#include "core/SerialDevice.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>
#include <memory>

namespace {

constexpr int Patience = 20000;
const QString refused = QStringLiteral("IDが正しくないため、接続を拒否されました。");
const QString hostError = QStringLiteral("ホストからエラーが通知されました。[");

// This process's resident memory in KiB.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmRSS:");
    return at < 0 ? -1 : text.mid(at + 6).trimmed().split(' ').value(0).toLongLong();
}

} // namespace

// The LAN link of the relay core: received lines, the host-role login, order and bounds of what
// it sends and receives, and relays through two cores.
class TestLanLink : public QObject {
    Q_OBJECT
private slots:
    void receivedLines_data()
    {
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<bool>("rts");
        QTest::addColumn<bool>("dtr");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("status");
        const auto row = [](const char* name, const QString& chunk, bool open, const char* written,
                            bool rts, bool dtr, bool accepted, const QString& status = {}) {
            QTest::newRow(name) << chunk << open << QByteArray(written) << rts << dtr << accepted
                                << status;
        };
        row("DATA", "DATA:2:4142\n", true, "AB", false, true, false);
        row("DATA while the port is closed", "DATA:2:4142\n", false, "", false, true, false);
        row("CTS on", "CTRL:CTS:ON\n", true, "", true, true, false);
        row("CR before LF switches off", "CTRL:CTS:ON\nCTRL:CTS:ON\r\n", true, "", false, true,
            false);
        row("other case or signal", "CTRL:cts:ON\nCTRL:RI:ON\ndata:1:41\nCTRL:DSR\n\n", true, "",
            false, false, false);
        row("AUTH:01", "AUTH:01\n", true, "", false, true, false, refused);
        row("AUTH", "AUTH\n", false, "", false, true, true);
        row("AUTH: 7x kept as received", "AUTH: 7x:1\n", true, "", false, true, false,
            hostError + " 7x]");
    }
    void receivedLines()
    {
        QFETCH(QString, chunk);
        QFETCH(bool, open);
        QFETCH(QByteArray, written);
        FakeSerialPort port(QStringLiteral("fake:lanLines"));
        RelayCopy c({{1, port.path()}}, DestinationKind::Lan, LanRole::Server);
        if (open)
            QVERIFY(c.start() && port.isOpen());
        c.core.ReceiveText(chunk);
        QCOMPARE(c.sendLit, !written.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(port.written(), written, Patience);
        QTEST(c.core.comSer()->RTSEnable(), "rts");
        QTEST(c.core.comSer()->DTREnable(), "dtr");
        QTEST(c.core.Authenticated(), "accepted");
        QCOMPARE(c.lanLamp, c.core.Authenticated());
        QFETCH(QString, status);
        if (!status.isEmpty())
            QCOMPARE(c.status, status);
        if (open)
            QTRY_COMPARE(port.rts(), c.core.comSer()->RTSEnable());
    }

    // Before the relay host accepts the login, modem lines and list requests go out while the
    // source's bytes wait, up to a bound; once accepted, the kept bytes leave in order.
    void hostBacklogBeforeLogin()
    {
        PeerCopy h(LanRole::Host);
        QTRY_VERIFY_WITH_TIMEOUT(h.loggedIn(1) && h.c.link, Patience);
        QVERIFY(!h.c.lanLamp);
        h.c.holdBurst();
        h.port.setCts(true);
        QTRY_COMPARE_WITH_TIMEOUT(h.peer.lines().size(), 2, Patience);
        const QByteArray sent = sample(70000);
        QVERIFY(h.port.pushBytes(sent.left(300)));
        QTRY_COMPARE(h.c.core.BacklogSize(), 44);
        QCOMPARE(h.c.core.SendCount, 256);
        h.c.core.SendListRequest(false);
        h.c.core.SendListRequest(true);
        const QStringList before{"AUTH:Guest:Vorm", "CTRL:CTS:ON", "LIST", "LIST:ALL"};
        QTRY_COMPARE_WITH_TIMEOUT(h.peer.lines(), before, Patience);
        QVERIFY(h.port.pushBytes(sent.mid(300)));
        const qsizetype kept = 256 + LanLink::BacklogLimit;
        QTRY_COMPARE(h.c.status, LanLink::DroppedText(sent.size() - kept));
        QCOMPARE(h.c.core.BacklogSize(), LanLink::BacklogLimit);

        h.peer.send("AUTH:0\n");
        QTRY_COMPARE_WITH_TIMEOUT(h.peer.data(), sent.left(kept), Patience);
        QVERIFY(h.c.lanLamp && h.c.core.Authenticated());
        for (const QString& line : h.peer.lines().mid(4))
            QVERIFY(line.size() <= LineCodec::MaxDataLineChars - 1);
        QCOMPARE(h.c.core.SendCount, 0);
        QCOMPARE(h.c.core.BacklogSize(), 0);
    }

    // A modem line change goes out after the bytes received before it, and a stop sends the
    // burst still collected to the connected peer, then closes.
    void lineChangeAndStopKeepTheOrder()
    {
        PeerCopy p(LanRole::Client);
        QTRY_VERIFY_WITH_TIMEOUT(p.c.lanLamp, Patience);
        p.c.holdBurst();
        QVERIFY(p.port.pushBytes("12345"));
        QTRY_COMPARE(p.c.core.SendCount, 5);
        p.port.setCts(true);
        QVERIFY(p.port.pushBytes("tail"));
        QTRY_COMPARE(p.c.core.SendCount, 4);
        p.c.core.StopRelay();
        QVERIFY(!p.c.core.tmrSer()->Enabled() && !p.c.lanLamp && !p.c.link);
        const QStringList lines{"DATA:5:3132333435", "CTRL:CTS:ON", "DATA:4:7461696C"};
        QTRY_COMPARE_WITH_TIMEOUT(p.peer.lines(), lines, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(!p.peer.connected(), Patience);
    }

    // Short lines that each ask for 32767 bytes, sent by the tens of thousands at once while
    // the far end of the port does not read: they wait as text, not as bytes.
    void floodOfLongDataLinesStaysBounded()
    {
        PtyPair a;
        RelayCopy c({{1, a.slavePath()}}, DestinationKind::Lan, LanRole::Server);
        QVERIFY(c.start());
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, quint16(c.listeningPort()));
        QTRY_VERIFY_WITH_TIMEOUT(c.lanLamp, Patience);

        constexpr int Lines = 60000;
        constexpr qsizetype Count = 32767;
        QByteArray flood; // line i carries i in its first two bytes; the rest are zeros
        for (int i = 0; i < Lines; ++i)
            flood += "DATA:32767:" + QByteArray::number(i, 16).rightJustified(4, '0') + '\n';
        const qint64 before = residentKiB();
        peer.write(flood);
        qint64 peak = before, longestTurn = 0;
        QElapsedTimer turn;
        turn.start();
        for (QDeadlineTimer hold(3000); !hold.hasExpired();) {
            QTest::qWait(20);
            longestTurn = std::max(longestTurn, turn.restart());
            peak = std::max(peak, residentKiB());
        }
        QVERIFY(c.core.comSer()->device()->bytesToWrite() > 0);
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
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's quarantine keeps freed memory resident
        QVERIFY2(peak - before <= 32 * 1024, qPrintable(QString::number(peak - before)));
#endif

        c.core.StopRelay(); // the links go at once; the port gets its bounded time to drain
        QCOMPARE(c.core.wsocLan()->State(), int(SocketControl::Closed));
        QTRY_VERIFY_WITH_TIMEOUT(!c.core.comSer()->PortOpen(), 3000);
        QVERIFY(c.status.startsWith(QStringLiteral("未送信の ")));
    }
};

NIRVEX_TEST(TestLanLink)
#include "tst_lanlink.moc"
