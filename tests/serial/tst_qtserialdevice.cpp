#include "PtyPair.h"
#include "TestRegistry.h"

#include "core/PortTable.h"
#include "core/QtSerialDevice.h"
#include "core/SerialFraming.h"
#include "core/SerialPortControl.h"

#include <QElapsedTimer>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>

#include <ctime>

// The serial port control on real pseudo-terminals through QSerialPort.
class TestQtSerialDevice : public QObject {
    Q_OBJECT

    PortTable table;

    void setUp(SerialPortControl& control, const QString& path)
    {
        table.setDeviceLister([] { return QList<PortTable::Device>(); });
        table.assign({});
        table.setEntry(1, path);
        control.setPortTable(&table);
        control.setCommPort(1);
        control.setSettings(QStringLiteral("115200,N,8,1"));
        control.setRThreshold(1);
        control.setSThreshold(1);
    }

private slots:
    void bytesTravelBothWaysUnchanged()
    {
        PtyPair pty;
        SerialPortControl control;
        setUp(control, pty.slavePath());
        QList<qint16> codes;
        QByteArray received;
        connect(&control, &SerialPortControl::OnComm, &control, [&] {
            codes.append(control.CommEvent());
            if (control.CommEvent() == SerialPortControl::EventReceive)
                received += control.Input();
        });
        QVERIFY(control.setPortOpen(true));
        auto* device = qobject_cast<QtSerialDevice*>(control.device());
        QVERIFY(device && device->isPseudoTerminal());
        QVERIFY(!device->pollsModemLines()); // no timer for a device without modem lines
        QVERIFY(control.setRTSEnable(true) && !control.CTSHolding());

        const QByteArray block("\x00\xff\x00\r\n\x11\x13", 7);
        QVERIFY(pty.writeAll(block));
        QTRY_COMPARE(received, block);
        QVERIFY(control.Output(block));
        QCOMPARE(pty.readCount(block.size()), block);
        QTRY_VERIFY(codes.contains(SerialPortControl::EventSend));
        QCOMPARE(control.lastError().Number, 0); // ENOTTY of the modem lines never surfaces
    }

    void framings_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("error");
        QTest::newRow("14400 (no termios constant)") << "14400,N,8,1" << 0;
        QTest::newRow("1.5 stop with 8 bits") << "9600,N,8,1.5" << 8015;
    }
    void framings()
    {
        QFETCH(QString, settings);
        QFETCH(int, error);
        PtyPair pty;
        SerialPortControl control;
        setUp(control, pty.slavePath());
        QVERIFY(control.setSettings(settings));
        QCOMPARE(control.setPortOpen(true), error == 0);
        QCOMPARE(control.lastError().Number, error);
        if (error == 0) {
            QVERIFY(control.Output("ok"));
            QCOMPARE(pty.readCount(2), QByteArray("ok"));
        }
    }

    void portsInUseOrMissing_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<int>("error");
        QTest::newRow("second control") << "control" << 8005;
        QTest::newRow("lock file") << "lockfile" << 8005;
        QTest::newRow("not a terminal") << "file" << 8002;
    }
    void portsInUseOrMissing()
    {
        QFETCH(QString, holder);
        QFETCH(int, error);
        PtyPair pty;
        SerialPortControl control;
        SerialPortControl first;
        setUp(control, pty.slavePath());
        setUp(first, pty.slavePath());
        std::unique_ptr<QLockFile> lock;
        QTemporaryFile plainFile;
        if (holder == "control") {
            QVERIFY(first.setPortOpen(true));
        } else if (holder == "lockfile") {
            QString name = pty.slavePath().mid(5); // "pts/N"
            lock = std::make_unique<QLockFile>("/var/lock/LCK.." + name.replace('/', '_'));
            if (!lock->tryLock(0))
                QSKIP("no lock file can be made in /var/lock here");
        } else if (holder == "file") {
            QVERIFY(plainFile.open());
            table.setEntry(1, plainFile.fileName());
        }

        QVERIFY(!control.setPortOpen(true));
        QCOMPARE(control.lastError().Number, error);
        QCOMPARE(control.probe(control.CommPort()), error);
        if (holder == "control") {
            // the holder is undisturbed, and once it lets go the port is free
            QVERIFY(first.Output("still"));
            QCOMPARE(pty.readCount(5), QByteArray("still"));
            first.setPortOpen(false);
            QVERIFY(control.setPortOpen(true));
        }
    }

    void closedPeerClosesThePortOnceWithoutSpinning()
    {
        PtyPair pty;
        SerialPortControl control;
        setUp(control, pty.slavePath());
        int events = 0;
        connect(&control, &SerialPortControl::OnComm, &control, [&] { ++events; });
        QSignalSpy vanished(&control, &SerialPortControl::Vanished);
        QVERIFY(control.setPortOpen(true));

        pty.closeMaster();
        QVERIFY(vanished.wait(10000));
        QVERIFY(!control.PortOpen());
        QCOMPARE(control.lastError().Number, 8010);

        const std::clock_t cpuBefore = std::clock();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(300);
        const double cpuMs = 1000.0 * (std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        QCOMPARE(vanished.count(), 1);
        QCOMPARE(events, 0);
        // a spinning notifier would burn the whole window
        QVERIFY2(cpuMs < 0.5 * wall.elapsed(), qPrintable(QString("%1 ms cpu").arg(cpuMs)));
    }

    // Bytes left in the device's read-ahead buffer until it was full must not stop the device
    // from being read once they are taken.
    void deviceReadsOnAfterAFullBuffer()
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

NIRVEX_TEST(TestQtSerialDevice)
#include "tst_qtserialdevice.moc"
