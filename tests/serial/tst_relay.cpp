#include "AsUser.h"
#include "LanCopy.h"
#include "PtyPair.h"
#include "TestRegistry.h"

#include "app/ColorButton.h"
#include "app/DropDownComboBox.h"
#include "app/ExtractNumber.h"
#include "app/IntervalTimer.h"
#include "app/NirvexMain.h"
#include "app/ProfileFile.h"
#include "app/StatusBar.h"
#include "app/TagLabel.h"
#include "app/frmMain.h"
#include "serial/FakeSerialPort.h"
#include "serial/SerialPortControl.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// One copy of Nirvex: a loaded, shown main window on a profile whose "Ports" section maps the
// given COM numbers by hand, set to 8 data bits, no parity, 1 stop bit.
struct Copy {
    QTemporaryDir dir;
    NirvexMain app;
    std::unique_ptr<frmMain> w;
    int beeps = 0;

    // lister: the devices found on the machine, none when not given.
    explicit Copy(const QMap<int, QString>& ports, const QString& speed = QStringLiteral("9600"),
                  PortTable::DeviceLister lister = {})
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
        w->Relay.Beep = [this] { ++beeps; };
        w->optSerial->setChecked(true);
        w->optClient->setChecked(true);
        const QStringList texts{speed, QStringLiteral("None"), QStringLiteral("8"),
                                QStringLiteral("1")};
        const QList<QComboBox*> pickers{w->cmbBPS,  w->cmbParity,  w->cmbBits,  w->cmbStopBits,
                                        w->cmbBPS2, w->cmbParity2, w->cmbBits2, w->cmbStopBits2};
        for (int i = 0; i < pickers.size(); ++i)
            pickers[i]->setCurrentText(texts[i % 4]);
        w->show();
    }
    // Selects the picker items of these port numbers (0: no selection).
    void ports(int source, int destination)
    {
        for (auto [c, n] : {std::pair{w->cmbComPort, source}, {w->cmbComPort2, destination}}) {
            c->setCurrentIndex(-1);
            for (int i = 0; i < c->count(); ++i)
                if (ExtractNumber(c->itemText(i)) == n)
                    c->setCurrentIndex(i);
        }
    }
    void click() { QTest::mouseClick(w->cmdRun, Qt::LeftButton); }
    // Opens and closes a picker's list as the user would.
    static void dropDown(QComboBox* picker)
    {
        picker->showPopup();
        picker->hidePopup();
    }
    // Keeps the source timer from ending the burst until its interval is set again.
    void holdBurst() { w->tmrSer->setInterval(3600 * 1000); }
    QString status() const { return w->sbStatusBar->panelText(QStringLiteral("status")); }
    // The button, its colour and the frames as they are while the relay runs, or while it idles
    // with both ports closed.
    void expectState(bool running) const
    {
        QCOMPARE(app.RelayRunning, running);
        QCOMPARE(w->cmdRun->text(),
                 running ? QStringLiteral("<=切断=>") : QStringLiteral("<=接続=>"));
        QCOMPARE(w->cmdRun->BackColor(), running ? QColor(192, 255, 192) : QColor(255, 192, 192));
        QCOMPARE(w->frmSer->isEnabled(), !running);
        QCOMPARE(w->frmDest->isEnabled(), !running);
        if (!running)
            QVERIFY(!w->comSer->PortOpen() && !w->comDest->PortOpen());
    }
    static QStringList items(const QComboBox* c)
    {
        QStringList list;
        for (int i = 0; i < c->count(); ++i)
            list.append(c->itemText(i));
        return list;
    }
};

QByteArray sample(qsizetype size)
{
    QByteArray bytes("\x00\xff\x00\x11\x13\r\n", 7);
    while (bytes.size() < size)
        bytes.append(char(QRandomGenerator::global()->generate()));
    return bytes;
}

const QString sourceError = QStringLiteral("シリアルポートエラー ");
const QString destinationError = QStringLiteral("転送先シリアルポートエラー ");

} // namespace

// The serial relay of the main window: port lists, start and stop, bytes, modem lines, lamps.
class TestRelay : public QObject {
    Q_OBJECT
private slots:
    void modemLinesCrossOver_data()
    {
        QTest::addColumn<int>("destination");
        QTest::addColumn<bool>("fromSource");
        QTest::addColumn<bool>("cts");
        QTest::newRow("source CTS to destination RTS") << 4 << true << true;
        QTest::newRow("source DSR to destination DTR") << 4 << true << false;
        QTest::newRow("destination CTS to source RTS") << 4 << false << true;
        QTest::newRow("destination DSR to source DTR") << 4 << false << false;
        QTest::newRow("echo: CTS to its own RTS") << 3 << true << true;
        QTest::newRow("echo: DSR to its own DTR") << 3 << true << false;
    }
    void modemLinesCrossOver()
    {
        QFETCH(int, destination);
        QFETCH(bool, fromSource);
        QFETCH(bool, cts);
        FakeSerialPort a(QStringLiteral("fake:relayA"));
        FakeSerialPort b(QStringLiteral("fake:relayB"));
        Copy c({{3, a.path()}, {4, b.path()}});
        c.ports(3, destination);
        c.click();
        QVERIFY(c.app.RelayRunning);
        FakeSerialPort& input = fromSource ? a : b;
        FakeSerialPort& output = destination == 3 || !fromSource ? a : b;
        for (bool on : {true, false, true}) {
            cts ? input.setCts(on) : input.setDsr(on);
            QTRY_COMPARE(cts ? output.rts() : output.dtr(), on);
        }
    }

    void lampsFollowTheTraffic()
    {
        FakeSerialPort a(QStringLiteral("fake:relayA"));
        FakeSerialPort b(QStringLiteral("fake:relayB"));
        Copy c({{3, a.path()}, {4, b.path()}});
        c.ports(3, 4);
        c.click();
        c.holdBurst();
        QVERIFY(a.pushBytes("abc"));
        QTRY_COMPARE(c.w->lblRecv->Tag, QStringLiteral("12"));
        QCOMPARE(c.w->lblRecv->BackColor(), QColor(255, 64, 64));
        QTRY_COMPARE(b.written(), QByteArray("abc"));
        c.w->tmrSer->setInterval(1);
        QTRY_COMPARE(c.w->lblRecv->Tag, QStringLiteral("2"));
        QCOMPARE(c.w->lblRecv->BackColor(), QColor(64, 0, 0));

        a.setOutputHeld(true); // no send event while the bytes wait in the source port
        QVERIFY(b.pushBytes("xyz"));
        QTRY_COMPARE(c.w->lblSend->Tag, QStringLiteral("11"));
        QCOMPARE(c.w->lblSend->BackColor(), QColor(64, 255, 64));
        a.setOutputHeld(false);
        QTRY_COMPARE(c.w->lblSend->Tag, QStringLiteral("1"));
        QCOMPARE(c.w->lblSend->BackColor(), QColor(0, 64, 0));
        QCOMPARE(a.written(), QByteArray("xyz"));

        TagLabel other; // a tag of another family is left alone
        other.Tag = QStringLiteral("13");
        SerialRelay::SetLamp(&other, 1);
        QCOMPARE(other.Tag, QStringLiteral("13"));
    }

    void lanCollectsInBlocks_data()
    {
        QTest::addColumn<int>("role"); // 1 server, 2 client
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("flushes");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("interval");
        QTest::newRow("256 bytes") << 2 << "110" << 256 << QList<int>{256} << 0 << 109;
        QTest::newRow("600 bytes, 0.4 ms a character")
            << 1 << "28800" << 600 << QList<int>{256, 256} << 88 << 1;
    }
    void lanCollectsInBlocks()
    {
        QFETCH(int, role);
        QFETCH(QString, speed);
        QFETCH(int, size);
        QFETCH(int, left);
        FakeSerialPort a(QStringLiteral("fake:relayA"));
        LanCopy c(a.path(), role, speed);
        QSignalSpy flushed(&c.w->Lan, &LanLink::dataFlushed);
        c.click();
        const int interval = c.w->tmrSer->Interval();
        QTEST(interval, "interval");
        c.holdBurst();
        const QByteArray block = sample(size);
        QVERIFY(a.pushBytes(block));
        QTRY_COMPARE(c.w->lblRecv->Tag, QStringLiteral("12"));
        QList<int> sizes;
        QByteArray sent;
        for (const QList<QVariant>& call : flushed) {
            sizes.append(call.at(0).toByteArray().size());
            sent += call.at(0).toByteArray();
        }
        QTEST(sizes, "flushes");
        QCOMPARE(sent, block.left(sent.size()));
        QCOMPARE(c.app.SendCount, left); // the next bytes of the block, from index 0 on
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(c.app.SendBuffer.data()), left),
                 block.mid(sent.size(), left));

        c.w->tmrSer->setInterval(interval); // the end of the burst sends the rest
        QTRY_VERIFY(c.w->lblRecv->Tag == QStringLiteral("2"));
        if (left > 0)
            QCOMPARE(flushed.constLast().at(0).toByteArray(), block.right(left));
        QCOMPARE(c.app.SendCount, 0);
    }

    void lanLineChangesThenStopMidBurst()
    {
        FakeSerialPort a(QStringLiteral("fake:relayA"));
        LanCopy c(a.path(), 2);
        QStringList sent;
        connect(&c.w->Lan, &LanLink::dataFlushed, this,
                [&](const QByteArray& b) { sent << QString::fromLatin1(b); });
        connect(&c.w->Lan, &LanLink::controlSent, this,
                [&](int line, bool on) { sent << QStringLiteral("%1:%2").arg(line).arg(on); });
        c.click();
        c.holdBurst();
        QVERIFY(a.pushBytes("12345"));
        QTRY_COMPARE(c.app.SendCount, 5);
        a.setCts(true); // the bytes received before the change go first
        QTRY_COMPARE(sent, (QStringList{"12345", "1:1"}));
        a.setDsr(true);
        QTRY_COMPARE(sent, (QStringList{"12345", "1:1", "2:1"}));

        QVERIFY(a.pushBytes("tail"));
        QTRY_COMPARE(c.app.SendCount, 4);
        c.click(); // stopped mid-burst: the port closes and the lamp goes dark
        QVERIFY(!a.isOpen());
        QCOMPARE(c.w->lblRecv->Tag, QStringLiteral("2"));
    }

    void portList()
    {
        FakeSerialPort free(QStringLiteral("fake:free"));
        FakeSerialPort held(QStringLiteral("fake:held"));
        held.setOpenError(8005);
        Copy c({{3, free.path()}, {7, held.path()}, {9, QStringLiteral("fake:missing")}});
        QCOMPARE(c.items(c.w->cmbComPort), (QStringList{"COM3", "COM7 (使用中)"}));
        QCOMPARE(c.items(c.w->cmbComPort2), (QStringList{"COM3", "COM7 (使用中)"}));

        c.w->cmbComPort2->setCurrentText(QStringLiteral("COM3"));
        c.w->Relay.cmbComPort_DropDown();
        QCOMPARE(c.items(c.w->cmbComPort), (QStringList{"COM3 (転送先)", "COM7 (使用中)"}));
        c.w->cmbComPort->setCurrentText(QStringLiteral("COM3 (転送先)"));
        c.w->Relay.cmbComPort2_DropDown();
        QCOMPARE(c.items(c.w->cmbComPort2), (QStringList{"COM3 (転送元)", "COM7 (使用中)"}));
        QCOMPARE(c.w->cmbComPort2->currentIndex(), -1); // "COM3" is gone: no selection

        c.w->cmbComPort->setCurrentText(QStringLiteral("COM7 (使用中)"));
        c.w->Relay.cmbComPort2_DropDown();
        QCOMPARE(c.items(c.w->cmbComPort2), (QStringList{"COM3", "COM7 (転送元) (使用中)"}));
        held.setOpenError(0);
        c.w->Relay.cmbComPort_DropDown();
        QCOMPARE(c.w->cmbComPort->currentIndex(), -1); // its mark went away
        c.w->cmbComPort->setCurrentText(QStringLiteral("COM7"));
        c.w->Relay.cmbComPort_DropDown();
        QCOMPARE(c.w->cmbComPort->currentText(), QStringLiteral("COM7"));
    }

    // A device plugged in after start-up is numbered when a list drops down; numbers given
    // before stay, and the new one is kept in the profile.
    void portPluggedInLater()
    {
        PtyPair mapped, early, late;
        QVERIFY(mapped.isValid() && early.isValid() && late.isValid());
        QList<PortTable::Device> present{{"early", early.slavePath()}};
        Copy c({{2, mapped.slavePath()}}, QStringLiteral("9600"), [&present] { return present; });
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

    void refusedStarts_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("text");
        const QString held = QStringLiteral("[8005:ポートは既に開いています]");
        QTest::newRow("flock holder") << "flock" << sourceError + held;
        QTest::newRow("exclusive holder") << "exclusive" << sourceError + held;
        QTest::newRow("destination held") << "destination" << destinationError + held;
        QTest::newRow("empty picker") << "empty" << sourceError + "[8002:ポート番号が無効です]";
        QTest::newRow("framing after the port opened")
            << "framing" << sourceError + "[380:プロパティの値が不正です]";
    }
    void refusedStarts()
    {
        QFETCH(QString, situation);
        PtyPair one;
        PtyPair two;
        const QMap<int, QString> ports{{1, one.slavePath()}, {2, two.slavePath()}};
        const int fd = (situation == "destination" ? two : one).openSlave();
        if (situation == "exclusive") {
            QCOMPARE(::ioctl(fd, TIOCEXCL), 0);
        } else if (situation == "flock" || situation == "destination") {
            QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        }
        Copy c(ports);
        if (situation != "destination" && situation != "empty" && situation != "framing")
            QCOMPARE(c.items(c.w->cmbComPort).value(0), QStringLiteral("COM1 (使用中)"));
        c.ports(situation == "empty" ? 0 : 1, 2);
        if (situation == "framing")
            c.w->cmbBits->setCurrentText(QStringLiteral("4"));
        c.click();
        ::close(fd);
        QTEST(c.status(), "text");
        QCOMPARE(c.beeps, 1);
        c.expectState(false);
    }

    void startAndStop()
    {
        FakeSerialPort a(QStringLiteral("fake:relayA"));
        FakeSerialPort b(QStringLiteral("fake:relayB"));
        Copy c({{3, a.path()}, {4, b.path()}});
        for (int i = 0; i < 11; ++i)
            c.w->cmbDest->addItem(QStringLiteral("host%1").arg(i));
        c.w->cmbDest->setEditText(QStringLiteral("Host3")); // another case: a new entry
        c.ports(3, 3);
        c.click();
        QCOMPARE(c.status(), QStringLiteral("接続しました！"));
        QCOMPARE(c.app.DestType, 2);
        QVERIFY(a.isOpen() && !b.isOpen());
        c.expectState(true);
        QCOMPARE(c.items(c.w->cmbDest).size(), 10);
        QCOMPARE(c.items(c.w->cmbDest).mid(0, 2), (QStringList{"Host3", "host0"}));

        c.click();
        c.expectState(false);
        QVERIFY(!a.isOpen());

        c.ports(3, 4);
        c.w->cmbDest->setEditText(QStringLiteral("host4"));
        c.click();
        QCOMPARE(c.app.DestType, 1);
        QVERIFY(a.isOpen() && b.isOpen());
        QCOMPARE(c.items(c.w->cmbDest).mid(0, 3), (QStringList{"host4", "Host3", "host0"}));
        QCOMPARE(c.items(c.w->cmbDest).size(), 10);
        c.click();
        c.expectState(false);
        QVERIFY(!a.isOpen() && !b.isOpen());
        QCOMPARE(c.beeps, 0);
    }
};

NIRVEX_TEST(TestRelay)
#include "tst_relay.moc"
