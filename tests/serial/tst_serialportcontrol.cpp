#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/PortTable.h"
#include "core/SerialPortControl.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// A control set up the way a relay start sets it, on COM3 mapped to a fake line.
struct FakeRig {
    PortTable table;
    FakeSerialPort line{QStringLiteral("fake:COM3")};
    SerialPortControl control;
    QList<qint16> codes;

    FakeRig()
    {
        table.setDeviceLister([] { return QList<PortTable::Device>(); });
        table.assign({});
        table.setEntry(3, line.path());
        control.setPortTable(&table);
        control.setCommPort(3);
        control.setSettings(QStringLiteral("9600,N,8,1"));
        control.setInputMode(SerialPortControl::InputModeBinary);
        control.setRThreshold(1);
        control.setSThreshold(1);
        QObject::connect(&control, &SerialPortControl::OnComm, &control,
                         [this] { codes.append(control.CommEvent()); });
    }
};

} // namespace

// The serial port control on in-memory lines: errors, events, data and modem lines.
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
        QTest::newRow("opened twice") << "twice" << 8005;
        QTest::newRow("framing refused") << "refused" << 8015;
    }
    void openFailures()
    {
        QFETCH(QString, situation);
        QFETCH(int, error);
        FakeRig rig;
        bool stillOpen = false;
        if (situation == "port0")
            rig.control.setCommPort(0);
        else if (situation == "unmapped")
            rig.control.setCommPort(4);
        else if (situation == "unplugged")
            rig.line.vanish();
        else if (situation == "held")
            rig.line.setOpenError(8005);
        else if (situation == "twice")
            stillOpen = rig.control.setPortOpen(true);
        else if (situation == "refused")
            rig.line.setRefuseFraming(true);

        QVERIFY(!rig.control.setPortOpen(true));
        QCOMPARE(rig.control.lastError().Number, error);
        QCOMPARE(rig.control.PortOpen(), stillOpen);
    }

    void eventsArriveFromTheEventLoopInOrder()
    {
        FakeRig rig;
        QVERIFY(rig.control.setPortOpen(true));
        QVERIFY(rig.line.pushBytes(QByteArray("\x00\xff", 2)));
        rig.line.setCts(true);
        rig.line.setDsr(true);
        QVERIFY(rig.codes.isEmpty()); // never inside the caller's own call
        QTRY_COMPARE(rig.codes, (QList<qint16>{2, 3, 4}));
        QVERIFY(rig.control.CTSHolding() && rig.control.DSRHolding());
        QCOMPARE(rig.control.Input(), QByteArray("\x00\xff", 2));
    }

    void receiveEventsNeitherRepeatNorLoseBytes()
    {
        FakeRig rig;
        QByteArray got;
        int emptyReads = 0;
        connect(&rig.control, &SerialPortControl::OnComm, &rig.control, [&] {
            const QByteArray in = rig.control.Input();
            emptyReads += in.isEmpty();
            got += in;
        });
        QVERIFY(rig.control.setPortOpen(true));
        rig.line.pushBytes("abc");
        rig.line.pushBytes("def"); // before the first event is handled
        QTRY_COMPARE(got, QByteArray("abcdef"));
        rig.line.pushBytes("g");
        QTRY_COMPARE(got, QByteArray("abcdefg"));
        QCOMPARE(rig.codes, (QList<qint16>{2, 2}));
        QCOMPARE(emptyReads, 0);
    }

    void closeDropsPendingEvents()
    {
        FakeRig rig;
        QVERIFY(rig.control.setPortOpen(true));
        rig.line.pushBytes("late");
        rig.control.setPortOpen(false);
        QVERIFY(rig.control.setPortOpen(true));
        rig.line.setDsr(true);
        QTRY_COMPARE(rig.codes, QList<qint16>{4});
        QCOMPARE(rig.control.Input(), QByteArray());
    }

    void vanishedDeviceClosesThePortOnce()
    {
        FakeRig rig;
        QSignalSpy vanished(&rig.control, &SerialPortControl::Vanished);
        QByteArray got;
        connect(&rig.control, &SerialPortControl::OnComm, &rig.control,
                [&] { got += rig.control.Input(); });
        QVERIFY(rig.control.setPortOpen(true));
        rig.line.pushBytes("lost");
        rig.line.vanish();
        QVERIFY(vanished.wait(5000));
        QVERIFY(!rig.control.PortOpen());
        QCOMPARE(rig.control.lastError().Number, 8010);
        QCOMPARE(got, QByteArray("lost")); // what came before the unplug is still handed out
        QTest::qWait(50);
        QCOMPARE(vanished.count(), 1);
    }

    void probeTellsFreeHeldAndMissing()
    {
        FakeRig rig;
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
        QVERIFY(!rig.line.isOpen() && rig.line.openCount() == 1);
        QVERIFY(rig.control.PortOpen());
        QCOMPARE(rig.control.lastError().Number, 0);
    }
};

NIRVEX_TEST(TestSerialPortControl)
#include "tst_serialportcontrol.moc"
