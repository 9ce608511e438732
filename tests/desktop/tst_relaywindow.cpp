#include "AsUser.h"
#include "LanCopy.h"
#include "PtyPair.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/IntervalTimer.h"
#include "core/ProfileFile.h"
#include "desktop/ColorButton.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/StatusBar.h"
#include "desktop/TagLabel.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QRadioButton>
#include <QTest>

namespace {

QStringList items(const QComboBox* c)
{
    QStringList list;
    for (int i = 0; i < c->count(); ++i)
        list.append(c->itemText(i));
    return list;
}

// Opens and closes a picker's list as the user would.
void dropDown(QComboBox* picker)
{
    picker->showPopup();
    picker->hidePopup();
}

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
        LanCopy c(a.path(), 2);
        int beeps = 0;
        c.w->Beep = [&beeps] { ++beeps; };
        c.app.Ports.setEntry(2, b.path());
        c.w->cmbComPort2_DropDown();
        c.w->findChild<DropDownComboBox*>("cmbComPort2")->setCurrentText(QStringLiteral("COM2"));
        c.w->findChild<QRadioButton*>("optSerial")->setChecked(true);
        c.click();
        QVERIFY(c.w->Relay.RelayRunning());
        QCOMPARE(c.w->findChild<ColorButton*>("cmdRun")->text(), QStringLiteral("<=切断=>"));
        QVERIFY(!c.w->findChild<QGroupBox*>("frmSer")->isEnabled() &&
                !c.w->findChild<QGroupBox*>("frmDest")->isEnabled());
        c.holdBurst();
        QVERIFY(a.pushBytes("abc"));
        QTRY_COMPARE(c.w->findChild<TagLabel*>("lblRecv")->Tag, QStringLiteral("12"));
        QTRY_COMPARE(b.written(), QByteArray("abc"));
        c.click();
        QVERIFY(!c.w->Relay.RelayRunning() && !a.isOpen() && !b.isOpen());
        QCOMPARE(c.w->findChild<TagLabel*>("lblRecv")->Tag, QStringLiteral("2"));
        QCOMPARE(c.w->findChild<ColorButton*>("cmdRun")->text(), QStringLiteral("<=接続=>"));
        QVERIFY(c.w->findChild<QGroupBox*>("frmSer")->isEnabled() &&
                c.w->findChild<QGroupBox*>("frmDest")->isEnabled());

        b.setOpenError(8005); // a refused start beeps and says why
        c.click();
        QCOMPARE(beeps, 1);
        QCOMPARE(c.status(),
                 QStringLiteral("転送先シリアルポートエラー [8005:ポートは既に開いています]"));
        QVERIFY(!c.w->Relay.RelayRunning() && !a.isOpen());
        QCOMPARE(c.w->findChild<ColorButton*>("cmdRun")->text(), QStringLiteral("<=接続=>"));
    }

    // The window restores the profile into the same start settings as a program without one.
    void readsTheProfileAsTheCoreDoes()
    {
        FakeSerialPort a(QStringLiteral("fake:profileA"));
        LanCopy c(a.path(), 1);
        QFile profile(c.app.IniPath);
        QVERIFY(profile.open(QIODevice::Append));
        profile.write(
            "[Settings]\nシリアルポート=1\n速度=110\nパリティ=Odd\nビット=x\n速度２=9601\n"
            "DestType=3\nDestMode=2.5\nPort=12ab\nServerPort=-3\nServer0=peer\n"
            "HostID=someone\n");
        profile.close();
        frmMain w(c.app);
        w.Load();
        QCOMPARE(w.CurrentSettings(), RelaySettings::fromProfile(c.app.IniPath));
    }

    void portList()
    {
        FakeSerialPort free(QStringLiteral("fake:free"));
        FakeSerialPort held(QStringLiteral("fake:held"));
        held.setOpenError(8005);
        LanCopy c(free.path(), 1);
        c.app.Ports.setEntry(7, held.path());
        c.app.Ports.setEntry(9, QStringLiteral("fake:missing"));
        c.w->findChild<DropDownComboBox*>("cmbComPort2")->setCurrentText(QStringLiteral("COM1"));
        c.w->cmbComPort_DropDown();
        QCOMPARE(items(c.w->findChild<DropDownComboBox*>("cmbComPort")),
                 (QStringList{"COM1 (転送先)", "COM7 (使用中)"}));
        c.w->findChild<DropDownComboBox*>("cmbComPort")
            ->setCurrentText(QStringLiteral("COM1 (転送先)"));
        c.w->cmbComPort2_DropDown();
        QCOMPARE(items(c.w->findChild<DropDownComboBox*>("cmbComPort2")),
                 (QStringList{"COM1 (転送元)", "COM7 (使用中)"}));
        QCOMPARE(c.w->findChild<DropDownComboBox*>("cmbComPort2")->currentIndex(),
                 -1); // "COM1" is gone: no selection

        c.w->findChild<DropDownComboBox*>("cmbComPort")
            ->setCurrentText(QStringLiteral("COM7 (使用中)"));
        c.w->cmbComPort2_DropDown();
        QCOMPARE(items(c.w->findChild<DropDownComboBox*>("cmbComPort2")),
                 (QStringList{"COM1", "COM7 (転送元) (使用中)"}));
        held.setOpenError(0);
        c.w->cmbComPort_DropDown();
        QCOMPARE(c.w->findChild<DropDownComboBox*>("cmbComPort")->currentIndex(),
                 -1); // its mark went away
        c.w->findChild<DropDownComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM7"));
        c.w->cmbComPort_DropDown();
        QCOMPARE(c.w->findChild<DropDownComboBox*>("cmbComPort")->currentText(),
                 QStringLiteral("COM7"));
    }

    // A device plugged in after start-up is numbered when a list drops down; numbers given
    // before stay, and the new one is kept in the profile.
    void portPluggedInLater()
    {
        PtyPair mapped, late;
        QVERIFY(mapped.isValid() && late.isValid());
        LanCopy c(mapped.slavePath(), 1);
        c.app.Ports.setDeviceLister([&late] {
            return QList<PortTable::Device>{{"late", late.slavePath()}};
        });
        dropDown(c.w->findChild<DropDownComboBox*>("cmbComPort2"));
        QCOMPARE(items(c.w->findChild<DropDownComboBox*>("cmbComPort2")),
                 (QStringList{"COM1 (転送元)", "COM2"}));
        QCOMPARE(c.app.Ports.devicePath(1), mapped.slavePath());
        QCOMPARE(c.app.Ports.devicePath(2), late.slavePath());
        c.w->close();
        QCOMPARE(ProfileFile::readValue(c.app.IniPath, "Ports", "COM2", ""), late.slavePath());
    }

    // Devices this user may not open are not listed, and the first drop-down that meets them
    // names the group that would let the user in, once; later drop-downs say nothing more.
    void portRefusedToThisUser()
    {
        PtyPair one, two;
        QVERIFY(one.isValid() && two.isValid());
        LanCopy c(one.slavePath(), 1);
        c.app.Ports.setEntry(6, two.slavePath());
        const QString group = QFileInfo(one.slavePath()).group();
        for (const PtyPair* pty : {&one, &two})
            QVERIFY(QFile::setPermissions(pty->slavePath(), {}));
        AsUser user;
        if (!user.ok())
            QSKIP("running as root and cannot become an unprivileged user");
        dropDown(c.w->findChild<DropDownComboBox*>("cmbComPort"));
        QCOMPARE(items(c.w->findChild<DropDownComboBox*>("cmbComPort")), QStringList());
        QCOMPARE(c.status(), "シリアルポートを開く権限がありません。ユーザーを " + group +
                                 " グループに追加してください。");
        c.w->findChild<StatusBar*>("sbStatusBar")
            ->setPanelText(QStringLiteral("status"), QStringLiteral("ｽﾃｰﾀｽ"));
        dropDown(c.w->findChild<DropDownComboBox*>("cmbComPort2"));
        QCOMPARE(items(c.w->findChild<DropDownComboBox*>("cmbComPort2")), QStringList());
        QCOMPARE(c.status(), QStringLiteral("ｽﾃｰﾀｽ"));
    }
};

NIRVEX_TEST(TestRelayWindow)
#include "tst_relaywindow.moc"
