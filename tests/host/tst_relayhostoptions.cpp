#include "TestRegistry.h"

#include "host/RelayHostOptions.h"

#include <QTest>

// The TLS options of nirvex-host: what they set, and the combinations that leave no usable port.
class TestRelayHostOptions : public QObject {
    Q_OBJECT
private slots:
    void tlsOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("runs");
        QTest::addColumn<bool>("plain");
        QTest::addColumn<int>("tlsPort");
        const QStringList cert{"--tls-cert", "c.pem", "--tls-key", "k.pem"};
        QTest::newRow("clear text only") << QStringList{} << true << true << 10002;
        QTest::newRow("both ports") << cert << true << true << 10002;
        QTest::newRow("TLS only") << cert + QStringList{"--no-plain", "--tls-port", "443"} << true
                                  << false << 443;
        QTest::newRow("no port left") << QStringList{"--no-plain"} << false << false << 0;
        QTest::newRow("certificate without key")
            << QStringList{"--tls-cert", "c.pem"} << false << false << 0;
        QTest::newRow("same port twice")
            << cert + QStringList{"--tls-port", "10001"} << false << false << 0;
        QTest::newRow("TLS port out of range")
            << cert + QStringList{"--tls-port", "65536"} << false << false << 0;
    }
    void tlsOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, runs);
        QFETCH(bool, plain);
        QFETCH(int, tlsPort);
        const RelayHostOptions options =
            RelayHostOptions::parse(QStringList{"nirvex-host"} + arguments);
        QCOMPARE(options.outcome == RelayHostOptions::Outcome::Run, runs);
        if (!runs)
            return;
        QCOMPARE(options.settings.plain, plain);
        QCOMPARE(int(options.settings.tlsPort), tlsPort);
        QCOMPARE(options.tlsCertPath.isEmpty(), !arguments.contains("--tls-cert"));
    }
};

NIRVEX_TEST(TestRelayHostOptions)
#include "tst_relayhostoptions.moc"
