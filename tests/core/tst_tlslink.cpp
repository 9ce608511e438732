#include "DataLines.h"
#include "HostClient.h"
#include "HostProcess.h"
#include "PtyPair.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int Patience = 30000;

// A forwarding proxy on 127.0.0.1 that keeps every byte passing either way.
class WireTap : public QObject {
public:
    explicit WireTap(quint16 target)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this, target] {
            QTcpSocket* in = server.nextPendingConnection();
            auto* out = new QTcpSocket(in);
            ++connections;
            const auto up = [this, in, out] {
                if (out->state() == QAbstractSocket::ConnectedState)
                    out->write(keep(in->readAll(), this->up));
            };
            connect(out, &QTcpSocket::connected, in, up);
            connect(in, &QTcpSocket::readyRead, in, up);
            connect(out, &QTcpSocket::readyRead, in,
                    [this, in, out] { in->write(keep(out->readAll(), down)); });
            connect(in, &QTcpSocket::disconnected, out, &QTcpSocket::disconnectFromHost);
            connect(out, &QTcpSocket::disconnected, in, &QTcpSocket::disconnectFromHost);
            out->connectToHost(QHostAddress::LocalHost, target);
        });
    }
    quint16 port() const { return server.serverPort(); }

    // What went to the service, and what came back.
    QByteArray up;
    QByteArray down;
    int connections = 0;

private:
    static QByteArray keep(const QByteArray& bytes, QByteArray& record)
    {
        record += bytes;
        return bytes;
    }
    QTcpServer server;
};

} // namespace

// The host role over TLS through nirvex-host: certificates checked or pinned, nothing readable
// on the wire, no clear text after a failed handshake, strangers on the TLS port closed.
class TestTlsLink : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QByteArray selfPin;

    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    bool openssl(const QString& command, QByteArray* out = nullptr)
    {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start("openssl", QProcess::splitCommand(command));
        const bool ok = p.waitForFinished(Patience) && p.exitCode() == 0;
        if (out)
            *out = p.readAllStandardOutput();
        return ok;
    }
    // Points a host-role copy at 127.0.0.1:port: clear text, or TLS trusting the test CA and,
    // with pin, pinning the self-signed certificate.
    void aim(RelayCopy& c, quint16 port, bool tls = true, bool pin = false) const
    {
        c.settings.relayHost.host = "127.0.0.1";
        c.settings.relayHost.port = port;
        c.settings.relayHost.tls = tls;
        c.settings.relayHost.caFile = tls ? path("ca.pem") : QString();
        c.settings.relayHost.fingerprint = pin ? selfPin : QByteArray();
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
        const QString ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 ";
        const QString san = "subjectAltName=IP:127.0.0.1,DNS:localhost";
        QFile ext(path("san.cnf"));
        QVERIFY(ext.open(QIODevice::WriteOnly) && ext.write(san.toLatin1()) > 0);
        ext.close();
        QVERIFY(openssl("req -x509" + ec + "-keyout ca.key -out ca.pem -subj /CN=TestCA"));
        QVERIFY(openssl("req" + ec + "-keyout host.key -out host.csr -subj /CN=localhost"));
        QVERIFY(openssl("x509 -req -in host.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
                        "-out host.pem -extfile san.cnf"));
        QVERIFY(openssl("req -x509" + ec +
                        "-keyout self.key -out self.pem -subj /CN=localhost "
                        "-addext " +
                        san));
        // The way a user gets the fingerprint to pin.
        QByteArray line;
        QVERIFY(openssl("x509 -noout -fingerprint -sha256 -in self.pem", &line));
        selfPin = RelayHostEndpoint::parseFingerprint(QString(line.mid(line.indexOf('=') + 1)));
        QCOMPARE(selfPin.size(), 32);
    }

    // Two copies relay both ways through nirvex-host while strangers on its TLS port, one in
    // clear text and one silent, are closed; copy A's link goes through a tap, which sees the
    // key, the ID and the payload only on the clear-text port.
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
        QVERIFY(host.start(tlsOptions(selfSigned) + QStringList{"--idle-timeout", "2"}));
        const quint16 port = tls ? host.tlsPort() : host.port();
        WireTap tap(port);
        PtyPair a, b;
        RelayCopy copyA({{1, a.slavePath()}}, DestinationKind::Lan, LanRole::Host);
        RelayCopy copyB({{1, b.slavePath()}}, DestinationKind::Lan, LanRole::Host);
        aim(copyA, tap.port(), tls, selfSigned);
        aim(copyB, port, tls, selfSigned);
        copyA.settings.hostId = "CopyIdA7";
        copyA.settings.hostKey = copyB.settings.hostKey = "SecretKey42";
        QVERIFY(copyA.start() && copyB.start());
        QTRY_VERIFY_WITH_TIMEOUT(copyA.lanLamp && copyB.lanLamp, Patience);
        HostClient talker, silent;
        QVERIFY(talker.connectTo(host.tlsPort()) && silent.connectTo(host.tlsPort()));
        talker.send("AUTH:Guest:Vorm\n");
        QTRY_VERIFY_WITH_TIMEOUT(talker.closed && silent.closed, Patience);
        QVERIFY(!talker.received.contains("AUTH"));
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
        aim(c, tap.port(), true, pinned);
        QVERIFY(c.start());
        QTRY_COMPARE_WITH_TIMEOUT(c.status, status, Patience);
        QVERIFY(!c.lanLamp);
        c.core.SendListRequest(false); // an outgoing line: it is dropped, the link retried
        QTRY_COMPARE_WITH_TIMEOUT(tap.connections, 2, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(c.core.wsocLan()->State(), int(SocketControl::ErrorState),
                                  Patience);
        QVERIFY(!tap.up.contains("AUTH") && !tap.up.contains("Vorm"));
    }
};

NIRVEX_TEST(TestTlsLink)
#include "tst_tlslink.moc"
