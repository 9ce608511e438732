#include "AsUser.h"
#include "PtyPair.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/IntervalTimer.h"
#include "core/ProfileFile.h"
#include "core/SerialPortControl.h"
#include "desktop/ColorButton.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/NirvexMain.h"
#include "desktop/StatusBar.h"
#include "desktop/TagLabel.h"
#include "desktop/frmMain.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// A loaded, shown main window on a profile whose "Ports" section maps the given COM numbers by
// hand, relaying COM3 to COM4 at 9600 bit/s, 8N1.
struct Copy {
    QTemporaryDir dir;
    NirvexMain app;
    std::unique_ptr<frmMain> w;
    int beeps = 0;

    // lister: the devices found on the machine, none when not given.
    explicit Copy(const QMap<int, QString>& ports, PortTable::DeviceLister lister = {})
    {
        app.IniPath = dir.filePath(QStringLiteral("nirvex.INI"));
        QFile profile(app.IniPath);
        if (profile.open(QIODevice::WriteOnly))
            profile.write("[Ports]\n");
        for (auto it = ports.cbegin(); it != ports.cend(); ++it)
            profile.write(QStringLiteral("COM%1=%2\n").arg(it.key()).arg(it.value()).toUtf8());
        profile.close();
        app.Ports.setDeviceLister(lister ? lister : [] { return QList<PortTable::Device>(); });
        w = std::make_unique<frmMain>(app);
        w->Load();
        w->Beep = [this] { ++beeps; };
        w->optSerial->setChecked(true);
        w->cmbComPort->setCurrentText(QStringLiteral("COM3"));
        w->cmbComPort2->setCurrentText(QStringLiteral("COM4"));
        for (QComboBox* speed : {w->cmbBPS, w->cmbBPS2})
            speed->setCurrentText(QStringLiteral("9600"));
        w->show();
    }
    void click() { QTest::mouseClick(w->cmdRun, Qt::LeftButton); }
    // Opens and closes a picker's list as the user would.
    static void dropDown(QComboBox* picker)
    {
        picker->showPopup();
        picker->hidePopup();
    }
    QString status() const { return w->sbStatusBar->panelText(QStringLiteral("status")); }
    static QStringList items(const QComboBox* c)
    {
        QStringList list;
        for (int i = 0; i < c->count(); ++i)
            list.append(c->itemText(i));
        return list;
    }
};

} // namespace

// The relay as the main window shows it: the run button drives the core and the lamps, the
// button and the frames follow it; the port pickers list what can be opened.
class TestRelayWindow : public QObject {
    Q_OBJECT
private slots:
    void runButtonDrivesTheRelay()
    {
        FakeSerialPort a(QStringLiteral("fake:windowA"));
        FakeSerialPort b(QStringLiteral("fake:windowB"));
        Copy c({{3, a.path()}, {4, b.path()}});
        c.click();
        QVERIFY(c.w->Relay.RelayRunning());
        QCOMPARE(c.w->cmdRun->text(), QStringLiteral("<=切断=>"));
        QVERIFY(!c.w->frmSer->isEnabled() && !c.w->frmDest->isEnabled());
        c.w->Relay.tmrSer()->setInterval(3600 * 1000);
        QVERIFY(a.pushBytes("abc"));
        QTRY_COMPARE(c.w->lblRecv->Tag, QStringLiteral("12"));
        QTRY_COMPARE(b.written(), QByteArray("abc"));
        c.click();
        QVERIFY(!c.w->Relay.RelayRunning() && !a.isOpen() && !b.isOpen());
        QCOMPARE(c.w->lblRecv->Tag, QStringLiteral("2"));
        QCOMPARE(c.w->cmdRun->text(), QStringLiteral("<=接続=>"));
        QVERIFY(c.w->frmSer->isEnabled() && c.w->frmDest->isEnabled());

        b.setOpenError(8005); // a refused start beeps and says why
        c.click();
        QCOMPARE(c.beeps, 1);
        QCOMPARE(c.status(),
                 QStringLiteral("転送先シリアルポートエラー [8005:ポートは既に開いています]"));
        QVERIFY(!c.w->Relay.RelayRunning() && !a.isOpen());
        QCOMPARE(c.w->cmdRun->text(), QStringLiteral("<=接続=>"));
    }

    // The window restores the profile into the same start settings as a program without one.
    void readsTheProfileAsTheCoreDoes()
    {
        FakeSerialPort a(QStringLiteral("fake:profileA"));
        QTemporaryDir dir;
        NirvexMain app;
        app.IniPath = dir.filePath(QStringLiteral("nirvex.INI"));
        QFile profile(app.IniPath);
        QVERIFY(profile.open(QIODevice::WriteOnly));
        profile.write("[Ports]\nCOM3=" + a.path().toUtf8() +
                      "\n[Settings]\nシリアルポート=3\n速度=110\nパリティ=Odd\nビット=x\n"
                      "速度２=9601\nDestType=3\nDestMode=2.5\nPort=12ab\nServerPort=-3\n"
                      "Server0=peer\nHostID=someone\n");
        profile.close();
        app.Ports.setDeviceLister([] { return QList<PortTable::Device>(); });
        frmMain w(app);
        w.Load();
        QCOMPARE(w.CurrentSettings(), RelaySettings::fromProfile(app.IniPath));
    }

    void portList()
    {
        FakeSerialPort free(QStringLiteral("fake:free"));
        FakeSerialPort held(QStringLiteral("fake:held"));
        held.setOpenError(8005);
        Copy c({{3, free.path()}, {7, held.path()}, {9, QStringLiteral("fake:missing")}});
        QCOMPARE(c.items(c.w->cmbComPort), (QStringList{"COM3", "COM7 (使用中)"}));

        c.w->cmbComPort2->setCurrentText(QStringLiteral("COM3"));
        c.w->cmbComPort_DropDown();
        QCOMPARE(c.items(c.w->cmbComPort), (QStringList{"COM3 (転送先)", "COM7 (使用中)"}));
        c.w->cmbComPort->setCurrentText(QStringLiteral("COM3 (転送先)"));
        c.w->cmbComPort2_DropDown();
        QCOMPARE(c.items(c.w->cmbComPort2), (QStringList{"COM3 (転送元)", "COM7 (使用中)"}));
        QCOMPARE(c.w->cmbComPort2->currentIndex(), -1); // "COM3" is gone: no selection

        c.w->cmbComPort->setCurrentText(QStringLiteral("COM7 (使用中)"));
        c.w->cmbComPort2_DropDown();
        QCOMPARE(c.items(c.w->cmbComPort2), (QStringList{"COM3", "COM7 (転送元) (使用中)"}));
        held.setOpenError(0);
        c.w->cmbComPort_DropDown();
        QCOMPARE(c.w->cmbComPort->currentIndex(), -1); // its mark went away
        c.w->cmbComPort->setCurrentText(QStringLiteral("COM7"));
        c.w->cmbComPort_DropDown();
        QCOMPARE(c.w->cmbComPort->currentText(), QStringLiteral("COM7"));
    }

    // A device plugged in after start-up is numbered when a list drops down; numbers given
    // before stay, and the new one is kept in the profile.
    void portPluggedInLater()
    {
        PtyPair mapped, early, late;
        QVERIFY(mapped.isValid() && early.isValid() && late.isValid());
        QList<PortTable::Device> present{{"early", early.slavePath()}};
        Copy c({{2, mapped.slavePath()}}, [&present] { return present; });
        QCOMPARE(c.items(c.w->cmbComPort2), (QStringList{"COM1", "COM2"}));
        present.append({"late", late.slavePath()});
        c.dropDown(c.w->cmbComPort2);
        QCOMPARE(c.items(c.w->cmbComPort2), (QStringList{"COM1", "COM2", "COM3"}));
        QCOMPARE(c.app.Ports.devicePath(1), early.slavePath());
        QCOMPARE(c.app.Ports.devicePath(2), mapped.slavePath());
        QCOMPARE(c.app.Ports.devicePath(3), late.slavePath());
        c.w->close();
        QCOMPARE(ProfileFile::readValue(c.app.IniPath, "Ports", "COM3", ""), late.slavePath());
    }

    // Devices this user may not open are not listed, and the first drop-down that meets them
    // names the group that would let the user in, once; later drop-downs say nothing more.
    void portRefusedToThisUser()
    {
        PtyPair one, two;
        QVERIFY(one.isValid() && two.isValid());
        Copy c({{4, one.slavePath()}, {6, two.slavePath()}});
        QCOMPARE(c.items(c.w->cmbComPort), (QStringList{"COM4", "COM6"}));
        const QString group = QFileInfo(one.slavePath()).group();
        for (const PtyPair* pty : {&one, &two})
            QVERIFY(QFile::setPermissions(pty->slavePath(), {}));
        AsUser user;
        if (!user.ok())
            QSKIP("running as root and cannot become an unprivileged user");
        c.dropDown(c.w->cmbComPort);
        QCOMPARE(c.items(c.w->cmbComPort), QStringList());
        QCOMPARE(c.status(), "シリアルポートを開く権限がありません。ユーザーを " + group +
                                 " グループに追加してください。");
        c.w->sbStatusBar->setPanelText(QStringLiteral("status"), QStringLiteral("ｽﾃｰﾀｽ"));
        c.dropDown(c.w->cmbComPort2);
        QCOMPARE(c.items(c.w->cmbComPort2), QStringList());
        QCOMPARE(c.status(), QStringLiteral("ｽﾃｰﾀｽ"));
    }
};

NIRVEX_TEST(TestRelayWindow)
#include "tst_relaywindow.moc"
