#include "PtyPair.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/LineSpeed.h"
#include "core/QtSerialDevice.h"
#include "core/RelaySettings.h"

#include <QLockFile>
#include <QTemporaryFile>
#include <QTest>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A relay on two fake ports, COM1 to COM1 (echo) or COM2, with the port a side reads and the one
// it writes to.
struct FakeRelay {
    FakeSerialPort a{QStringLiteral("fake:relayA")};
    FakeSerialPort b{QStringLiteral("fake:relayB")};
    RelayCopy r{{{1, a.path()}, {2, b.path()}}};
    FakeSerialPort* in = nullptr;
    FakeSerialPort* out = nullptr;

    bool start(int destinationPort, bool fromSource = true)
    {
        in = fromSource ? &a : &b;
        out = destinationPort == 1 || !fromSource ? &a : &b;
        r.settings.destination.comPort = destinationPort;
        return r.start();
    }
    qint64 queued() const
    {
        return (out == &a ? r.core.comSer() : r.core.comDest())->device()->bytesToWrite();
    }
};

} // namespace

// The serial path of the relay core: modem lines, waiting for room and the lamps meanwhile, the
// stop's drain, refused starts, and the read-ahead bound of a real device.
class TestRelayCore : public QObject {
    Q_OBJECT
private slots:
    // A side's modem lines cross over; a side whose destination cannot take more waits instead
    // of queueing without end, and every byte still arrives once, in order, when it drains.
    void sideWaitsWhileItsDestinationIsFull_data()
    {
        QTest::addColumn<int>("destinationPort");
        QTest::addColumn<bool>("fromSource");
        QTest::addColumn<bool>("stop");
        QTest::newRow("to destination") << 2 << true << false;
        QTest::newRow("to source") << 2 << false << false;
        QTest::newRow("echo") << 1 << true << false;
        QTest::newRow("stopped while waiting") << 2 << true << true;
    }
    void sideWaitsWhileItsDestinationIsFull()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, fromSource);
        FakeRelay f;
        QVERIFY(f.start(destinationPort, fromSource));
        for (bool on : {true, false, true}) { // modem lines cross over: CTS to RTS, DSR to DTR
            f.in->setCts(on);
            f.in->setDsr(on);
            QTRY_VERIFY(f.out->rts() == on && f.out->dtr() == on);
        }
        const auto held = [&] {
            return fromSource ? f.r.core.SourceHeld() : f.r.core.DestinationHeld();
        };
        f.out->setOutputHeld(true);
        f.r.holdBurst();
        const QByteArray first = sample(RelayCore::QueueLimit + 1), second = sample(4096, 2),
                         third = sample(100, 3);
        QVERIFY(f.in->pushBytes(first));
        QTRY_COMPARE(f.queued(), first.size());
        QVERIFY(!held()); // the queue was empty when the first block came
        QCOMPARE(f.r.receiveLit, fromSource);
        QCOMPARE(f.r.sendLit, f.out == &f.a); // no send event while the bytes wait
        QVERIFY(f.in->pushBytes(second));
        QTRY_VERIFY(held());
        QVERIFY(f.in->pushBytes(third));
        QTest::qWait(20);
        QVERIFY(held()); // still full: nothing more was queued behind the first block
        QCOMPARE(f.out->written(), QByteArray());
        QFETCH(bool, stop);
        if (stop) {
            f.r.core.StopRelay();
            QVERIFY(!f.r.core.RelayRunning() && !held());
            QTest::qWait(20); // a late look at the closed ports changes nothing
            QVERIFY(!f.in->isOpen() && !held());
            return;
        }
        f.out->setOutputHeld(false);
        QTRY_VERIFY_WITH_TIMEOUT(!held(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(f.out->written().size(),
                                  first.size() + second.size() + third.size(), 10000);
        QVERIFY(f.out->written() == first + second + third);
        QTRY_VERIFY(!f.r.sendLit);
        f.r.core.tmrSer()->setInterval(1);
        QTRY_VERIFY(!f.r.receiveLit); // the burst has ended
    }

    // A stop lets the ports send what they have queued for a bounded time, the event loop going
    // on meanwhile, and says how much it had to drop.
    void stopLetsTheQueueDrain_data()
    {
        QTest::addColumn<int>("destinationPort");
        QTest::addColumn<bool>("farEndReads");
        QTest::addColumn<bool>("wait"); // StopAndWait, as a closing program does
        QTest::newRow("read") << 2 << true << false;
        QTest::newRow("not read") << 2 << false << false;
        QTest::newRow("waited for, read") << 2 << true << true;
    }
    void stopLetsTheQueueDrain()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, farEndReads);
        FakeRelay f;
        QVERIFY(f.start(destinationPort));
        f.out->setOutputHeld(true);
        const QByteArray bytes = sample(RelayCore::QueueLimit / 2);
        QVERIFY(f.a.pushBytes(bytes));
        QTRY_COMPARE(f.queued(), bytes.size());
        QFETCH(bool, wait);
        if (wait) { // the far end starts reading while the stop waits, its events still running
            QTimer::singleShot(0, f.out, [&] { f.out->setOutputHeld(!farEndReads); });
            f.r.core.StopAndWait();
            QVERIFY(f.r.portsClosed());
        } else {
            f.r.core.StopRelay();
            QVERIFY(!f.r.core.RelayRunning());
            QVERIFY(f.out->isOpen()); // still sending while the loop goes on
            f.out->setOutputHeld(!farEndReads);
            QTRY_VERIFY_WITH_TIMEOUT(f.r.portsClosed(), 3000);
        }
        QCOMPARE(f.out->written(), farEndReads ? bytes : QByteArray());
        QCOMPARE(f.r.status,
                 farEndReads
                     ? QStringLiteral("接続しました！")
                     : QStringLiteral("未送信の %1 バイトを破棄しました。").arg(bytes.size()));
    }

    // A port that cannot be opened refuses the start with its side's text and leaves both ports
    // closed; a relay holding the port keeps it working and frees it when it stops.
    void refusedStarts_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("text");
        const QString source = QStringLiteral("シリアルポートエラー ");
        const QString held = QStringLiteral("[8005:ポートは既に開いています]");
        const QString invalid = QStringLiteral("[8002:ポート番号が無効です]");
        QTest::newRow("flock holder") << "flock" << source + held;
        QTest::newRow("exclusive holder") << "exclusive" << source + held;
        QTest::newRow("lock file holder") << "lockfile" << source + held;
        QTest::newRow("running relay holder") << "relay" << source + held;
        QTest::newRow("unmapped number") << "unmapped" << source + invalid;
        QTest::newRow("not a terminal") << "file" << source + invalid;
        QTest::newRow("1.5 stop bits with 8 data bits")
            << "stop" << source + "[8015:通信状態を設定できません]";
        QTest::newRow("framing after the port opened")
            << "framing" << source + "[380:プロパティの値が不正です]";
    }
    void refusedStarts()
    {
        QFETCH(QString, situation);
        PtyPair one, two;
        const QMap<int, QString> map{{1, one.slavePath()}, {2, two.slavePath()}};
        const int fd = one.openSlave();
        if (situation == "exclusive")
            QCOMPARE(::ioctl(fd, TIOCEXCL), 0);
        else if (situation == "flock")
            QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        RelayCopy holder(map), c(map);
        QTemporaryFile plain;
        QLockFile lock("/var/lock/LCK.." + one.slavePath().mid(5).replace('/', '_'));
        if (situation == "relay")
            QVERIFY(holder.start());
        else if (situation == "lockfile" && !lock.tryLock(0))
            QSKIP("no lock file can be made in /var/lock here");
        else if (situation == "unmapped")
            c.settings.source.comPort = 5;
        else if (situation == "file" && plain.open())
            c.ports.setEntry(1, plain.fileName());
        else if (situation == "stop")
            c.settings.source.stopBits = QStringLiteral("1.5");
        else if (situation == "framing")
            c.settings.source.bits = QStringLiteral("4");
        QVERIFY(!c.start());
        ::close(fd);
        QTEST(c.status, "text");
        QVERIFY(!c.core.RelayRunning() && c.portsClosed());
        if (situation == "relay") {
            QVERIFY(one.writeAll("still"));
            QCOMPARE(two.readCount(5), QByteArray("still"));
            holder.core.StopRelay();
            QTRY_VERIFY(holder.portsClosed());
            QVERIFY(c.start());
        }
    }

    // The profile's rate, listed or typed in by hand, opens both ports at it, and a burst still
    // ends one character time later.
    void portOpensAtTheProfilesRate_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("burstMs");
        QTest::newRow("921600") << "921600" << 1;
        QTest::newRow("4800") << "4800" << 2; // 2.5 ms, half to even
        QTest::newRow("typed in") << "250000" << 1;
    }
    void portOpensAtTheProfilesRate()
    {
        QFETCH(QString, speed);
        QTemporaryFile ini;
        QVERIFY(ini.open() &&
                ini.write(("[Settings]\n速度=" + speed + "\n速度２=" + speed).toUtf8()));
        ini.close();
        PtyPair pty;
        FakeSerialPort fake("fake:rate");
        RelayCopy c({{1, pty.slavePath()}, {2, fake.path()}});
        const RelaySettings read = RelaySettings::fromProfile(ini.fileName());
        c.settings.source.speed = read.source.speed;
        c.settings.destination.speed = read.destination.speed;
        QVERIFY(c.start());
        QCOMPARE(LineSpeed::read(pty.masterFd()), speed.toLongLong());
        QCOMPARE(fake.baudRate(), speed.toInt());
        QTEST(c.core.tmrSer()->Interval(), "burstMs");
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

NIRVEX_TEST(TestRelayCore)
#include "tst_relaycore.moc"
