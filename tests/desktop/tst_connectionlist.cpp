#include "DesktopRun.h"
#include "FakeSerialPort.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "core/IntervalTimer.h"
#include "desktop/FlexGrid.h"
#include "desktop/frmList.h"

#include <QPushButton>
#include <QTemporaryDir>

// The connection list window and the list commands against a scripted relay host.
class TestConnectionList : public QObject {
    Q_OBJECT
private slots:
    // F8 asks for the list, F5 then Shift+F8 within half a second for the whole list.
    void listCommandsInHostRole()
    {
        constexpr int Patience = 20000;
        ScriptedPeer host;
        QTemporaryDir dir;
        FakeSerialPort source("fake:listHost");
        QVERIFY(DesktopRun::write(dir.filePath("nirvex.INI"),
                                  "[Ports]\nCOM1=fake:listHost\n[Settings]\nシリアルポート=1\n"
                                  "DestType=3\nDestMode=3\n"));
        DesktopRun run(dir.filePath("nirvex.INI"));
        frmList& list = *run.app.ListForm;
        const auto rows = [&list] { // below the header, cells joined by "|"
            QStringList rows;
            for (int r = 1; r < list.fgList->Rows(); ++r) {
                QStringList cells;
                for (int c = 0; c < list.fgList->Cols(); ++c)
                    cells.append(list.fgList->TextMatrix(r, c));
                rows.append(cells.join('|'));
            }
            return rows;
        };
        // On the run button, which stays enabled while the relay runs.
        auto* cmdRun = run.control<QPushButton>("cmdRun");
        const auto key = [cmdRun](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
            QTest::keyClick(cmdRun, key, modifiers);
        };
        key(Qt::Key_F8); // no connection: the command is disabled
        QVERIFY(!list.isVisible());
        qputenv("NIRVEX_RELAY_HOST", "127.0.0.1:" + QByteArray::number(host.port()));
        QTest::mouseClick(cmdRun, Qt::LeftButton);
        qunsetenv("NIRVEX_RELAY_HOST");
        QTRY_COMPARE_WITH_TIMEOUT(host.lines(), QStringList{"AUTH:Guest:Vorm"}, Patience);
        host.send("AUTH:0\n");
        QTRY_VERIFY_WITH_TIMEOUT(run.w().Relay.Authenticated(), Patience);
        key(Qt::Key_F8);
        QVERIFY(list.isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(host.lines().size(), 2, Patience);
        host.send("LIST:alice:K:10.0.0.1\nLIST:bob:K:10.0.0.2\n");
        const QStringList two{"alice|K|10.0.0.1", "bob|K|10.0.0.2"};
        QTRY_COMPARE_WITH_TIMEOUT(rows(), two, Patience);
        key(Qt::Key_F8);
        QVERIFY(!list.isVisible());

        key(Qt::Key_F5);
        key(Qt::Key_F8, Qt::ShiftModifier | Qt::ControlModifier);
        QVERIFY(list.isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(host.lines().size(), 3, Patience);
        host.send("LIST:alice:K:10.0.0.1\nLIST:bob:K:10.0.0.2\nLIST:carol:*:10.0.0.3\n");
        QTRY_COMPARE_WITH_TIMEOUT(rows(), two + QStringList{"carol|*|10.0.0.3"}, Patience);
        key(Qt::Key_F8);
        QTRY_VERIFY_WITH_TIMEOUT(!run.control<IntervalTimer>("tmrHidden")->Enabled(), Patience);
        key(Qt::Key_F8, Qt::ShiftModifier);
        // Lines arrive in order, so the hides sent nothing.
        QTRY_COMPARE_WITH_TIMEOUT(
            host.lines(), (QStringList{"AUTH:Guest:Vorm", "LIST", "LIST:ALL", "LIST"}), Patience);

        list.AddListRow("ev\til", "k\t", "h"); // rows keep their columns
        QCOMPARE(rows().constLast(), "ev il|k |h");
        for (int i = 0; i < frmList::MaxListRows + 5; ++i) // a flood stops at the limit
            list.AddListRow(QString::number(i), "K", "h");
        QCOMPARE(list.fgList->Rows(), 1 + frmList::MaxListRows);
    }
};

NIRVEX_TEST(TestConnectionList)
#include "tst_connectionlist.moc"
