#include "LanCopy.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/IntervalTimer.h"
#include "core/LineCodec.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"
#include "desktop/LanLink.h"
#include "desktop/TagLabel.h"

#include <QLineEdit>
#include <QTest>

namespace {

constexpr int Patience = 20000;
const QString refused = QStringLiteral("IDが正しくないため、接続を拒否されました。");
const QString hostError = QStringLiteral("ホストからエラーが通知されました。[");

// A host-role copy on a fake source port, started against a scripted relay host.
struct HostCopy {
    FakeSerialPort port{QStringLiteral("fake:lanHost")};
    ScriptedPeer host;
    LanCopy c{port.path(), 3, QStringLiteral("110")};

    HostCopy()
    {
        c.w->Lan.setRelayHostEndpoint(QStringLiteral("127.0.0.1"), host.port());
        c.click();
    }
    // The nth connection (1-based) has sent its login.
    bool loggedIn(int n) const
    {
        return host.connections() == n && host.lines().value(0) == "AUTH:Guest:Vorm";
    }
};

} // namespace

// The line protocol and the host role of one window's LAN link.
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
        row("DSR off", "CTRL:DSR:OFF\n", true, "", false, false, false);
        row("other case or signal", "CTRL:cts:ON\nCTRL:RI:ON\ndata:1:41\nCTRL:DSR\n\n", true, "",
            false, false, false);
        row("AUTH:01", "AUTH:01\n", true, "", false, true, false, refused);
        row("AUTH", "AUTH\n", false, "", false, true, true);
        row("AUTH:abc", "AUTH:abc\n", true, "", false, true, true);
        row("AUTH:7", "AUTH:7\n", true, "", false, true, false, hostError + "7]");
        row("AUTH: 7x kept as received", "AUTH: 7x:1\n", true, "", false, true, false,
            hostError + " 7x]");
    }
    void receivedLines()
    {
        QFETCH(QString, chunk);
        QFETCH(bool, open);
        QFETCH(QByteArray, written);
        FakeSerialPort port(QStringLiteral("fake:lanLines"));
        LanCopy c(port.path(), 1);
        c.w->findChild<QLineEdit*>("txtPort")->setText("0");
        if (open) {
            c.click();
            QVERIFY(port.isOpen());
        }
        c.w->Lan.ReceiveText(chunk);
        if (written.isEmpty())
            QCOMPARE(c.w->findChild<TagLabel*>("lblSend")->Tag,
                     QStringLiteral("1")); // nothing went to the port
        QTRY_COMPARE_WITH_TIMEOUT(port.written(), written, Patience);
        QTEST(c.w->comSer->RTSEnable(), "rts");
        QTEST(c.w->comSer->DTREnable(), "dtr");
        QTEST(c.w->Authenticated, "accepted");
        QCOMPARE(c.lampOn(), c.w->Authenticated);
        QFETCH(QString, status);
        if (!status.isEmpty())
            QCOMPARE(c.status(), status);
        if (open)
            QTRY_COMPARE(port.rts(), c.w->comSer->RTSEnable());
    }

    void hostLogin_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status");
        QTest::newRow("accepted") << QByteArray("AUTH:0\n") << QString();
        QTest::newRow("refused") << QByteArray("AUTH:1\n") << refused;
    }
    void hostLogin()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        HostCopy h;
        QTRY_VERIFY_WITH_TIMEOUT(h.loggedIn(1), Patience);
        QTRY_VERIFY(h.c.listEnabled());
        QVERIFY(!h.c.lampOn());
        h.c.holdBurst();
        QVERIFY(h.port.pushBytes("abc"));
        QTRY_COMPARE(h.c.app.SendCount, 3);
        h.c.w->Relay.tmrSer_Timer(); // the end of the burst: the bytes wait for the login
        h.port.setCts(true);         // control lines do not
        QTRY_COMPARE_WITH_TIMEOUT(h.host.lines().size(), 2, Patience);
        h.c.w->Lan.SendListRequest(false); // nor do list requests
        h.c.w->Lan.SendListRequest(true);
        const QStringList before{"AUTH:Guest:Vorm", "CTRL:CTS:ON", "LIST", "LIST:ALL"};
        QTRY_COMPARE_WITH_TIMEOUT(h.host.lines(), before, Patience);
        QCOMPARE(h.c.app.SendCount, 3);

        h.host.send(reply);
        if (status.isEmpty()) { // the collected bytes leave at once
            QTRY_VERIFY_WITH_TIMEOUT(h.c.lampOn() && h.c.w->Authenticated, Patience);
            QTRY_COMPARE_WITH_TIMEOUT(h.host.data(), QByteArray("abc"), Patience);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(h.c.status(), status, Patience);
            QVERIFY(!h.c.w->Authenticated && !h.c.lampOn());
            QCOMPARE(h.c.app.SendCount, 3);
        }
    }

    void hostBacklogBeforeLogin()
    {
        HostCopy h;
        QTRY_VERIFY_WITH_TIMEOUT(h.loggedIn(1), Patience);
        h.c.holdBurst();
        QByteArray sent;
        for (int i = 0; i < 70000; ++i)
            sent.append(char(i * 7 + i / 256));
        QVERIFY(h.port.pushBytes(sent.left(300)));
        QTRY_COMPARE(h.c.w->Lan.BacklogSize(), 44);
        QCOMPARE(h.c.app.SendCount, 256);
        QVERIFY(h.port.pushBytes(sent.mid(300)));
        const qsizetype kept = 256 + LanLink::BacklogLimit;
        QTRY_COMPARE(h.c.status(), LanLink::DroppedText(sent.size() - kept));
        QCOMPARE(h.c.app.SendCount, 256);
        QCOMPARE(h.c.w->Lan.BacklogSize(), LanLink::BacklogLimit);

        h.host.send("AUTH:0\n");
        QTRY_COMPARE_WITH_TIMEOUT(h.host.data(), sent.left(kept), Patience);
        for (const QString& line : h.host.lines().mid(1))
            QVERIFY(line.size() <= LineCodec::MaxDataLineChars - 1);
        QCOMPARE(h.c.app.SendCount, 0);
        QCOMPARE(h.c.w->Lan.BacklogSize(), 0);
    }

    void stopSendsTheTail()
    {
        FakeSerialPort port(QStringLiteral("fake:lanStop"));
        ScriptedPeer peer;
        LanCopy c(port.path(), 2);
        c.w->findChild<QLineEdit*>("txtServerPort")->setText(QString::number(peer.port()));
        c.click();
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn(), Patience);
        c.holdBurst();
        QVERIFY(port.pushBytes("tail"));
        QTRY_COMPARE(c.app.SendCount, 4);
        c.click();
        QVERIFY(!c.app.RelayRunning && !c.w->tmrSer->Enabled() && !c.lampOn());
        QTRY_COMPARE_WITH_TIMEOUT(peer.data(), QByteArray("tail"), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(!peer.connected(), Patience);
    }
};

NIRVEX_TEST(TestLanLink)
#include "tst_lanlink.moc"
