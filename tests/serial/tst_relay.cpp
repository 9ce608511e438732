#include "AsUser.h"
#include "LanCopy.h"
#include "PtyPair.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/ExtractNumber.h"
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
#include <QRandomGenerator>
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
        w->Relay.Beep = [this] { ++beeps; };
        w->findChild<QRadioButton*>("optSerial")->setChecked(true);
        w->findChild<QRadioButton*>("optClient")->setChecked(true);
        const QStringList texts{QStringLiteral("9600"), QStringLiteral("None"), QStringLiteral("8"),
                                QStringLiteral("1")};
        const QList<QComboBox*> pickers{
            w->findChild<QComboBox*>("cmbBPS"),   w->findChild<QComboBox*>("cmbParity"),
            w->findChild<QComboBox*>("cmbBits"),  w->findChild<QComboBox*>("cmbStopBits"),
            w->findChild<QComboBox*>("cmbBPS2"),  w->findChild<QComboBox*>("cmbParity2"),
            w->findChild<QComboBox*>("cmbBits2"), w->findChild<QComboBox*>("cmbStopBits2")};
        for (int i = 0; i < pickers.size(); ++i)
            pickers[i]->setCurrentText(texts[i % 4]);
        w->show();
    }
    // Selects the picker items of these port numbers.
    void ports(int source, int destination)
    {
        for (auto [c, n] : {std::pair{w->findChild<QComboBox*>("cmbComPort"), source},
                            {w->findChild<QComboBox*>("cmbComPort2"), destination}}) {
            c->setCurrentIndex(-1);
            for (int i = 0; i < c->count(); ++i)
                if (ExtractNumber(c->itemText(i)) == n)
                    c->setCurrentIndex(i);
        }
    }
    void click() { QTest::mouseClick(w->findChild<QPushButton*>("cmdRun"), Qt::LeftButton); }
    // Opens and closes a picker's list as the user would.
    static void dropDown(QComboBox* picker)
    {
        picker->showPopup();
        picker->hidePopup();
    }
    // Keeps the source timer from ending the burst until its interval is set again.
    void holdBurst() { w->tmrSer->setInterval(3600 * 1000); }
    QString status() const
    {
        return w->findChild<StatusBar*>("sbStatusBar")->panelText(QStringLiteral("status"));
    }
    // The button and the frames as they are while the relay runs, or while it idles
    // with both ports closed.
    void expectState(bool running) const
    {
        QCOMPARE(app.RelayRunning, running);
        QCOMPARE(w->findChild<QPushButton*>("cmdRun")->text(),
                 running ? QStringLiteral("<=切断=>") : QStringLiteral("<=接続=>"));
        QCOMPARE(w->findChild<QGroupBox*>("frmSer")->isEnabled(), !running);
        QCOMPARE(w->findChild<QGroupBox*>("frmDest")->isEnabled(), !running);
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

// Two fake ports, mapped as COM3 and COM4.
struct FakePorts {
    FakeSerialPort a{QStringLiteral("fake:relayA")};
    FakeSerialPort b{QStringLiteral("fake:relayB")};
};

// A copy relaying from COM3 to COM3 or COM4 on the fake ports.
struct FakeRelay : FakePorts, Copy {
    FakeRelay() : Copy({{3, a.path()}, {4, b.path()}}) {}
    bool start(int destinationPort)
    {
        ports(3, destinationPort);
        click();
        return app.RelayRunning;
    }
    // The port a side reads and the port it writes to.
    FakeSerialPort& input(bool fromSource) { return fromSource ? a : b; }
    FakeSerialPort& output(int destinationPort, bool fromSource)
    {
        return destinationPort == 3 || !fromSource ? a : b;
    }
};

// The ways a side runs: source to destination port, back, and the source echoing to itself.
void sideRows(const char* extra, bool value)
{
    QTest::newRow(qPrintable(QStringLiteral("to destination%1").arg(extra))) << 4 << true << value;
    QTest::newRow(qPrintable(QStringLiteral("to source%1").arg(extra))) << 4 << false << value;
    QTest::newRow(qPrintable(QStringLiteral("echo%1").arg(extra))) << 3 << true << value;
}

const QString sourceError = QStringLiteral("シリアルポートエラー ");
const QString destinationError = QStringLiteral("転送先シリアルポートエラー ");

} // namespace

// The serial relay of the main window: waiting for room, stop drain, modem lines, lamps, port
// lists and refused starts.
class TestRelay : public QObject {
    Q_OBJECT
private slots:
    // A side whose destination cannot take more waits instead of queueing without end, and
    // every byte still arrives once, in order, when the destination drains.
    void sideWaitsWhileItsDestinationIsFull_data()
    {
        QTest::addColumn<int>("destinationPort");
        QTest::addColumn<bool>("fromSource");
        QTest::addColumn<bool>("stop");
        sideRows("", false);
        QTest::newRow("stopped while waiting") << 4 << true << true;
    }
    void sideWaitsWhileItsDestinationIsFull()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, fromSource);
        QFETCH(bool, stop);
        FakeRelay r;
        QVERIFY(r.start(destinationPort));
        FakeSerialPort& input = r.input(fromSource);
        FakeSerialPort& output = r.output(destinationPort, fromSource);
        SerialPortControl* const sending = &output == &r.a ? r.w->comSer : r.w->comDest;
        const auto held = [&] {
            return fromSource ? r.w->Relay.SourceHeld() : r.w->Relay.DestinationHeld();
        };
        output.setOutputHeld(true);
        const QByteArray first = sample(SerialRelay::QueueLimit + 1);
        const QByteArray second = sample(4096);
        const QByteArray third = sample(100);
        QVERIFY(input.pushBytes(first));
        QTRY_COMPARE(sending->device()->bytesToWrite(), first.size());
        QVERIFY(!held()); // the queue was empty when the first block came
        QVERIFY(input.pushBytes(second));
        QTRY_VERIFY(held());
        QVERIFY(input.pushBytes(third));
        QTest::qWait(20);
        QVERIFY(held()); // still full: nothing more was queued behind the first block
        QCOMPARE(output.written(), QByteArray());
        if (stop) {
            r.w->Relay.cmdRun_Click();
            QVERIFY(!r.app.RelayRunning && !held());
            QTest::qWait(20); // a late look at the closed ports changes nothing
            QVERIFY(!input.isOpen() && !held());
            return;
        }

        output.setOutputHeld(false);
        QTRY_VERIFY_WITH_TIMEOUT(!held(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(output.written().size(),
                                  first.size() + second.size() + third.size(), 10000);
        QCOMPARE(output.written(), first + second + third);
    }

    // A stop lets the ports send what they have queued for a bounded time, the window going on
    // meanwhile, and says how much it had to drop.
    void stopLetsTheQueueDrain_data()
    {
        QTest::addColumn<int>("destinationPort");
        QTest::addColumn<bool>("farEndReads");
        QTest::addColumn<bool>("closeWindow"); // instead of the run button
        QTest::newRow("read") << 4 << true << false;
        QTest::newRow("not read") << 4 << false << false;
        QTest::newRow("echoing, not read") << 3 << false << false;
        QTest::newRow("window closed, read") << 4 << true << true;
    }
    void stopLetsTheQueueDrain()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, farEndReads);
        QFETCH(bool, closeWindow);
        FakeRelay r;
        QVERIFY(r.start(destinationPort));
        FakeSerialPort& output = r.output(destinationPort, true);
        output.setOutputHeld(true);
        const QByteArray bytes = sample(SerialRelay::QueueLimit / 2);
        QVERIFY(r.a.pushBytes(bytes));
        SerialPortControl* const sending = &output == &r.a ? r.w->comSer : r.w->comDest;
        QTRY_COMPARE(sending->device()->bytesToWrite(), bytes.size());

        if (closeWindow) {
            // The far end starts reading while the close waits, its events still running.
            QTimer::singleShot(0, &output, [&] { output.setOutputHeld(!farEndReads); });
            QVERIFY(r.w->close());
            QVERIFY(!r.w->comSer->PortOpen() && !r.w->comDest->PortOpen());
        } else {
            r.w->Relay.cmdRun_Click();
            QVERIFY(!r.app.RelayRunning);
            QVERIFY(sending->PortOpen()); // still sending while the window goes on
            output.setOutputHeld(!farEndReads);
            QTRY_VERIFY_WITH_TIMEOUT(!r.w->comSer->PortOpen() && !r.w->comDest->PortOpen(), 3000);
        }
        const QString status = r.status();
        if (farEndReads) {
            QCOMPARE(output.written(), bytes);
            QCOMPARE(status, QStringLiteral("接続しました！"));
        } else {
            QCOMPARE(output.written(), QByteArray());
            QCOMPARE(status,
                     QStringLiteral("未送信の %1 バイトを破棄しました。").arg(bytes.size()));
        }
    }

    // A modem line coming in on one port of a side is driven out on the port it writes to.
    void modemLinesCrossOver_data()
    {
        QTest::addColumn<int>("destinationPort");
        QTest::addColumn<bool>("fromSource");
        QTest::addColumn<bool>("cts"); // CTS to RTS, or DSR to DTR
        sideRows(", CTS", true);
        sideRows(", DSR", false);
    }
    void modemLinesCrossOver()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, fromSource);
        QFETCH(bool, cts);
        FakeRelay r;
        QVERIFY(r.start(destinationPort));
        FakeSerialPort& input = r.input(fromSource);
        FakeSerialPort& output = r.output(destinationPort, fromSource);
        for (bool on : {true, false, true}) {
            cts ? input.setCts(on) : input.setDsr(on);
            QTRY_COMPARE(cts ? output.rts() : output.dtr(), on);
        }
    }

    void lampsFollowTheTraffic()
    {
        FakeRelay c;
        QVERIFY(c.start(4));
        c.expectState(true);
        FakeSerialPort& a = c.a;
        FakeSerialPort& b = c.b;
        c.holdBurst();
        QVERIFY(a.pushBytes("abc"));
        QTRY_COMPARE(c.w->findChild<TagLabel*>("lblRecv")->Tag, QStringLiteral("12"));
        QTRY_COMPARE(b.written(), QByteArray("abc"));
        c.w->tmrSer->setInterval(1);
        QTRY_COMPARE(c.w->findChild<TagLabel*>("lblRecv")->Tag, QStringLiteral("2"));

        a.setOutputHeld(true); // no send event while the bytes wait in the source port
        QVERIFY(b.pushBytes("xyz"));
        QTRY_COMPARE(c.w->findChild<TagLabel*>("lblSend")->Tag, QStringLiteral("11"));
        a.setOutputHeld(false);
        QTRY_COMPARE(c.w->findChild<TagLabel*>("lblSend")->Tag, QStringLiteral("1"));
        QCOMPARE(a.written(), QByteArray("xyz"));
        c.click();
        c.expectState(false);
    }

    // A modem line change sent over the network follows the bytes received before it.
    void lanLineChangeFollowsEarlierBytes()
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
    }

    void portList()
    {
        FakeSerialPort free(QStringLiteral("fake:free"));
        FakeSerialPort held(QStringLiteral("fake:held"));
        held.setOpenError(8005);
        Copy c({{3, free.path()}, {7, held.path()}, {9, QStringLiteral("fake:missing")}});
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort")),
                 (QStringList{"COM3", "COM7 (使用中)"}));

        c.w->findChild<QComboBox*>("cmbComPort2")->setCurrentText(QStringLiteral("COM3"));
        c.w->Relay.cmbComPort_DropDown();
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort")),
                 (QStringList{"COM3 (転送先)", "COM7 (使用中)"}));
        c.w->findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM3 (転送先)"));
        c.w->Relay.cmbComPort2_DropDown();
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort2")),
                 (QStringList{"COM3 (転送元)", "COM7 (使用中)"}));
        QCOMPARE(c.w->findChild<QComboBox*>("cmbComPort2")->currentIndex(),
                 -1); // "COM3" is gone: no selection

        c.w->findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM7 (使用中)"));
        c.w->Relay.cmbComPort2_DropDown();
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort2")),
                 (QStringList{"COM3", "COM7 (転送元) (使用中)"}));
        held.setOpenError(0);
        c.w->Relay.cmbComPort_DropDown();
        QCOMPARE(c.w->findChild<QComboBox*>("cmbComPort")->currentIndex(),
                 -1); // its mark went away
        c.w->findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM7"));
        c.w->Relay.cmbComPort_DropDown();
        QCOMPARE(c.w->findChild<QComboBox*>("cmbComPort")->currentText(), QStringLiteral("COM7"));
    }

    // A device plugged in after start-up is numbered when a list drops down; numbers given
    // before stay, and the new one is kept in the profile.
    void portPluggedInLater()
    {
        PtyPair mapped, early, late;
        QVERIFY(mapped.isValid() && early.isValid() && late.isValid());
        QList<PortTable::Device> present{{"early", early.slavePath()}};
        Copy c({{2, mapped.slavePath()}}, [&present] { return present; });
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort2")), (QStringList{"COM1", "COM2"}));
        present.append({"late", late.slavePath()});
        c.dropDown(c.w->findChild<QComboBox*>("cmbComPort2"));
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort2")),
                 (QStringList{"COM1", "COM2", "COM3"}));
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
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort")), (QStringList{"COM4", "COM6"}));
        const QString group = QFileInfo(one.slavePath()).group();
        for (const PtyPair* pty : {&one, &two})
            QVERIFY(QFile::setPermissions(pty->slavePath(), {}));
        AsUser user;
        if (!user.ok())
            QSKIP("running as root and cannot become an unprivileged user");
        c.dropDown(c.w->findChild<QComboBox*>("cmbComPort"));
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort")), QStringList());
        QCOMPARE(c.status(), "シリアルポートを開く権限がありません。ユーザーを " + group +
                                 " グループに追加してください。");
        c.w->findChild<StatusBar*>("sbStatusBar")
            ->setPanelText(QStringLiteral("status"), QStringLiteral("ｽﾃｰﾀｽ"));
        c.dropDown(c.w->findChild<QComboBox*>("cmbComPort2"));
        QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort2")), QStringList());
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
        if (situation == "flock" || situation == "exclusive")
            QCOMPARE(c.items(c.w->findChild<QComboBox*>("cmbComPort")).value(0),
                     QStringLiteral("COM1 (使用中)"));
        c.ports(1, 2);
        if (situation == "framing")
            c.w->findChild<QComboBox*>("cmbBits")->setCurrentText(QStringLiteral("4"));
        c.click();
        ::close(fd);
        QTEST(c.status(), "text");
        QCOMPARE(c.beeps, 1);
        c.expectState(false);
    }
};

NIRVEX_TEST(TestRelay)
#include "tst_relay.moc"
