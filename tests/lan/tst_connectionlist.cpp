#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/SocketControl.h"
#include "desktop/ColorButton.h"
#include "desktop/FlexGrid.h"
#include "desktop/NirvexMain.h"
#include "desktop/frmList.h"
#include "desktop/frmMain.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int Patience = 20000;

// Cells of every row below the header, joined by "|".
QStringList rowsOf(const FlexGrid& grid)
{
    QStringList rows;
    for (int r = 1; r < grid.Rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid.Cols(); ++c)
            cells.append(grid.TextMatrix(r, c));
        rows.append(cells.join('|'));
    }
    return rows;
}

// One started copy of Nirvex whose profile chooses the LAN in a role (1 server, 2 client,
// 3 host) and maps its source port to a fake device.
struct ListCopy {
    QTemporaryDir dir;
    QString path = dir.filePath("nirvex.INI");
    FakeSerialPort source;
    NirvexMain app;

    ListCopy(const QString& name, int role, int port, const QByteArray& extra = {})
        : source("fake:" + name)
    {
        QFile file(path);
        const QByteArray text =
            QStringLiteral("[Ports]\nCOM1=fake:%1\n[Settings]\nシリアルポート=1\n"
                           "DestType=3\nDestMode=%2\nPort=%3\nServerPort=%3\n")
                .arg(name, QString::number(role), QString::number(port))
                .toUtf8() +
            extra;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();
        app.Ports.setDeviceLister([] { return QList<PortTable::Device>(); });
        app.Main(path);
        w().Relay.wsocLan()->setBindAddress(QHostAddress(QHostAddress::LocalHost));
    }
    frmMain& w() { return *app.MainForm; }
    frmList& list() { return *app.ListForm; }
    QStringList rows() { return rowsOf(*list().fgList); }
    void run() { QTest::mouseClick(w().cmdRun, Qt::LeftButton); }
    // Pressed on the run button, which stays enabled while the relay runs; the main window
    // sees the key first.
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(w().cmdRun, key, modifiers);
    }
};

} // namespace

// The connection list window and the list command in the three LAN roles against real peers.
class TestConnectionList : public QObject {
    Q_OBJECT
private slots:
    void listRowsKeepTheirColumns()
    {
        ListCopy copy("listRows", 1, 0);
        frmList& list = copy.list();
        list.SendList(false, 0, nullptr, nullptr, {});
        list.AddListRow("ev\til", "k\t", "h");
        QCOMPARE(copy.rows(), QStringList{"ev il|k |h"});
        for (int i = 0; i < frmList::MaxListRows + 5; ++i) // a flood stops at the limit
            list.AddListRow(QString::number(i), "K", "h");
        QCOMPARE(list.fgList->Rows(), 1 + frmList::MaxListRows);
    }

    void peerOfServerAndClient_data()
    {
        QTest::addColumn<bool>("server"); // whose list is opened
        QTest::newRow("server role") << true;
        QTest::newRow("client role") << false;
    }
    void peerOfServerAndClient()
    {
        QFETCH(bool, server);
        ListCopy serverCopy("listServer", 1, 0);
        ListCopy clientCopy("listClient", 2, 0, "Server0=localhost\n");
        ListCopy& copy = server ? serverCopy : clientCopy;
        copy.key(Qt::Key_F8); // no connection: the command is disabled
        QVERIFY(!copy.list().isVisible());

        serverCopy.run();
        QTRY_COMPARE_WITH_TIMEOUT(serverCopy.w().Relay.wsocLan()->State(), 2, Patience);
        clientCopy.w().txtServerPort->setText(
            QString::number(serverCopy.w().Relay.wsocLan()->LocalPort()));
        clientCopy.run();
        QTRY_VERIFY_WITH_TIMEOUT(serverCopy.w().mnuViewFlipList->isEnabled() &&
                                     clientCopy.w().mnuViewFlipList->isEnabled(),
                                 Patience);
        // The server sees the peer's address, the client the host as it was typed.
        const QStringList row{server ? "||127.0.0.1" : "||localhost"};
        copy.key(Qt::Key_F8);
        QVERIFY(copy.list().isVisible());
        QCOMPARE(copy.rows(), row);
        copy.key(Qt::Key_F8);
        QVERIFY(!copy.list().isVisible());
        copy.w().mnuViewFlipList->trigger(); // the menu command does the same
        QCOMPARE(copy.rows(), row);          // cleared, not doubled
    }

    void hostRoleWithScriptedHost()
    {
        ScriptedPeer host;
        ListCopy copy("listHost", 3, 0);
        copy.w().setRelayHostEndpoint("127.0.0.1", host.port());
        copy.run();
        QTRY_COMPARE_WITH_TIMEOUT(host.lines(), QStringList{"AUTH:Guest:Vorm"}, Patience);
        host.send("AUTH:0\n");
        QTRY_VERIFY_WITH_TIMEOUT(copy.w().Relay.Authenticated(), Patience);
        copy.key(Qt::Key_F8);
        QVERIFY(copy.list().isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(host.lines().size(), 2, Patience);
        host.send("LIST:alice:K:10.0.0.1\nLIST:bob:K:10.0.0.2\n");
        const QStringList two{"alice|K|10.0.0.1", "bob|K|10.0.0.2"};
        QTRY_COMPARE_WITH_TIMEOUT(copy.rows(), two, Patience);

        copy.key(Qt::Key_F8); // hides and sends nothing
        QVERIFY(!copy.list().isVisible());

        copy.key(Qt::Key_F5);
        copy.key(Qt::Key_F8, Qt::ShiftModifier);
        QVERIFY(copy.list().isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(host.lines().size(), 3, Patience);
        host.send("LIST:alice:K:10.0.0.1\nLIST:bob:K:10.0.0.2\nLIST:carol:*:10.0.0.3\n");
        QTRY_COMPARE_WITH_TIMEOUT(copy.rows(), two + QStringList{"carol|*|10.0.0.3"}, Patience);
        // Lines arrive in order, so the hide sent nothing.
        QCOMPARE(host.lines(), (QStringList{"AUTH:Guest:Vorm", "LIST", "LIST:ALL"}));
    }
};

NIRVEX_TEST(TestConnectionList)
#include "tst_connectionlist.moc"
