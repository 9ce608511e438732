#include "PtyPair.h"
#include "RelayCopy.h"
#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/SerialDevice.h"

#include <QTest>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A relay from COM1 to COM1 (echo) or COM2 on two fake ports.
struct FakeRelay {
    FakeSerialPort a{QStringLiteral("fake:relayA")};
    FakeSerialPort b{QStringLiteral("fake:relayB")};
    RelayCopy r{{{1, a.path()}, {2, b.path()}}};

    // The port the side from the source (or from the destination) reads, and the one it
    // writes to.
    FakeSerialPort* in = nullptr;
    FakeSerialPort* out = nullptr;

    bool start(int destinationPort, bool fromSource = true)
    {
        in = fromSource ? &a : &b;
        out = destinationPort == 1 || !fromSource ? &a : &b;
        r.settings.destination.comPort = destinationPort;
        return r.start();
    }
    SerialPortControl* control(const FakeSerialPort& port) const
    {
        return &port == &a ? r.core.comSer() : r.core.comDest();
    }
};

// The ways a side runs: source to destination port, back, and the source echoing to itself.
void sideRows(const char* extra, bool value)
{
    QTest::newRow(qPrintable(QStringLiteral("to destination%1").arg(extra))) << 2 << true << value;
    QTest::newRow(qPrintable(QStringLiteral("to source%1").arg(extra))) << 2 << false << value;
    QTest::newRow(qPrintable(QStringLiteral("echo%1").arg(extra))) << 1 << true << value;
}

} // namespace

// The serial path of the relay core: waiting for room and the lamps meanwhile, the stop's drain,
// modem lines and refused starts.
class TestRelayCore : public QObject {
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
        QTest::newRow("stopped while waiting") << 2 << true << true;
    }
    void sideWaitsWhileItsDestinationIsFull()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, fromSource);
        QFETCH(bool, stop);
        FakeRelay f;
        QVERIFY(f.start(destinationPort, fromSource));
        FakeSerialPort& input = *f.in;
        FakeSerialPort& output = *f.out;
        const auto held = [&] {
            return fromSource ? f.r.core.SourceHeld() : f.r.core.DestinationHeld();
        };
        output.setOutputHeld(true);
        f.r.holdBurst();
        const QByteArray first = sample(RelayCore::QueueLimit + 1);
        const QByteArray second = sample(4096, 2);
        const QByteArray third = sample(100, 3);
        QVERIFY(input.pushBytes(first));
        QTRY_COMPARE(f.control(output)->device()->bytesToWrite(), first.size());
        QVERIFY(!held()); // the queue was empty when the first block came
        QCOMPARE(f.r.receiveLit, fromSource);
        QCOMPARE(f.r.sendLit, &output == &f.a); // no send event while the bytes wait
        QVERIFY(input.pushBytes(second));
        QTRY_VERIFY(held());
        QVERIFY(input.pushBytes(third));
        QTest::qWait(20);
        QVERIFY(held()); // still full: nothing more was queued behind the first block
        QCOMPARE(output.written(), QByteArray());
        if (stop) {
            f.r.core.StopRelay();
            QVERIFY(!f.r.core.RelayRunning() && !held());
            QTest::qWait(20); // a late look at the closed ports changes nothing
            QVERIFY(!input.isOpen() && !held());
            return;
        }
        output.setOutputHeld(false);
        QTRY_VERIFY_WITH_TIMEOUT(!held(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(output.written().size(),
                                  first.size() + second.size() + third.size(), 10000);
        QCOMPARE(output.written(), first + second + third);
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
        QTest::newRow("echoing, not read") << 1 << false << false;
        QTest::newRow("waited for, read") << 2 << true << true;
    }
    void stopLetsTheQueueDrain()
    {
        QFETCH(int, destinationPort);
        QFETCH(bool, farEndReads);
        QFETCH(bool, wait);
        FakeRelay f;
        QVERIFY(f.start(destinationPort));
        FakeSerialPort& output = *f.out;
        output.setOutputHeld(true);
        const QByteArray bytes = sample(RelayCore::QueueLimit / 2);
        QVERIFY(f.a.pushBytes(bytes));
        QTRY_COMPARE(f.control(output)->device()->bytesToWrite(), bytes.size());
        if (wait) {
            // The far end starts reading while the stop waits, its events still running.
            QTimer::singleShot(0, &output, [&] { output.setOutputHeld(!farEndReads); });
            f.r.core.StopAndWait();
            QVERIFY(f.r.portsClosed());
        } else {
            f.r.core.StopRelay();
            QVERIFY(!f.r.core.RelayRunning());
            QVERIFY(f.control(output)->PortOpen()); // still sending while the loop goes on
            output.setOutputHeld(!farEndReads);
            QTRY_VERIFY_WITH_TIMEOUT(f.r.portsClosed(), 3000);
        }
        QCOMPARE(output.written(), farEndReads ? bytes : QByteArray());
        QCOMPARE(f.r.status,
                 farEndReads
                     ? QStringLiteral("接続しました！")
                     : QStringLiteral("未送信の %1 バイトを破棄しました。").arg(bytes.size()));
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
        FakeRelay f;
        QVERIFY(f.start(destinationPort, fromSource));
        for (bool on : {true, false, true}) {
            cts ? f.in->setCts(on) : f.in->setDsr(on);
            QTRY_COMPARE(cts ? f.out->rts() : f.out->dtr(), on);
        }
    }

    void refusedStarts_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("text");
        const QString source = QStringLiteral("シリアルポートエラー ");
        const QString held = QStringLiteral("[8005:ポートは既に開いています]");
        QTest::newRow("flock holder") << "flock" << source + held;
        QTest::newRow("exclusive holder") << "exclusive" << source + held;
        QTest::newRow("destination held")
            << "destination" << QStringLiteral("転送先シリアルポートエラー ") + held;
        QTest::newRow("framing after the port opened")
            << "framing" << source + "[380:プロパティの値が不正です]";
    }
    void refusedStarts()
    {
        QFETCH(QString, situation);
        PtyPair one, two;
        const int fd = (situation == "destination" ? two : one).openSlave();
        if (situation == "exclusive")
            QCOMPARE(::ioctl(fd, TIOCEXCL), 0);
        else if (situation == "flock" || situation == "destination")
            QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        RelayCopy c({{1, one.slavePath()}, {2, two.slavePath()}});
        if (situation == "framing")
            c.settings.source.bits = QStringLiteral("4");
        QVERIFY(!c.start());
        ::close(fd);
        QTEST(c.status, "text");
        QVERIFY(!c.core.RelayRunning() && c.portsClosed());
    }
};

NIRVEX_TEST(TestRelayCore)
#include "tst_relaycore.moc"
