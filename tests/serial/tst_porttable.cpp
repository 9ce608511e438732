#include "TestRegistry.h"

#include "app/ProfileFile.h"
#include "serial/PortTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A machine of its own: device files, sysfs type files and by-id links in a temporary folder.
struct FakeMachine {
    QTemporaryDir root;
    QStringList present;

    FakeMachine()
    {
        QDir dir(root.path());
        dir.mkpath("dev");
        dir.mkpath("byid");
        for (const char* name :
             {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1", "ttyACM0"}) {
            QFile device(dev(name));
            device.open(QIODevice::WriteOnly);
        }
        writeType("ttyS0", "0\n"); // no UART behind it
        writeType("ttyS1", "4\n");
        QFile::link(dev("ttyUSB1"), byId());
    }
    QString dev(const QString& name) const { return root.path() + "/dev/" + name; }
    QString byId() const { return root.path() + "/byid/usb-Acme_X1-if00-port0"; }
    void writeType(const QString& name, const QByteArray& type)
    {
        QDir(root.path()).mkpath("sys/" + name);
        QFile file(root.path() + "/sys/" + name + "/type");
        file.open(QIODevice::WriteOnly);
        file.write(type);
    }
    QString expand(QString text) const
    {
        return text.replace("$dev/", root.path() + "/dev/").replace("$byid", byId());
    }
    void setUp(PortTable& table) const
    {
        table.setSysfsRoot(root.path() + "/sys");
        table.setByIdDir(root.path() + "/byid");
        const QStringList names = present;
        table.setDeviceLister([this, names] {
            QList<PortTable::Device> devices;
            for (const QString& name : names)
                devices.append({name, dev(name)});
            return devices;
        });
    }
};

QStringList listOf(const QMap<int, QString>& entries)
{
    QStringList lines;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        lines << PortTable::keyFor(it.key()) + "=" + it.value();
    return lines;
}

} // namespace

// Numbering serial devices as COM ports and keeping the numbers in the profile.
class PortTableTest : public QObject {
    Q_OBJECT
private slots:
    void numbering_data()
    {
        QTest::addColumn<QStringList>("hand");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("added");

        QTest::newRow("nothing written yet")
            << QStringList() << QStringList{"ttyUSB0", "ttyS1", "ttyACM0"}
            << QStringList{"COM1=$dev/ttyACM0", "COM2=$dev/ttyS1", "COM3=$dev/ttyUSB0"}
            << QStringList{"COM1=$dev/ttyACM0", "COM2=$dev/ttyS1", "COM3=$dev/ttyUSB0"};
        QTest::newRow("phantom ttyS gets no number")
            << QStringList() << QStringList{"ttyS0", "ttyS1"} << QStringList{"COM1=$dev/ttyS1"}
            << QStringList{"COM1=$dev/ttyS1"};
        QTest::newRow("hand entries win, lowest free number")
            << QStringList{"COM1=/dev/pts/7", "COM3=$dev/ttyUSB0"}
            << QStringList{"ttyUSB0", "ttyACM0", "ttyS1"}
            << QStringList{"COM1=/dev/pts/7", "COM2=$dev/ttyACM0", "COM3=$dev/ttyUSB0",
                           "COM4=$dev/ttyS1"}
            << QStringList{"COM2=$dev/ttyACM0", "COM4=$dev/ttyS1"};
        QTest::newRow("stable by-id name preferred")
            << QStringList() << QStringList{"ttyUSB1"} << QStringList{"COM1=$byid"}
            << QStringList{"COM1=$byid"};
        QTest::newRow("hand entry under the kernel name of a by-id device")
            << QStringList{"COM7=$dev/ttyUSB1"} << QStringList{"ttyUSB1"}
            << QStringList{"COM7=$dev/ttyUSB1"} << QStringList();
        QTest::newRow("empty value keeps its number unmapped")
            << QStringList{"COM1="} << QStringList{"ttyUSB0"} << QStringList{"COM2=$dev/ttyUSB0"}
            << QStringList{"COM2=$dev/ttyUSB0"};
        QTest::newRow("keys that are no port")
            << QStringList{"COM0=/a", "COM256=/b", "PORT1=/c", "COMx=/d", "com3=$dev/ttyUSB0"}
            << QStringList{"ttyUSB0"} << QStringList{"COM3=$dev/ttyUSB0"} << QStringList();
        QTest::newRow("ttyS2 before ttyS10") << QStringList() << QStringList{"ttyS10", "ttyS2"}
                                             << QStringList{"COM1=$dev/ttyS2", "COM2=$dev/ttyS10"}
                                             << QStringList{"COM1=$dev/ttyS2", "COM2=$dev/ttyS10"};
    }
    void numbering()
    {
        QFETCH(QStringList, hand);
        QFETCH(QStringList, present);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, added);
        FakeMachine machine;
        machine.present = present;
        PortTable table;
        machine.setUp(table);

        QList<std::pair<QString, QString>> lines;
        for (const QString& line : std::as_const(hand))
            lines.append({line.section('=', 0, 0), machine.expand(line.section('=', 1))});
        table.assign(lines);

        for (QString& line : expected)
            line = machine.expand(line);
        for (QString& line : added)
            line = machine.expand(line);
        QCOMPARE(listOf(table.allEntries()), expected);
        QCOMPARE(listOf(table.newEntries()), added);
    }

    void numbersLastAcrossRunsAndReplugs()
    {
        FakeMachine machine;
        const QString profile = machine.root.path() + "/nirvex.INI";
        {
            QFile file(profile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[Settings]\nDestType=1\n[Ports]\nCOM1 = /dev/pts/7\n");
        }
        if (ProfileFile::readSection(profile, "Ports").isEmpty())
            QSKIP("the profile reader does not read sections yet");

        machine.present = {"ttyUSB0", "ttyACM0"};
        PortTable first;
        machine.setUp(first);
        QVERIFY(first.load(profile));
        QVERIFY(first.save(profile));
        QCOMPARE(listOf(first.allEntries()),
                 (QStringList{"COM1=/dev/pts/7", "COM2=" + machine.dev("ttyACM0"),
                              "COM3=" + machine.dev("ttyUSB0")}));

        // a second run finds everything written, and writes nothing more
        PortTable second;
        machine.setUp(second);
        QVERIFY(second.load(profile));
        QCOMPARE(second.allEntries(), first.allEntries());
        QVERIFY(second.newEntries().isEmpty());

        // ttyACM0 unplugged, a new adapter plugged in: the numbers already given stay
        machine.present = {"ttyS1", "ttyUSB0"};
        PortTable third;
        machine.setUp(third);
        QVERIFY(third.load(profile));
        QCOMPARE(listOf(third.newEntries()), QStringList{"COM4=" + machine.dev("ttyS1")});
        QCOMPARE(third.devicePath(2), machine.dev("ttyACM0"));
        QVERIFY(third.save(profile));

        QFile file(profile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith("[Settings]\nDestType=1\n[Ports]\nCOM1 = /dev/pts/7\n"));
        QCOMPARE(text.count("COM"), 4);
        QCOMPARE(ProfileFile::readSection(profile, "Ports").size(), 4);
    }
};

NIRVEX_TEST(PortTableTest)
#include "tst_porttable.moc"
