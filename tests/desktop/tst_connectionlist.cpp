#include "DesktopRun.h"
#include "FakeSerialPort.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "core/IntervalTimer.h"
#include "core/SocketControl.h"
#include "desktop/FlexGrid.h"
#include "desktop/frmList.h"

#include <QAction>
#include <QPushButton>
#include <QTemporaryDir>

namespace {

constexpr int Patience = 20000;

// One started copy whose profile chooses the LAN in a role (1 server, 2 client, 3 host) and maps
// its source port to a fake device.
struct ListCopy {
    QTemporaryDir dir;
    FakeSerialPort source;
    std::unique_ptr<DesktopRun> run;

    ListCopy(const QString& name, int role, const QByteArray& extra = {}) : source("fake:" + name)
    {
        const QString path = dir.filePath("nirvex.INI");
        QVERIFY(DesktopRun::write(path, QStringLiteral("[Ports]\nCOM1=fake:%1\n[Settings]\n"
                                                       "シリアルポート=1\nDestType=3\nDestMode=%2\n"
                                                       "Port=0\n")
                                                .arg(name)
                                                .arg(role)
                                                .toUtf8() +
                                            extra));
        run = std::make_unique<DesktopRun>(path);
        w().Relay.wsocLan()->setBindAddress(QHostAddress(QHostAddress::LocalHost));
    }
    frmMain& w() { return run->w(); }
    frmList& list() { return *run->app.ListForm; }
    bool listEnabled() { return run->control<QAction>("mnuViewFlipList")->isEnabled(); }
    void start() { QTest::mouseClick(run->control<QPushButton>("cmdRun"), Qt::LeftButton); }
    // Cells of every row below the header, joined by "|".
    QStringList rows()
    {
        QStringList rows;
        for (int r = 1; r < list().fgList->Rows(); ++r) {
            QStringList cells;
            for (int c = 0; c < list().fgList->Cols(); ++c)
                cells.append(list().fgList->TextMatrix(r, c));
            rows.append(cells.join('|'));
        }
        return rows;
    }
    // Pressed on the run button, which stays enabled while the relay runs; the main window
    // sees the key first.
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(run->control<QPushButton>("cmdRun"), key, modifiers);
    }
};

} // namespace

// The connection list window and the list command in the three LAN roles against real peers.
class TestConnectionList : public QObject {
    Q_OBJECT
private slots:
    void listRowsKeepTheirColumns()
    {
        ListCopy copy("listRows", 1);
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
        ListCopy serverCopy("listServer", 1);
        ListCopy clientCopy("listClient", 2, "Server0=localhost\n");
        ListCopy& copy = server ? serverCopy : clientCopy;
        copy.key(Qt::Key_F8); // no connection: the command is disabled
        QVERIFY(!copy.list().isVisible());

        serverCopy.start();
        QTRY_COMPARE_WITH_TIMEOUT(serverCopy.w().Relay.wsocLan()->State(), 2, Patience);
        clientCopy.run->control<QLineEdit>("txtServerPort")
            ->setText(QString::number(serverCopy.w().Relay.wsocLan()->LocalPort()));
        clientCopy.start();
        QTRY_VERIFY_WITH_TIMEOUT(serverCopy.listEnabled() && clientCopy.listEnabled(), Patience);
        // The server sees the peer's address, the client the host as it was typed.
        const QStringList row{server ? "||127.0.0.1" : "||localhost"};
        copy.key(Qt::Key_F8);
        QVERIFY(copy.list().isVisible());
        QCOMPARE(copy.rows(), row);
        copy.key(Qt::Key_F8);
        QVERIFY(!copy.list().isVisible());
        copy.run->control<QAction>("mnuViewFlipList")->trigger(); // the menu command does the same
        QCOMPARE(copy.rows(), row);                               // cleared, not doubled
    }

    // F8 asks for the list, F5 followed within half a second by Shift+F8 (Ctrl counting for
    // nothing) for the whole list; Shift+F8 later is a plain request again.
    void hostRoleWithScriptedHost()
    {
        ScriptedPeer host;
        ListCopy copy("listHost", 3);
        copy.w().setRelayHostEndpoint("127.0.0.1", host.port());
        copy.start();
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
        copy.key(Qt::Key_F8, Qt::ShiftModifier | Qt::ControlModifier);
        QVERIFY(copy.list().isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(host.lines().size(), 3, Patience);
        host.send("LIST:alice:K:10.0.0.1\nLIST:bob:K:10.0.0.2\nLIST:carol:*:10.0.0.3\n");
        QTRY_COMPARE_WITH_TIMEOUT(copy.rows(), two + QStringList{"carol|*|10.0.0.3"}, Patience);

        copy.key(Qt::Key_F8);
        auto* hidden = copy.run->control<IntervalTimer>("tmrHidden");
        QTRY_VERIFY_WITH_TIMEOUT(!hidden->Enabled(), Patience);
        copy.key(Qt::Key_F8, Qt::ShiftModifier);
        // Lines arrive in order, so the hides sent nothing.
        QTRY_COMPARE_WITH_TIMEOUT(
            host.lines(), (QStringList{"AUTH:Guest:Vorm", "LIST", "LIST:ALL", "LIST"}), Patience);
    }
};

NIRVEX_TEST(TestConnectionList)
#include "tst_connectionlist.moc"
