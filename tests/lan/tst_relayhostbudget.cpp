#include "TestRegistry.h"
#include "host/RelayHostService.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <memory>

namespace {

constexpr int Patience = 60000;

// A client of the service that sends its first bytes at once and keeps everything it receives.
struct Client {
    Client(quint16 port, const QByteArray& text)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                         [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(text);
    }
    QTcpSocket socket;
    QByteArray received;
};

// DATA lines of 256 bytes, each carrying its number, as one stream.
QByteArray dataLines(int count)
{
    QByteArray stream;
    for (int n = 0; n < count; ++n) {
        QByteArray bytes(256, '\0');
        for (int k = 0; k < bytes.size(); ++k)
            bytes[k] = char((n >> (8 * (k % 4))) + k);
        stream += "DATA:256:" + bytes.toHex().toUpper() + '\n';
    }
    return stream;
}

} // namespace

// The service takes each connection's input a portion per turn and closes strangers that send
// far more than a login: large inputs across the login must still arrive whole and in order.
class TestRelayHostBudget : public QObject {
    Q_OBJECT

    std::unique_ptr<RelayHostService> service;

private slots:
    void init()
    {
        RelayHostService::Settings settings;
        settings.address = QHostAddress::LocalHost;
        settings.port = 0;
        service = std::make_unique<RelayHostService>(settings);
        QVERIFY(service->listen(nullptr));
    }
    void cleanup() { service.reset(); }

    void largeInputAcrossTheLogin_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("accepted");
        const auto junk = [](qsizetype size) {
            QByteArray bytes;
            while (bytes.size() < size)
                bytes += "DATA:4:DEADBEEF\nCTRL:CTS:ON\nLIST:ALL\nHELLO\n" + QByteArray(1000, 'x') +
                         '\n';
            return bytes;
        };
        QTest::newRow("32 KiB of junk before AUTH") << junk(32 * 1024) << true;
        QTest::newRow("40 KiB line without LF, then AUTH") << QByteArray(40 * 1024, 'A') << true;
        QTest::newRow("1 MiB of junk before AUTH") << junk(1024 * 1024) << false;
        QTest::newRow("300 KiB line before AUTH") << QByteArray(300 * 1024, 'A') + '\n' << false;
    }
    void largeInputAcrossTheLogin()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, accepted);
        Client partner(service->port(), "AUTH:partner:key\n");
        QTRY_COMPARE_WITH_TIMEOUT(partner.received, QByteArray("AUTH:0\n"), Patience);
        partner.received.clear();

        // A line cut short by the AUTH is discarded with it.
        const QByteArray auth = before.endsWith('\n') || before.isEmpty()
                                    ? QByteArray("AUTH:sender:key\n")
                                    : QByteArray("\nAUTH:sender:key\n");
        const QByteArray stream = dataLines(6000);
        Client sender(service->port(), before + auth + stream);
        if (!accepted) {
            QTRY_COMPARE_WITH_TIMEOUT(sender.socket.state(), QAbstractSocket::UnconnectedState,
                                      Patience);
            QCOMPARE(sender.received, QByteArray());
            QCOMPARE(partner.received, QByteArray());
            QCOMPARE(service->loggedInCount(), 1);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(partner.received.size(), stream.size(), Patience);
        QVERIFY(partner.received == stream);
        QCOMPARE(sender.received, QByteArray("AUTH:0\n"));
        QCOMPARE(service->loggedInCount(), 2);
    }

    void manySendersAllServed()
    {
        constexpr int Pairs = 20;
        const QByteArray stream = dataLines(800);
        std::vector<std::unique_ptr<Client>> senders, receivers;
        for (int i = 0; i < Pairs; ++i) {
            const QByteArray n = QByteArray::number(i);
            receivers.push_back(
                std::make_unique<Client>(service->port(), "AUTH:r" + n + ":k" + n + '\n'));
            senders.push_back(
                std::make_unique<Client>(service->port(), "AUTH:s" + n + ":k" + n + '\n'));
        }
        QTRY_COMPARE_WITH_TIMEOUT(service->loggedInCount(), 2 * Pairs, Patience);
        for (auto& sender : senders)
            sender->socket.write(stream);
        const QByteArray expected = "AUTH:0\n" + stream;
        for (int i = 0; i < Pairs; ++i) {
            const QByteArray& received = receivers[size_t(i)]->received;
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), Patience);
            QVERIFY2(received == expected, qPrintable(QString::number(i)));
        }
    }
};

NIRVEX_TEST(TestRelayHostBudget)
#include "tst_relayhostbudget.moc"
