#include "DataLines.h"
#include "HostClient.h"
#include "TestRegistry.h"
#include "host/RelayHostService.h"

#include <QHostAddress>
#include <QTest>
#include <memory>

namespace {

constexpr int Patience = 60000;

// A client whose first bytes go out at once, before it is connected.
std::unique_ptr<HostClient> sending(quint16 port, const QByteArray& text)
{
    auto client = std::make_unique<HostClient>();
    client->connectTo(port, false);
    client->socket.write(text);
    return client;
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

    void largeInputAcrossTheLogin_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("accepted");
        QByteArray junk;
        while (junk.size() < 32 * 1024)
            junk +=
                "DATA:4:DEADBEEF\nCTRL:CTS:ON\nLIST:ALL\nHELLO\n" + QByteArray(1000, 'x') + '\n';
        QTest::newRow("32 KiB of junk before AUTH") << junk << true;
        QTest::newRow("40 KiB line without LF, then AUTH") << QByteArray(40 * 1024, 'A') << true;
        QTest::newRow("1 MiB of junk before AUTH") << junk.repeated(32) << false;
        QTest::newRow("300 KiB line before AUTH") << QByteArray(300 * 1024, 'A') + '\n' << false;
    }
    void largeInputAcrossTheLogin()
    {
        QFETCH(QByteArray, before);
        auto partner = sending(service->port(), "AUTH:partner:key\n");
        QTRY_COMPARE_WITH_TIMEOUT(partner->received, QByteArray("AUTH:0\n"), Patience);
        partner->received.clear();
        // A line cut short by the AUTH is discarded with it.
        const QByteArray stream = DataLines::stream(6000);
        auto sender = sending(service->port(), before + (before.endsWith('\n') ? "" : "\n") +
                                                   "AUTH:sender:key\n" + stream);
        QFETCH(bool, accepted);
        if (accepted) {
            QTRY_COMPARE_WITH_TIMEOUT(partner->received.size(), stream.size(), Patience);
            QVERIFY(partner->received == stream);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(sender->closed, Patience);
            QCOMPARE(partner->received, QByteArray());
        }
        QCOMPARE(sender->received, accepted ? QByteArray("AUTH:0\n") : QByteArray());
        QCOMPARE(service->loggedInCount(), accepted ? 2 : 1);
    }
};

NIRVEX_TEST(TestRelayHostBudget)
#include "tst_relayhostbudget.moc"
