#include "FakeSerialPort.h"
#include "PtyPair.h"
#include "TestRegistry.h"

#include "core/PortTable.h"
#include "core/QtSerialDevice.h"
#include "core/SerialPortControl.h"

#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <memory>

namespace {

// A control set up the way a relay start sets it, on COM3 mapped to path, which is an
// in-memory line unless told otherwise.
struct Rig {
    PortTable table;
    std::unique_ptr<FakeSerialPort> line;
    SerialPortControl control;
    QList<qint16> codes;

    explicit Rig(const QString& path = QStringLiteral("fake:COM3"))
    {
        if (path.startsWith(QLatin1String("fake:")))
            line = std::make_unique<FakeSerialPort>(path);
        table.setDeviceLister([] { return QList<PortTable::Device>(); });
        table.assign({});
        table.setEntry(3, path);
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

// The serial port control: errors, events, data and modem lines on in-memory lines, and bytes,
// framings and busy ports on real pseudo-terminals through QSerialPort.
class TestSerialPortControl : public QObject {
    Q_OBJECT
private slots:
    void openFailures_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("error");
        QTest::newRow("port 0") << "port0" << 8002;
        QTest::newRow("unmapped number") << "unmapped" << 8002;
        QTest::newRow("device unplugged") << "unplugged" << 8002;
        QTest::newRow("held by another program") << "held" << 8005;
        QTest::newRow("framing refused") << "refused" << 8015;
    }
    void openFailures()
    {
        QFETCH(QString, situation);
        QFETCH(int, error);
        Rig rig;
        if (situation == "port0")
            rig.control.setCommPort(0);
        else if (situation == "unmapped")
            rig.control.setCommPort(4);
        else if (situation == "unplugged")
            rig.line->vanish();
        else if (situation == "held")
            rig.line->setOpenError(8005);
        else if (situation == "refused")
            rig.line->setRefuseFraming(true);
        QVERIFY(!rig.control.setPortOpen(true));
        QCOMPARE(rig.control.lastError().Number, error);
        QVERIFY(!rig.control.PortOpen());
    }

    void eventsFromTheEventLoopNeitherRepeatedNorLost()
    {
        Rig rig;
        QByteArray got;
        connect(&rig.control, &SerialPortControl::OnComm, &rig.control, [&] {
            if (rig.control.CommEvent() == SerialPortControl::EventReceive) {
                const QByteArray in = rig.control.Input();
                QVERIFY(!in.isEmpty());
                got += in;
            }
        });
        QVERIFY(rig.control.setPortOpen(true));
        rig.line->pushBytes(QByteArray("\x00\xff", 2));
        rig.line->pushBytes("def"); // before the first event is handled
        rig.line->setCts(true);
        rig.line->setDsr(true);
        QVERIFY(rig.codes.isEmpty()); // never inside the caller's own call
        QTRY_COMPARE(rig.codes, (QList<qint16>{2, 3, 4}));
        QVERIFY(rig.control.CTSHolding() && rig.control.DSRHolding());
        rig.line->pushBytes("g");
        QTRY_COMPARE(got, QByteArray("\x00\xff"
                                     "defg",
                                     6));
        QCOMPARE(rig.codes, (QList<qint16>{2, 3, 4, 2}));
    }

    void closeDropsPendingEvents()
    {
        Rig rig;
        QVERIFY(rig.control.setPortOpen(true));
        rig.line->pushBytes("late");
        rig.control.setPortOpen(false);
        QVERIFY(rig.control.setPortOpen(true));
        rig.line->setDsr(true);
        QTRY_COMPARE(rig.codes, QList<qint16>{4});
        QCOMPARE(rig.control.Input(), QByteArray());
    }

    void unpluggedDeviceHandsOutWhatCameBefore()
    {
        Rig rig;
        QSignalSpy vanished(&rig.control, &SerialPortControl::Vanished);
        QByteArray got;
        connect(&rig.control, &SerialPortControl::OnComm, &rig.control,
                [&] { got += rig.control.Input(); });
        QVERIFY(rig.control.setPortOpen(true));
        rig.line->pushBytes("lost");
        rig.line->vanish();
        QVERIFY(vanished.wait(5000));
        QCOMPARE(rig.control.lastError().Number, 8010);
        QCOMPARE(got, QByteArray("lost"));
    }

    void probeTellsFreeHeldAndMissing()
    {
        Rig rig;
        FakeSerialPort held("fake:COM7");
        held.setOpenError(8005);
        rig.table.setEntry(7, held.path());
        FakeSerialPort ours("fake:COM9");
        rig.table.setEntry(9, ours.path());
        rig.control.setCommPort(9);
        QVERIFY(rig.control.setPortOpen(true));

        QMap<int, int> results;
        for (int n = 0; n <= 256; ++n)
            results[rig.control.probe(n)] += 1;
        QCOMPARE(results, (QMap<int, int>{{0, 1}, {8005, 2}, {8002, 254}}));
        QCOMPARE(rig.control.probe(9), 8005); // the control's own open port
        QVERIFY(!rig.line->isOpen() && rig.line->openCount() == 1);
        QVERIFY(rig.control.PortOpen());
        QCOMPARE(rig.control.lastError().Number, 0);
    }

    void ptyBytesTravelBothWaysUnchanged()
    {
        PtyPair pty;
        Rig rig(pty.slavePath());
        QByteArray received;
        connect(&rig.control, &SerialPortControl::OnComm, &rig.control, [&] {
            if (rig.control.CommEvent() == SerialPortControl::EventReceive)
                received += rig.control.Input();
        });
        QVERIFY(rig.control.setPortOpen(true));
        auto* device = qobject_cast<QtSerialDevice*>(rig.control.device());
        QVERIFY(device && device->isPseudoTerminal());
        QVERIFY(!device->pollsModemLines()); // no timer for a device without modem lines
        QVERIFY(rig.control.setRTSEnable(true) && !rig.control.CTSHolding());

        const QByteArray block("\x00\xff\x00\r\n\x11\x13", 7);
        QVERIFY(pty.writeAll(block));
        QTRY_COMPARE(received, block);
        QVERIFY(rig.control.Output(block));
        QCOMPARE(pty.readCount(block.size()), block);
        QTRY_VERIFY(rig.codes.contains(SerialPortControl::EventSend));
        QCOMPARE(rig.control.lastError().Number, 0); // ENOTTY of the modem lines never surfaces
    }

    void ptyFramings_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("error");
        QTest::newRow("14400 (no termios constant)") << "14400,N,8,1" << 0;
        QTest::newRow("1.5 stop with 8 bits") << "9600,N,8,1.5" << 8015;
    }
    void ptyFramings()
    {
        QFETCH(QString, settings);
        QFETCH(int, error);
        PtyPair pty;
        Rig rig(pty.slavePath());
        QVERIFY(rig.control.setSettings(settings));
        QCOMPARE(rig.control.setPortOpen(true), error == 0);
        QCOMPARE(rig.control.lastError().Number, error);
        if (error == 0) {
            QVERIFY(rig.control.Output("ok"));
            QCOMPARE(pty.readCount(2), QByteArray("ok"));
        }
    }

    void ptyInUseOrMissing_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::addColumn<int>("error");
        QTest::newRow("second control") << "control" << 8005;
        QTest::newRow("lock file") << "lockfile" << 8005;
        QTest::newRow("not a terminal") << "file" << 8002;
    }
    void ptyInUseOrMissing()
    {
        QFETCH(QString, holder);
        QFETCH(int, error);
        PtyPair pty;
        Rig rig(pty.slavePath());
        Rig first(pty.slavePath());
        std::unique_ptr<QLockFile> lock;
        QTemporaryFile plainFile;
        if (holder == "control") {
            QVERIFY(first.control.setPortOpen(true));
        } else if (holder == "lockfile") {
            QString name = pty.slavePath().mid(5); // "pts/N"
            lock = std::make_unique<QLockFile>("/var/lock/LCK.." + name.replace('/', '_'));
            if (!lock->tryLock(0))
                QSKIP("no lock file can be made in /var/lock here");
        } else if (holder == "file") {
            QVERIFY(plainFile.open());
            rig.table.setEntry(3, plainFile.fileName());
        }
        QVERIFY(!rig.control.setPortOpen(true));
        QCOMPARE(rig.control.lastError().Number, error);
        QCOMPARE(rig.control.probe(3), error);
        if (holder == "control") {
            // the holder is undisturbed, and once it lets go the port is free
            QVERIFY(first.control.Output("still"));
            QCOMPARE(pty.readCount(5), QByteArray("still"));
            first.control.setPortOpen(false);
            QVERIFY(rig.control.setPortOpen(true));
        }
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
