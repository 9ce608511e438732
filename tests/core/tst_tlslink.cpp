#include "DataLines.h"
#include "HostClient.h"
#include "HostProcess.h"
#include "PtyPair.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int Patience = 30000;

// A forwarding proxy on 127.0.0.1 that keeps every byte passing either way.
class WireTap : public QObject {
public:
    explicit WireTap(quint16 target) : target(target)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* in = server.nextPendingConnection()) {
                ++connections;
                auto* out = new QTcpSocket(in);
                const auto pump = [this, in, out] {
                    if (out->state() == QAbstractSocket::ConnectedState)
                        out->write(take(in, up));
                };
                connect(out, &QTcpSocket::connected, in, pump);
                connect(in, &QTcpSocket::readyRead, in, pump);
                connect(out, &QTcpSocket::readyRead, in,
                        [this, in, out] { in->write(take(out, down)); });
                connect(in, &QTcpSocket::disconnected, out, &QTcpSocket::disconnectFromHost);
                connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
                out->connectToHost(QHostAddress::LocalHost, this->target);
            }
        });
    }
    quint16 port() const { return server.serverPort(); }

    // What went to the service, and what came back.
    QByteArray up;
    QByteArray down;
    int connections = 0;

private:
    static QByteArray take(QTcpSocket* from, QByteArray& record)
    {
        const QByteArray bytes = from->readAll();
        record += bytes;
        return bytes;
    }
    QTcpServer server;
    quint16 target;
};

} // namespace

// The host role over TLS through nirvex-host: certificates checked or pinned, nothing readable
// on the wire, no clear text after a failed handshake, and the TLS port kept apart from strangers.
class TestTlsLink : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QByteArray selfPin;

    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    bool openssl(const QStringList& args, QByteArray* out = nullptr)
    {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start("openssl", args);
        const bool ok = p.waitForFinished(Patience) && p.exitCode() == 0;
        if (out)
            *out = p.readAllStandardOutput();
        return ok;
    }
    // A host-role copy connecting with TLS on 127.0.0.1:port, trusting the test CA.
    void trustTestCa(RelayCopy& c, quint16 port) const
    {
        c.settings.relayHost = "127.0.0.1";
        c.settings.relayPort = port;
        c.settings.relayTls = true;
        c.settings.relayCaFile = path("ca.pem");
    }
    // nirvex-host serving TLS with the CA-signed certificate or the self-signed one.
    QStringList tlsOptions(bool selfSigned) const
    {
        return {"--tls-cert", path(selfSigned ? "self.pem" : "host.pem"), "--tls-key",
                path(selfSigned ? "self.key" : "host.key")};
    }

private slots:
    void initTestCase()
    {
        const QStringList ec{"-newkey", "ec",    "-pkeyopt", "ec_paramgen_curve:prime256v1",
                             "-nodes",  "-days", "2"};
        QFile san(path("san.cnf"));
        QVERIFY(san.open(QIODevice::WriteOnly));
        san.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        san.close();
        QVERIFY(
            openssl(QStringList{"req", "-x509"} + ec +
                    QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Test CA"}));
        QVERIFY(openssl(
            QStringList{"req"} + ec +
            QStringList{"-keyout", "host.key", "-out", "host.csr", "-subj", "/CN=localhost"}));
        QVERIFY(
            openssl({"x509", "-req", "-in", "host.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                     "-CAcreateserial", "-days", "2", "-out", "host.pem", "-extfile", "san.cnf"}));
        QVERIFY(
            openssl(QStringList{"req", "-x509"} + ec +
                    QStringList{"-keyout", "self.key", "-out", "self.pem", "-subj", "/CN=localhost",
                                "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"}));
        // The way a user gets the fingerprint to pin.
        QByteArray line;
        QVERIFY(openssl({"x509", "-noout", "-fingerprint", "-sha256", "-in", "self.pem"}, &line));
        selfPin = RelayHostEndpoint::parseFingerprint(QString(line.mid(line.indexOf('=') + 1)));
        QCOMPARE(selfPin.size(), 32);
    }

    // Two copies relay both ways through nirvex-host; copy A's link goes through a tap, which
    // sees the key, the ID and the payload only on the clear-text port.
    void relayBothWays_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("selfSigned");
        QTest::newRow("clear text") << false << false;
        QTest::newRow("TLS, certificate from a trusted CA") << true << false;
        QTest::newRow("TLS, pinned self-signed certificate") << true << true;
    }
    void relayBothWays()
    {
        QFETCH(bool, tls);
        QFETCH(bool, selfSigned);
        HostProcess host;
        QVERIFY(host.start(tlsOptions(selfSigned)));
        const quint16 servicePort = tls ? host.tlsPort() : host.port();
        WireTap tap(servicePort);
        PtyPair a, b;
        RelayCopy copyA({{1, a.slavePath()}}, DestinationKind::Lan, LanRole::Host);
        RelayCopy copyB({{1, b.slavePath()}}, DestinationKind::Lan, LanRole::Host);
        for (RelayCopy* c : {&copyA, &copyB}) {
            c->settings.hostId = c == &copyA ? "CopyIdA7" : "CopyIdB7";
            c->settings.hostKey = "SecretKey42";
            c->settings.relayHost = "127.0.0.1";
            c->settings.relayPort = c == &copyA ? tap.port() : servicePort;
            c->settings.relayTls = tls;
            if (tls && selfSigned)
                c->settings.relayFingerprint = selfPin;
            else if (tls)
                c->settings.relayCaFile = path("ca.pem");
            QVERIFY(c->start());
            QTRY_VERIFY_WITH_TIMEOUT(c->lanLamp, Patience);
        }
        const QByteArray there = "payload-there-3141", back = sample(70000, 3);
        QVERIFY(a.writeAll(there));
        QCOMPARE(b.readCount(there.size()), there);
        QVERIFY(b.writeAll(back));
        QCOMPARE(a.readCount(back.size()), back);

        QCOMPARE(DataLines::payload(tap.up), tls ? QByteArray() : there);
        QCOMPARE(DataLines::payload(tap.down), tls ? QByteArray() : back);
        for (const char* secret : {"SecretKey42", "CopyIdA7"})
            QVERIFY2(tap.up.contains(secret) == !tls, secret);
        if (tls)
            QVERIFY(!tap.up.contains(there.toHex().toUpper()) && !tap.up.contains(there));
    }

    // A certificate that does not pass ends the link with a status text that says why, no
    // clear text follows, and the next outgoing line tries again.
    void certificateRefused_data()
    {
        QTest::addColumn<bool>("pinned");
        QTest::addColumn<QString>("status");
        QTest::newRow("untrusted")
            << false << "中継ホストの証明書が信頼できないため、暗号化接続を中止しました。";
        QTest::newRow("wrong fingerprint")
            << true
            << "中継ホストの証明書のフィンガープリントが設定と一致しないため、暗号化接続を中止しま"
               "した。";
    }
    void certificateRefused()
    {
        QFETCH(bool, pinned);
        QFETCH(QString, status);
        HostProcess host;
        // A CA-signed certificate against a wrong pin; a self-signed one against the CA.
        QVERIFY(host.start(tlsOptions(!pinned)));
        WireTap tap(host.tlsPort());
        PtyPair a;
        RelayCopy c({{1, a.slavePath()}}, DestinationKind::Lan, LanRole::Host);
        trustTestCa(c, tap.port());
        if (pinned)
            c.settings.relayFingerprint = selfPin;
        QVERIFY(c.start());
        QTRY_COMPARE_WITH_TIMEOUT(c.status, status, Patience);
        QVERIFY(!c.lanLamp);
        c.core.SendListRequest(false); // an outgoing line: it is dropped, the link retried
        QTRY_COMPARE_WITH_TIMEOUT(tap.connections, 2, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(c.core.wsocLan()->State(), int(SocketControl::ErrorState),
                                  Patience);
        QCOMPARE(c.status, status);
        QVERIFY(!tap.up.contains("AUTH") && !tap.up.contains("Vorm"));
    }

    // A stranger on the TLS port, speaking clear text or nothing at all, is closed; a TLS copy
    // logged in beside it keeps relaying to a clear-text copy of its group.
    void strangerOnTlsPort_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("clear-text login") << QByteArray("AUTH:Guest:Vorm\n");
        QTest::newRow("silent, never shakes hands") << QByteArray();
    }
    void strangerOnTlsPort()
    {
        QFETCH(QByteArray, sent);
        HostProcess host;
        QVERIFY(host.start(tlsOptions(false) + QStringList{"--idle-timeout", "2"}));
        HostClient plain;
        QVERIFY(plain.connectTo(host.port()) && plain.login("Plain", "Vorm"));
        PtyPair a;
        RelayCopy c({{1, a.slavePath()}}, DestinationKind::Lan, LanRole::Host);
        trustTestCa(c, host.tlsPort());
        QVERIFY(c.start());
        QTRY_VERIFY_WITH_TIMEOUT(c.lanLamp, Patience);

        HostClient stranger;
        QVERIFY(stranger.connectTo(host.tlsPort()));
        stranger.send(sent);
        QTRY_VERIFY_WITH_TIMEOUT(stranger.closed, Patience);
        QVERIFY(!stranger.received.contains("AUTH"));
        QVERIFY(a.writeAll("still here"));
        QTRY_COMPARE_WITH_TIMEOUT(plain.data(), QByteArray("still here"), Patience);
        plain.send("DATA:4:6261636B\n");
        QCOMPARE(a.readCount(4), QByteArray("back"));
    }
};

NIRVEX_TEST(TestTlsLink)
#include "tst_tlslink.moc"
