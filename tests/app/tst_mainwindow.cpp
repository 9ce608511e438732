#include "LanCopy.h"
#include "ScriptedPeer.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/IntervalTimer.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/NirvexMain.h"
#include "desktop/StatusBar.h"
#include "desktop/Twips.h"
#include "desktop/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// A loaded main window on a profile file of its own.
struct Window {
    QTemporaryDir dir;
    NirvexMain app;
    std::unique_ptr<frmMain> w;

    explicit Window(const QByteArray& profile = {})
    {
        app.IniPath = dir.filePath(QStringLiteral("nirvex.INI"));
        if (!profile.isEmpty()) {
            QFile file(app.IniPath);
            if (file.open(QIODevice::WriteOnly))
                file.write(profile);
        }
        w = std::make_unique<frmMain>(app);
        w->Load();
    }
    QString value(const char* key)
    {
        return app.GetIniSetting(QStringLiteral("Settings"), QLatin1String(key), "missing");
    }
    bool showActive()
    {
        w->show();
        w->activateWindow();
        return QTest::qWaitForWindowActive(w.get());
    }
};

} // namespace

// The main window's controls, layout on resize, key preview and stored geometry.
class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void returnInDestinationBoxAddsNothing()
    {
        Window f;
        frmMain& w = *f.w;
        QVERIFY(w.cmbDest->isEditable());
        w.cmbDest->lineEdit()->setText(QStringLiteral("10.1.2.3"));
        QTest::keyClick(w.cmbDest->lineEdit(), Qt::Key_Return);
        QCOMPARE(w.cmbDest->count(), 0);
    }

    // The host typed in the destination box is the one the client connects to and stores,
    // whatever earlier hosts it resembles.
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
        FakeSerialPort source(QStringLiteral("fake:typedDestination"));
        ScriptedPeer peer;
        LanCopy c(source.path(), 2);
        c.w->cmbDest->addItem(earlier);
        c.w->txtServerPort->setText(QString::number(peer.port()));
        c.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(c.w.get()));
        QLineEdit* edit = c.w->cmbDest->lineEdit();
        edit->setFocus();
        edit->clear();
        // Keys reach the window as the user's do, so an open popup of matches sees them first.
        for (const QChar ch : typed)
            QTest::keyClick(c.w->windowHandle(), ch.toLatin1());
        QTest::keyClick(c.w->windowHandle(), Qt::Key_Return);
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
        Window f;
        frmMain& w = *f.w;
        if (w.Dpi() != 96)
            QSKIP("screen is not at 96 DPI");
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.ClientArea()->resize(706, 470);
        if (!statusBar)
            w.mnuViewStatusBar->trigger();
        QCOMPARE(w.mnuViewStatusBar->isChecked(), statusBar);
        w.ClientArea()->resize(client);
        QCOMPARE(w.picMon->size(), monitor);
        QCOMPARE(w.vsMon->geometry(), QRect(8 + monitor.width(), 152, 17, monitor.height()));
        QCOMPARE(w.sbStatusBar->geometry(), QRect(0, client.height() - 18, client.width(), 18));
        QCOMPARE(w.sbStatusBar->isVisible(), statusBar);
        if (!statusBar && client.height() >= 470) { // room enough to give the bar back
            w.mnuViewStatusBar_Click();
            QVERIFY(w.mnuViewStatusBar->isChecked() && w.sbStatusBar->isVisible());
            QCOMPARE(w.picMon->height(), monitor.height() - 18);
        }
    }

    void hiddenKeys_data()
    {
        QTest::addColumn<bool>("listEnabled");
        QTest::addColumn<bool>("timerExpired");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("expected"); // -1: SendList not called
        QTest::newRow("F5 then Shift+F8") << true << false << int(Qt::ShiftModifier) << 1;
        QTest::newRow("Shift+F8 after the timer fired")
            << true << true << int(Qt::ShiftModifier) << 0;
        QTest::newRow("plain F8") << true << false << int(Qt::NoModifier) << 0;
        QTest::newRow("Ctrl+Shift+F8")
            << true << false << int(Qt::ControlModifier | Qt::ShiftModifier) << 1;
        QTest::newRow("list item disabled") << false << false << int(Qt::ShiftModifier) << -1;
    }
    void hiddenKeys()
    {
        QFETCH(bool, listEnabled);
        QFETCH(bool, timerExpired);
        QFETCH(int, modifiers);
        QFETCH(int, expected);
        Window f;
        frmMain& w = *f.w;
        w.mnuViewFlipList->setEnabled(listEnabled);
        QVERIFY(f.showActive());
        QSignalSpy calls(&w, &frmMain::sendListRequested);
        w.cmbBPS->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), w.cmbBPS);

        QTest::keyClick(w.cmbBPS, Qt::Key_F5);
        QVERIFY(w.tmrHidden->Enabled());
        if (timerExpired)
            QTRY_VERIFY_WITH_TIMEOUT(!w.tmrHidden->Enabled(), 10000);
        QTest::keyClick(w.cmbBPS, Qt::Key_F8, Qt::KeyboardModifiers(modifiers));
        if (expected < 0) {
            QCOMPARE(calls.count(), 0);
        } else {
            QCOMPARE(calls.count(), 1);
            QCOMPARE(calls.at(0).at(0).toBool(), expected == 1);
        }
    }

    void keysStillReachFocusedControl()
    {
        Window f;
        frmMain& w = *f.w;
        w.frmLan->show();
        QVERIFY(f.showActive());
        w.tmrHidden_Timer();
        w.txtPort->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), w.txtPort);
        QTest::keyClick(w.txtPort, Qt::Key_F5);
        QVERIFY(w.tmrHidden->Enabled());
        QTest::keyClicks(w.txtPort, QStringLiteral("23"));
        QCOMPARE(w.txtPort->text(), QStringLiteral("100023"));
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
        Window f(profile);
        f.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.w.get()));
        QTRY_COMPARE(f.w->frameGeometry(), Twips::toPixels(twips.x(), twips.y(), twips.width(),
                                                           twips.height(), f.w->Dpi()));
    }

    // Closed while minimised: the other windows close with it and no geometry is stored.
    void minimisedExitClosesOtherWindowsAndStoresNothing()
    {
        Window f;
        QWidget other;
        other.show();
        f.w->AddLoadedWindow(&other);
        f.w->showMinimized();
        QTRY_VERIFY(f.w->isMinimized());
        f.w->mnuFileExit->trigger();
        QVERIFY(!f.w->isVisible() && !other.isVisible());
        for (const char* key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"})
            QCOMPARE(f.value(key), QStringLiteral("missing"));
    }
};

NIRVEX_TEST(TestMainWindow)
#include "tst_mainwindow.moc"
