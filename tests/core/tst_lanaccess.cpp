#include "FakeSerialPort.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include "core/PeerAllowList.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// Who may reach a server-role copy: the allow list's text, its place in the profile, and peers
// turned away by a running core.
class TestLanAccess : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("admitted");
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QStringList>("unreadable");
        QTest::newRow("networks, hosts, blanks and commas")
            << "192.168.1.0/24,\t10.0.0.5 ,, 172.16.0.0/255.240.0.0"
            << QStringList{"192.168.1.255", "10.0.0.5", "172.31.0.1", "::ffff:192.168.1.9"}
            << QStringList{"192.168.2.1", "10.0.0.6", "172.32.0.0", "::1", "::ffff:10.0.0.6"}
            << QStringList{};
        QTest::newRow("IPv6 and IPv4-mapped")
            << "fd00::/8 ::1 ::ffff:10.1.0.0/112" << QStringList{"fd12::1", "::1", "10.1.2.3"}
            << QStringList{"fe80::1", "127.0.0.1", "10.2.0.0"} << QStringList{};
        const QStringList bad{"300.1.1.1",           "10.1",      "010.0.0.1",
                              "host.example",        "10.0.0.0/", "10.0.0.0/33",
                              "1.2.3.4/255.0.255.0", "[::1]",     "10.0.0.5;10.0.0.6"};
        QTest::newRow("unreadable entries left out")
            << bad.join(' ') + " 10.0.0.9" << QStringList{"10.0.0.9"}
            << QStringList{"10.1.0.0", "0.0.0.10", "8.0.0.1", "10.0.0.5"} << bad;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, admitted);
        QFETCH(QStringList, refused);
        const PeerAllowList list = PeerAllowList::parse(text);
        QVERIFY(list.restricts());
        QTEST(list.unreadable(), "unreadable");
        for (const QString& address : admitted)
            QVERIFY2(list.allows(QHostAddress(address)), qPrintable(address));
        for (const QString& address : refused)
            QVERIFY2(!list.allows(QHostAddress(address)), qPrintable(address));
        QVERIFY(!PeerAllowList::parse(" ,\t, ").restricts());
    }

    // Every Allow line of the section counts; a value long enough to have been cut on reading
    // keeps its last entry unreadable.
    void fromProfile()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("nirvex.INI"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[LanAccess]\nAllow = 10.0.0.5\nDeny=10.0.0.6\nallow=::1 \nALLOW=10.0.0.1" +
                   QByteArray(", 10.0.0.2").repeated(30) + "\n[Other]\nAllow=10.0.0.7\n");
        file.close();
        const QString text = RelaySettings::fromProfile(file.fileName()).allowedPeers;
        QCOMPARE(text.left(23), "10.0.0.5,::1,10.0.0.1, ");
        QCOMPARE(PeerAllowList::parse(text).unreadable(), QStringList{"10.0…"});
    }

    // A peer outside the list is closed at once and named on the status panel; its bytes never
    // reach the port. Inside the list it relays as before.
    void turnedAwayOrServed_data()
    {
        QTest::addColumn<QString>("allow");
        QTest::addColumn<QStringList>("startTexts"); // after "接続しました！"
        QTest::newRow("loopback allowed") << "127.0.0.0/8" << QStringList{};
        QTest::newRow("nothing readable")
            << "localhost"
            << QStringList{"接続を許可するアドレスの localhost を読めないため、無視しました。",
                           "接続を許可するアドレスがないため、すべての接続を拒否します。"};
    }
    void turnedAwayOrServed()
    {
        QFETCH(QString, allow);
        const bool served = allow.startsWith("127.");
        FakeSerialPort port(QStringLiteral("fake:lanAccess"));
        RelayCopy c({{1, port.path()}}, DestinationKind::Lan, LanRole::Server);
        c.settings.allowedPeers = allow;
        QSignalSpy texts(&c.core, &RelayCore::statusChanged);
        QVERIFY(c.start());
        QStringList shown;
        for (const QList<QVariant>& text : texts)
            shown.append(text.at(0).toString());
        QCOMPARE(shown.takeFirst(), "接続しました！");
        QTEST(shown, "startTexts");

        QTcpSocket first, second; // the second is turned away as busy or as a stranger
        for (QTcpSocket* client : {&first, &second}) {
            client->connectToHost(QHostAddress::LocalHost, quint16(c.listeningPort()));
            client->write("DATA:2:4142\n");
            QTRY_COMPARE_WITH_TIMEOUT(client->bytesToWrite(), 0, 20000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, 20000);
        if (served) {
            QTRY_COMPARE_WITH_TIMEOUT(port.written(), "AB", 20000);
            QVERIFY(c.lanLamp && first.state() == QAbstractSocket::ConnectedState);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(first.state(), QAbstractSocket::UnconnectedState, 20000);
            QCOMPARE(c.status, "許可されていない 127.0.0.1 からの接続を拒否しました。");
            QVERIFY(!c.lanLamp && !c.link && port.written().isEmpty());
        }
    }
};

NIRVEX_TEST(TestLanAccess)
#include "tst_lanaccess.moc"
