#include "DesktopRun.h"
#include "FakeSerialPort.h"
#include "LanCopy.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "core/IntervalTimer.h"
#include "desktop/TagLabel.h"
#include "desktop/Twips.h"
#include "desktop/UiColors.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>

// The main window as a user meets it: the run button's wiring, layout on resize, key preview,
// typed destinations, the status panel and the stored geometry.
class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    // Pressing the run button with two mapped ports relays both ways and lights the lamps; the
    // receive lamp is of the red family and the send lamp of the green one.
    void runButtonRelays()
    {
        QTemporaryDir dir;
        FakeSerialPort source("fake:runSource"), destination("fake:runDestination");
        QVERIFY(DesktopRun::write(dir.filePath("nirvex.INI"),
                                  "[Ports]\nCOM1=fake:runSource\nCOM2=fake:runDestination\n"
                                  "[Settings]\nシリアルポート=1\nシリアルポート２=2\n"));
        DesktopRun run(dir.filePath("nirvex.INI"));
        auto* cmdRun = run.control<QPushButton>("cmdRun");
        const auto lamp = [&run](const char* name) {
            return run.control<TagLabel>(name)->palette().window().color();
        };
        QTest::mouseClick(cmdRun, Qt::LeftButton);
        QVERIFY(source.isOpen() && destination.isOpen());
        // The receive lamp stays lit for the burst, the send lamp until the source port has sent.
        run.w().Relay.tmrSer()->setInterval(3600 * 1000);
        source.setOutputHeld(true);
        QVERIFY(source.pushBytes("to destination"));
        QVERIFY(destination.pushBytes("to source"));
        QTRY_COMPARE(destination.written(), QByteArray("to destination"));
        QTRY_VERIFY(lamp("lblRecv") == UiColors::RedLit && lamp("lblSend") == UiColors::GreenLit);
        source.setOutputHeld(false);
        QTRY_COMPARE(source.written(), QByteArray("to source"));
        QTRY_COMPARE(lamp("lblSend"), UiColors::GreenDark);
        QTest::mouseClick(cmdRun, Qt::LeftButton);
        QVERIFY(!source.isOpen() && !destination.isOpen());
    }

    // The host typed in the destination box is the one the client connects to and stores,
    // whatever earlier hosts it resembles; Return adds nothing to the list.
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
        for (const auto& [key, value] : {std::pair{"Server0", typed},
                                         {"Server1", typed},
                                         {"Server2", earlier},
                                         {"ServerNum", QString("2")}})
            QCOMPARE(c.app.GetIniSetting("Settings", key, ""), value);
    }

    void resizeLayout_data()
    {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<bool>("statusBar");
        QTest::addColumn<QSize>("monitor");
        // Every row starts from a 706 x 470 client area, whose monitor area is 690 x 292.
        QTest::newRow("design size") << QSize(706, 470) << true << QSize(690, 292);
        QTest::newRow("status bar hidden") << QSize(706, 470) << false << QSize(690, 310);
        QTest::newRow("too narrow keeps width") << QSize(10, 400) << true << QSize(690, 222);
        QTest::newRow("too small for both") << QSize(5, 5) << false << QSize(690, 310);
    }
    void resizeLayout()
    {
        QFETCH(QSize, client);
        QFETCH(bool, statusBar);
        QFETCH(QSize, monitor);
        QTemporaryDir dir;
        DesktopRun run(dir.filePath("nirvex.INI"));
        if (run.w().screen()->logicalDotsPerInchX() != 96)
            QSKIP("screen is not at 96 DPI");
        QVERIFY(QTest::qWaitForWindowExposed(&run.w()));
        auto* statusItem = run.control<QAction>("mnuViewStatusBar");
        auto* bar = run.control<QWidget>("sbStatusBar");
        auto* picMon = run.control<QWidget>("picMon");
        run.w().centralWidget()->resize(706, 470);
        if (!statusBar)
            statusItem->trigger();
        QCOMPARE(statusItem->isChecked(), statusBar);
        run.w().centralWidget()->resize(client);
        QCOMPARE(picMon->size(), monitor);
        QCOMPARE(run.control<QScrollBar>("vsMon")->geometry(),
                 QRect(8 + monitor.width(), 152, 17, monitor.height()));
        QCOMPARE(bar->geometry(), QRect(0, client.height() - 18, client.width(), 18));
        QCOMPARE(bar->isVisible(), statusBar);
        if (!statusBar && client.height() >= 470) { // room enough to give the bar back
            statusItem->trigger();
            QVERIFY(statusItem->isChecked() && bar->isVisible());
            QCOMPARE(picMon->height(), monitor.height() - 18);
        }
    }

    // The window previews keys without taking them from the focused control; a long text from a
    // peer on the status panel is plain text and leaves the clock in view.
    void keysAndStatusText()
    {
        QTemporaryDir dir;
        DesktopRun run(dir.filePath("nirvex.INI"));
        run.control<QRadioButton>("optLan")->setChecked(true);
        run.w().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&run.w()));
        auto* port = run.control<QLineEdit>("txtPort");
        port->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), port);
        QTest::keyClick(port, Qt::Key_F5);
        QTest::keyClicks(port, "23");
        QCOMPARE(port->text(), QStringLiteral("100023"));

        const QString peerText = QStringLiteral("<img src=x>") + QString(400, QLatin1Char('E'));
        run.w().ShowStatus(peerText);
        QCOMPARE(run.status(), peerText);
        auto* bar = run.control<StatusBar>("sbStatusBar");
        QCOMPARE(bar->Panel("status")->textFormat(), Qt::PlainText);
        QTRY_VERIFY(bar->Panel("time")->geometry().right() < bar->width());
    }

    void storedGeometry_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("numbers") << QByteArray("[Settings]\nMainLeft=1500\nMainTop=750\n"
                                               "MainWidth=9000\nMainHeight=6000\n")
                                 << QRect(1500, 750, 9000, 6000);
        QTest::newRow("not numbers take defaults")
            << QByteArray("[Settings]\nMainLeft=abc\nMainTop=\nMainWidth=inf\nMainHeight=7200\n")
            << QRect(1000, 1000, 6500, 7200);
    }
    void storedGeometry()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QRect, twips);
        QTemporaryDir dir;
        QVERIFY(DesktopRun::write(dir.filePath("nirvex.INI"), profile));
        DesktopRun run(dir.filePath("nirvex.INI"));
        QVERIFY(QTest::qWaitForWindowExposed(&run.w()));
        QTRY_COMPARE(run.w().frameGeometry(),
                     Twips::toPixels(twips.x(), twips.y(), twips.width(), twips.height(),
                                     run.w().screen()->logicalDotsPerInchX()));
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
