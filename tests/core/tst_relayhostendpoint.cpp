#include "FakeSerialPort.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include "core/RelayHostEndpoint.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Where the host role finds the relay host: the variable, the profile section and the built-in
// name in that order, and values that cannot be used.
class TestRelayHostEndpoint : public QObject {
    Q_OBJECT
private slots:
    void resolve_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QStringList>("section"); // Host, Port, TLS, Fingerprint
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("problem"); // a text the problem must quote; empty: none
        const QStringList none{"", "", "", ""};
        QTest::newRow("built-in") << "" << none << "built.in" << 10001 << "";
        QTest::newRow("built-in, TLS port")
            << "" << QStringList{"", "", "1", ""} << "built.in" << 10002 << "";
        QTest::newRow("section") << "" << QStringList{"sect", "20001", "0", ""} << "sect" << 20001
                                 << "";
        QTest::newRow("variable host, section port")
            << "var" << QStringList{"sect", "20001", "", ""} << "var" << 20001 << "";
        QTest::newRow("variable host and port")
            << " var:30001 " << QStringList{"sect", "20001", "1", ""} << "var" << 30001 << "";
        QTest::newRow("bracketed IPv6 and port") << "[::1]:30001" << none << "::1" << 30001 << "";
        QTest::newRow("bare IPv6 is a host") << "fe80::1" << none << "fe80::1" << 10001 << "";
        QTest::newRow("port too large") << "var:65536" << none << "var" << 0 << "var:65536";
        QTest::newRow("empty port") << "var:" << none << "var" << 10001 << "var:";
        QTest::newRow("no host") << ":30001" << none << "built.in" << 30001 << ":30001";
        QTest::newRow("bracket not closed")
            << "[::1:30001" << none << "built.in" << 10001 << "[::1:30001";
        QTest::newRow("section port not a number")
            << "" << QStringList{"sect", "x1", "", ""} << "sect" << 0 << "x1";
        QTest::newRow("TLS neither 0 nor 1")
            << "" << QStringList{"", "", "yes", ""} << "built.in" << 10001 << "yes";
        QTest::newRow("fingerprint, lower case without colons")
            << "" << QStringList{"", "", "1", QString(64, 'a')} << "built.in" << 10002 << "";
        QTest::newRow("fingerprint too short")
            << "" << QStringList{"", "", "1", "AB:CD"} << "built.in" << 10002 << "AB:CD";
        QTest::newRow("fingerprint without TLS") << "" << QStringList{"", "", "", QString(64, 'a')}
                                                 << "built.in" << 10001 << QString(64, 'a');
    }
    void resolve()
    {
        QFETCH(QString, variable);
        QFETCH(QStringList, section);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, problem);
        const RelayHostEndpoint e = RelayHostEndpoint::resolve(
            variable, {section[0], section[1], section[2], section[3], {}}, "built.in");
        QCOMPARE(e.problem.isEmpty(), problem.isEmpty());
        QVERIFY2(e.problem.contains(problem), qPrintable(e.problem));
        QCOMPARE(e.host, host);
        QCOMPARE(e.port, port);
    }

    // Settings that cannot be used refuse a host-role start with their reason.
    void profileAndRefusedStart()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath("n.ini");
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Settings]\nDestType=3\nDestMode=3\n[RelayHost]\nHost=sect\nPort=20001\n"
                   "TLS=1\nCAFile=ca.pem\n");
        file.close();
        qputenv("NIRVEX_RELAY_HOST", "env.example:99999");
        const RelaySettings broken = RelaySettings::fromProfile(ini);
        qunsetenv("NIRVEX_RELAY_HOST");

        FakeSerialPort port(QStringLiteral("fake:endpoint"));
        RelayCopy c({{1, port.path()}}, DestinationKind::Lan, LanRole::Host);
        c.settings.relayHost = RelayHostEndpoint::read(ini); // no such CA file
        QVERIFY(!c.start());
        QCOMPARE(c.status, QStringLiteral("中継ホストの CA 証明書ファイル「%1」を読み込めません。")
                               .arg(dir.filePath("ca.pem")));
        c.settings.relayHost.problem = broken.relayHost.problem;
        QVERIFY(!c.start());
        QCOMPARE(c.status, "中継ホストの設定 環境変数 NIRVEX_RELAY_HOST の値「env.example:99999」が"
                           "正しくありません（ポートは 1～65535 の数）。");
        QVERIFY(!c.core.comSer()->PortOpen());
    }
};

NIRVEX_TEST(TestRelayHostEndpoint)
#include "tst_relayhostendpoint.moc"
