#include "PtyPair.h"
#include "TestRegistry.h"

#include "app/ColorButton.h"
#include "app/DropDownComboBox.h"
#include "app/NirvexMain.h"
#include "app/StatusBar.h"
#include "app/frmMain.h"
#include "serial/FakeSerialPort.h"
#include "serial/QtSerialDevice.h"
#include "serial/SerialDevice.h"
#include "serial/SerialFraming.h"
#include "serial/SerialPortControl.h"

#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

QByteArray pattern(qsizetype size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed + (i >> 9)) & 0xff);
    return bytes;
}

// A serial relay from COM3 (fake port a) to COM3 or COM4 (fake port b) in a main window.
struct FakeRelay {
    FakeSerialPort a{QStringLiteral("fake:queueA")};
    FakeSerialPort b{QStringLiteral("fake:queueB")};
    QTemporaryDir dir;
    NirvexMain app;
    std::unique_ptr<frmMain> w;

    bool start(int destinationPort)
    {
        app.IniPath = dir.filePath(QStringLiteral("nirvex.INI"));
        QFile profile(app.IniPath);
        if (!profile.open(QIODevice::WriteOnly))
            return false;
        profile.write(
            QStringLiteral("[Ports]\nCOM3=%1\nCOM4=%2\n").arg(a.path(), b.path()).toUtf8());
        profile.close();
        app.Ports.setDeviceLister([] { return QList<PortTable::Device>(); });
        w = std::make_unique<frmMain>(app);
        w->Load();
        w->Relay.Beep = [] {};
        w->optSerial->setChecked(true);
        w->cmbComPort->setCurrentText(QStringLiteral("COM3"));
        w->cmbComPort2->setCurrentText(QStringLiteral("COM%1").arg(destinationPort));
        w->Relay.cmdRun_Click();
        return app.RelayRunning;
    }
};

} // namespace

// A side of the relay whose destination cannot take more waits instead of queueing without
// end, and every byte still arrives once, in order, when the destination drains.
class TestRelayQueue : public QObject {
    Q_OBJECT
private slots:
    void sideWaitsWhileItsDestinationIsFull_data()
    {
        QTest::addColumn<int>("destinationPort");
        QTest::addColumn<bool>("fromSource");
        QTest::addColumn<bool>("stop");
        QTest::newRow("source to destination port") << 4 << true << false;
        QTest::newRow("destination port to source") << 4 << false << false;
        QTest::newRow("source echoing to itself") << 3 << true << false;
        QTest::newRow("stopped while waiting") << 4 << true << true;
    }
    void sideWaitsWhileItsDestinationIsFull()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, fromSource);
        QFETCH(bool, stop);
        FakeRelay r;
        QVERIFY(r.start(destinationPort));
        const bool toSource = destinationPort == 3 || !fromSource;
        FakeSerialPort& input = fromSource ? r.a : r.b;
        FakeSerialPort& output = toSource ? r.a : r.b;
        SerialPortControl* const sending = toSource ? r.w->comSer : r.w->comDest;
        const auto held = [&] {
            return fromSource ? r.w->Relay.SourceHeld() : r.w->Relay.DestinationHeld();
        };
        output.setOutputHeld(true);
        const QByteArray first = pattern(SerialRelay::QueueLimit + 1, 1);
        const QByteArray second = pattern(4096, 2);
        const QByteArray third = pattern(100, 3);
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
        QTest::newRow("destination port, read") << 4 << true << false;
        QTest::newRow("destination port, not read") << 4 << false << false;
        QTest::newRow("source port echoing, not read") << 3 << false << false;
        QTest::newRow("window closed, read") << 4 << true << true;
        QTest::newRow("window closed, not read") << 4 << false << true;
    }
    void stopLetsTheQueueDrain()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, farEndReads);
        QFETCH(bool, closeWindow);
        FakeRelay r;
        QVERIFY(r.start(destinationPort));
        FakeSerialPort& output = destinationPort == 3 ? r.a : r.b;
        output.setOutputHeld(true);
        const QByteArray bytes = pattern(SerialRelay::QueueLimit / 2, 6);
        QVERIFY(r.a.pushBytes(bytes));
        SerialPortControl* const sending = destinationPort == 3 ? r.w->comSer : r.w->comDest;
        QTRY_COMPARE(sending->device()->bytesToWrite(), bytes.size());

        if (closeWindow) {
            // The far end starts reading while the close waits, its events still running.
            QTimer::singleShot(0, &output, [&] { output.setOutputHeld(!farEndReads); });
            QVERIFY(r.w->close());
            QVERIFY(!r.w->comSer->PortOpen() && !r.w->comDest->PortOpen());
        } else {
            r.w->Relay.cmdRun_Click();
            QVERIFY(!r.app.RelayRunning);
            QCOMPARE(r.w->cmdRun->text(), QStringLiteral("<=接続=>"));
            QVERIFY(sending->PortOpen()); // still sending while the window goes on
            output.setOutputHeld(!farEndReads);
            QTRY_VERIFY_WITH_TIMEOUT(!r.w->comSer->PortOpen() && !r.w->comDest->PortOpen(), 3000);
        }
        const QString status = r.w->sbStatusBar->panelText(QStringLiteral("status"));
        if (farEndReads) {
            QCOMPARE(output.written(), bytes);
            QCOMPARE(status, QStringLiteral("接続しました！"));
        } else {
            QCOMPARE(output.written(), QByteArray());
            QCOMPARE(status,
                     QStringLiteral("未送信の %1 バイトを破棄しました。").arg(bytes.size()));
        }
    }

    // Bytes left in the device's read-ahead buffer until it was full must not stop the device
    // from being read once they are taken.
    void deviceReadsOnAfterAFullBuffer()
    {
        PtyPair pty;
        QVERIFY(pty.isValid());
        QtSerialDevice device;
        QCOMPARE(device.open(pty.slavePath(), SerialFraming()), 0);
        const QByteArray first = pattern(QtSerialDevice::ReadBufferLimit, 4);
        const QByteArray more = pattern(8192, 5);
        QVERIFY(pty.writeAll(first));
        QTRY_COMPARE_WITH_TIMEOUT(device.bytesAvailable(), QtSerialDevice::ReadBufferLimit, 10000);
        QVERIFY(pty.writeAll(more)); // waits in the kernel while the buffer is full
        QTest::qWait(20);
        QCOMPARE(device.bytesAvailable(), QtSerialDevice::ReadBufferLimit);
        QCOMPARE(device.read(device.bytesAvailable()), first);
        QTRY_COMPARE_WITH_TIMEOUT(device.bytesAvailable(), more.size(), 10000);
        QCOMPARE(device.read(device.bytesAvailable()), more);
    }
};

NIRVEX_TEST(TestRelayQueue)
#include "tst_relayqueue.moc"
