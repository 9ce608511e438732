#include "AsUser.h"
#include "DesktopRun.h"
#include "FakeSerialPort.h"
#include "LanCopy.h"
#include "PtyPair.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "core/IntervalTimer.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/TagLabel.h"
#include "desktop/UiColors.h"

#include <QAction>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

// The main window driving the relay core and showing its state, the port pickers and the close.
class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    // Button, frames and lamps follow the relay; a refused start beeps and says why.
    void runButtonDrivesTheRelay()
    {
        QTemporaryDir dir;
        FakeSerialPort a("fake:runA"), b("fake:runB");
        QVERIFY(DesktopRun::write(dir.filePath("nirvex.INI"),
                                  "[Ports]\nCOM1=fake:runA\nCOM2=fake:runB\n"
                                  "[Settings]\nシリアルポート=1\nシリアルポート２=2\n"));
        DesktopRun run(dir.filePath("nirvex.INI"));
        int beeps = 0;
        run.w().Beep = [&beeps] { ++beeps; };
        auto* cmdRun = run.control<QPushButton>("cmdRun");
        const auto lamp = [&run](const char* name) {
            return run.control<TagLabel>(name)->palette().window().color();
        };
        const auto idle = [&run, cmdRun](bool yes) {
            return cmdRun->text() == (yes ? "<=接続=>" : "<=切断=>") &&
                   run.control<QGroupBox>("frmSer")->isEnabled() == yes &&
                   run.control<QGroupBox>("frmDest")->isEnabled() == yes &&
                   run.w().Relay.RelayRunning() != yes;
        };
        QTest::mouseClick(cmdRun, Qt::LeftButton);
        QVERIFY(a.isOpen() && b.isOpen() && idle(false));
        // The receive lamp stays lit for the burst, the send lamp until the source port has sent.
        run.w().Relay.tmrSer()->setInterval(3600 * 1000);
        a.setOutputHeld(true);
        QVERIFY(a.pushBytes("to destination") && b.pushBytes("to source"));
        QTRY_COMPARE(b.written(), QByteArray("to destination"));
        QTRY_VERIFY(lamp("lblRecv") == UiColors::RedLit && lamp("lblSend") == UiColors::GreenLit);
        a.setOutputHeld(false);
        QTRY_COMPARE(a.written(), QByteArray("to source"));
        QTRY_COMPARE(lamp("lblSend"), UiColors::GreenDark);
        QTest::mouseClick(cmdRun, Qt::LeftButton);
        QVERIFY(!a.isOpen() && !b.isOpen() && idle(true));
        QCOMPARE(lamp("lblRecv"), UiColors::RedDark);

        b.setOpenError(8005);
        QTest::mouseClick(cmdRun, Qt::LeftButton);
        QCOMPARE(beeps, 1);
        QCOMPARE(run.status(), "転送先シリアルポートエラー [8005:ポートは既に開いています]");
        QVERIFY(!a.isOpen() && idle(true));
        // A long text from a peer is shown as plain text and leaves the clock in view.
        const QString peerText = "<img src=x>" + QString(400, 'E');
        run.w().ShowStatus(peerText);
        QCOMPARE(run.status(), peerText);
        auto* bar = run.control<StatusBar>("sbStatusBar");
        QCOMPARE(bar->Panel("status")->textFormat(), Qt::PlainText);
        QVERIFY(QTest::qWaitForWindowExposed(&run.w()));
        QTRY_VERIFY(bar->Panel("time")->geometry().right() < bar->width());
    }

    // The window restores the profile into the same start settings as a program without one.
    void readsTheProfileAsTheCoreDoes()
    {
        FakeSerialPort a("fake:profileA");
        TestCopy c({{1, a.path()}},
                   "[Settings]\nシリアルポート=1\n速度=110\nパリティ=Odd\nビット=x\n速度２=9601\n"
                   "DestType=3\nDestMode=2.5\nPort=12ab\nServerPort=-3\nServer0=peer\n"
                   "HostID=someone\n[LanAccess]\nAllow=10.0.0.5\nallow=fd00::/8\n");
        QCOMPARE(c.w->CurrentSettings(), RelaySettings::fromProfile(c.app.IniPath));
    }

    // Pickers mark ports in use and the other side's, and number devices plugged in later.
    void portList()
    {
        FakeSerialPort free("fake:free"), held("fake:held"), late("fake:late");
        held.setOpenError(8005);
        LanCopy c(free.path(), 1);
        c.app.Ports.setEntry(7, held.path());
        c.app.Ports.setEntry(9, "fake:missing");
        c.app.Ports.setDeviceLister([] { return QList<PortTable::Device>{{"late", "fake:late"}}; });
        const auto items = [](const QComboBox* picker) {
            QStringList list;
            for (int i = 0; i < picker->count(); ++i)
                list.append(picker->itemText(i));
            return list;
        };
        auto* source = c.w->findChild<DropDownComboBox*>("cmbComPort");
        auto* dest = c.w->findChild<DropDownComboBox*>("cmbComPort2");
        dest->setCurrentText("COM1");
        source->showPopup();
        source->hidePopup();
        QCOMPARE(items(source), (QStringList{"COM1 (転送先)", "COM2", "COM7 (使用中)"}));
        source->setCurrentText("COM1 (転送先)");
        c.w->cmbComPort2_DropDown();
        QCOMPARE(items(dest), (QStringList{"COM1 (転送元)", "COM2", "COM7 (使用中)"}));
        QCOMPARE(dest->currentIndex(), -1); // "COM1" is gone
        source->setCurrentText("COM7 (使用中)");
        c.w->cmbComPort2_DropDown();
        QCOMPARE(items(dest), (QStringList{"COM1", "COM2", "COM7 (転送元) (使用中)"}));
        held.setOpenError(0);
        c.w->cmbComPort_DropDown();
        QCOMPARE(source->currentIndex(), -1); // its mark went away
        source->setCurrentText("COM7");
        c.w->cmbComPort_DropDown();
        QCOMPARE(source->currentText(), "COM7");
    }

    // Devices this user may not open are not listed; the group to join is named once.
    void portRefusedToThisUser()
    {
        PtyPair pty;
        QVERIFY(pty.isValid());
        LanCopy c(pty.slavePath(), 1);
        const QString group = QFileInfo(pty.slavePath()).group();
        QVERIFY(QFile::setPermissions(pty.slavePath(), {}));
        AsUser user;
        if (!user.ok())
            QSKIP("running as root and cannot become an unprivileged user");
        QString note = "シリアルポートを開く権限がありません。ユーザーを " + group +
                       " グループに追加してください。";
        for (const char* name : {"cmbComPort", "cmbComPort2"}) {
            auto* picker = c.w->findChild<DropDownComboBox*>(name);
            picker->showPopup();
            picker->hidePopup();
            QCOMPARE(picker->count(), 0);
            QCOMPARE(c.status(), note);
            c.w->findChild<StatusBar*>("sbStatusBar")->setPanelText("status", "ｽﾃｰﾀｽ");
            note = "ｽﾃｰﾀｽ"; // said once
        }
    }

    // The typed host is the one connected to and stored, whatever earlier hosts it resembles.
    void typedDestination_data()
    {
        QTest::addColumn<QString>("earlier");
        QTest::addColumn<QString>("typed");
        QTest::newRow("prefix of an earlier host") << QString("127.0.0.12") << QString("127.0.0.1");
        QTest::newRow("earlier host in capitals") << QString("LOCALHOST") << QString("localhost");
    }
    void typedDestination()
    {
        QFETCH(QString, earlier);
        QFETCH(QString, typed);
        FakeSerialPort source("fake:typedDestination");
        ScriptedPeer peer;
        LanCopy c(source.path(), 2);
        auto* dest = c.w->findChild<QComboBox*>("cmbDest");
        dest->addItem(earlier);
        c.w->findChild<QLineEdit*>("txtServerPort")->setText(QString::number(peer.port()));
        c.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(c.w.get()));
        dest->lineEdit()->setFocus();
        dest->lineEdit()->clear();
        // Keys reach the window as the user's do, so an open popup of matches sees them first.
        for (const QChar ch : typed)
            QTest::keyClick(c.w->windowHandle(), ch.toLatin1());
        QTest::keyClick(c.w->windowHandle(), Qt::Key_Return);
        QCOMPARE(dest->count(), 1);
        c.click();
        QTRY_VERIFY_WITH_TIMEOUT(c.lampOn() && peer.connected(), 20000);
        c.w->close();
        QStringList stored;
        for (const char* key : {"Server0", "Server1", "Server2", "ServerNum"})
            stored << c.app.GetIniSetting("Settings", key, "");
        QCOMPARE(stored, QStringList({typed, typed, earlier, "2"}));
    }

    // Closed while minimised: the other windows close with it and no geometry is stored.
    void minimisedExitClosesOtherWindowsAndStoresNothing()
    {
        QTemporaryDir dir;
        DesktopRun run(dir.filePath("nirvex.INI"));
        QWidget other;
        other.show();
        run.w().AddLoadedWindow(&other);
        run.w().showMinimized();
        QTRY_VERIFY(run.w().isMinimized());
        run.control<QAction>("mnuFileExit")->trigger();
        QVERIFY(!run.w().isVisible() && !other.isVisible());
        for (const char* key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"})
            QCOMPARE(run.app.GetIniSetting("Settings", key, "missing"), QStringLiteral("missing"));
    }
};

NIRVEX_TEST(TestMainWindow)
#include "tst_mainwindow.moc"
