#include "FakeSerialPort.h"
#include "PtyPair.h"
#include "TestRegistry.h"

#include "core/PortTable.h"
#include "core/QtSerialDevice.h"
#include "core/SerialPortControl.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// A control set up the way a relay start sets it, on COM3 mapped to an in-memory line.
struct Rig {
    PortTable table;
    FakeSerialPort line{QStringLiteral("fake:COM3")};
    SerialPortControl control;
    QList<qint16> codes;

    Rig()
    {
        table.setDeviceLister([] { return QList<PortTable::Device>(); });
        table.assign({});
        table.setEntry(3, line.path());
        control.setPortTable(&table);
        control.setCommPort(3);
        control.setSettings(QStringLiteral("115200,N,8,1"));
        control.setInputMode(SerialPortControl::InputModeBinary);
        control.setRThreshold(1);
        control.setSThreshold(1);
        QObject::connect(&control, &SerialPortControl::OnComm, &control,
                         [this] { codes.append(control.CommEvent()); });
    }
};

} // namespace

// The serial port control's events, data and modem lines on in-memory lines, and the
// read-ahead bound of the device on a real pseudo-terminal.
class TestSerialPortControl : public QObject {
    Q_OBJECT
private slots:
    // Events come from the event loop, neither repeated nor lost; a close drops those still
    // pending, and an unplugged device first hands out what came before it went.
    void eventsFromTheEventLoop()
    {
        Rig rig;
        QSignalSpy vanished(&rig.control, &SerialPortControl::Vanished);
        QByteArray got;
        connect(&rig.control, &SerialPortControl::OnComm, &rig.control, [&] {
            const QByteArray in = rig.control.Input();
            QVERIFY(!in.isEmpty() || rig.control.CommEvent() != SerialPortControl::EventReceive);
            got += in;
        });
        QVERIFY(rig.control.setPortOpen(true));
        rig.line.pushBytes(QByteArray("\x00\xff", 2));
        rig.line.pushBytes("def"); // before the first event is handled
        rig.line.setCts(true);
        rig.line.setDsr(true);
        QVERIFY(rig.codes.isEmpty()); // never inside the caller's own call
        QTRY_COMPARE(rig.codes, (QList<qint16>{2, 3, 4}));
        QVERIFY(rig.control.CTSHolding() && rig.control.DSRHolding());
        rig.line.pushBytes("g");
        QTRY_COMPARE(got, QByteArray("\x00\xff"
                                     "defg",
                                     6));

        rig.line.pushBytes("late");
        rig.control.setPortOpen(false);
        QVERIFY(rig.control.setPortOpen(true));
        rig.line.setDsr(false);
        QTRY_COMPARE(rig.codes, (QList<qint16>{2, 3, 4, 2, 4}));
        QCOMPARE(rig.control.Input(), QByteArray());

        rig.line.pushBytes("lost");
        rig.line.vanish();
        QVERIFY(vanished.wait(5000));
        QCOMPARE(rig.control.lastError().Number, 8010);
        QCOMPARE(got, QByteArray("\x00\xff"
                                 "defglost",
                                 10));
    }

    // Bytes left in the device's read-ahead buffer until it was full must not stop the device
    // from being read once they are taken.
    void ptyReadsOnAfterAFullBuffer()
    {
        PtyPair pty;
        QVERIFY(pty.isValid());
        QtSerialDevice device;
        QCOMPARE(device.open(pty.slavePath(), SerialFraming()), 0);
        QByteArray bytes(QtSerialDevice::ReadBufferLimit + 8192, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 + (i >> 9));
        const QByteArray first = bytes.left(QtSerialDevice::ReadBufferLimit);
        const QByteArray more = bytes.mid(first.size());
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

NIRVEX_TEST(TestSerialPortControl)
#include "tst_serialportcontrol.moc"
