#include "TestRegistry.h"

#include "host/RelayHostOptions.h"

#include <QTest>

// The TLS options of nirvex-host, and the combinations that leave no usable port.
class TestRelayHostOptions : public QObject {
    Q_OBJECT
private slots:
    void tlsOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("tlsPort"); // -1: refused
        const QStringList cert{"--tls-cert", "c.pem", "--tls-key", "k.pem"};
        QTest::newRow("both ports") << cert << 10002;
        QTest::newRow("TLS only") << cert + QStringList{"--no-plain", "--tls-port", "443"} << 443;
        QTest::newRow("no port left") << QStringList{"--no-plain"} << -1;
        QTest::newRow("certificate without key") << QStringList{"--tls-cert", "c.pem"} << -1;
        QTest::newRow("same port twice") << cert + QStringList{"--tls-port", "10001"} << -1;
    }
    void tlsOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, tlsPort);
        const RelayHostOptions options =
            RelayHostOptions::parse(QStringList{"nirvex-host"} + arguments);
        QCOMPARE(options.outcome == RelayHostOptions::Outcome::Run, tlsPort >= 0);
        if (tlsPort >= 0) {
            QCOMPARE(int(options.settings.tlsPort), tlsPort);
            QCOMPARE(options.settings.plain, !arguments.contains("--no-plain"));
        }
    }
};

NIRVEX_TEST(TestRelayHostOptions)
#include "tst_relayhostoptions.moc"
