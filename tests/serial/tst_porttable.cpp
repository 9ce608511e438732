#include "TestRegistry.h"

#include "core/PortTable.h"
#include "core/ProfileFile.h"

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

void row(const char* name, const char* hand, const char* present, const char* expected,
         const QString& added)
{
    QTest::newRow(name) << QString(hand) << QString(present) << QString(expected) << added;
}

} // namespace

// Numbering serial devices as COM ports and keeping the numbers in the profile.
class TestPortTable : public QObject {
    Q_OBJECT
private slots:
    void numbering_data()
    {
        // Blank-separated lists; "=" in the last column: the same as the expected entries.
        QTest::addColumn<QString>("hand");
        QTest::addColumn<QString>("present");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("added");
        const QString same = "=";
        row("nothing written yet, phantom ttyS0 skipped", "", "ttyUSB0 ttyS0 ttyS1 ttyACM0",
            "COM1=$dev/ttyACM0 COM2=$dev/ttyS1 COM3=$dev/ttyUSB0", same);
        row("hand entries win, lowest free number", "COM1=/dev/pts/7 COM3=$dev/ttyUSB0",
            "ttyUSB0 ttyACM0 ttyS1",
            "COM1=/dev/pts/7 COM2=$dev/ttyACM0 COM3=$dev/ttyUSB0 COM4=$dev/ttyS1",
            "COM2=$dev/ttyACM0 COM4=$dev/ttyS1");
        row("stable by-id name preferred", "", "ttyUSB1", "COM1=$byid", same);
        row("hand entry under the kernel name of a by-id device", "COM7=$dev/ttyUSB1", "ttyUSB1",
            "COM7=$dev/ttyUSB1", "");
        row("empty value keeps its number unmapped", "COM1=", "ttyUSB0", "COM2=$dev/ttyUSB0", same);
        row("keys that are no port", "COM0=/a COM256=/b PORT1=/c COMx=/d com3=$dev/ttyUSB0",
            "ttyUSB0", "COM3=$dev/ttyUSB0", "");
        row("ttyS2 before ttyS10", "", "ttyS10 ttyS2", "COM1=$dev/ttyS2 COM2=$dev/ttyS10", same);
    }
    void numbering()
    {
        QFETCH(QString, hand);
        QFETCH(QString, present);
        QFETCH(QString, expected);
        QFETCH(QString, added);
        FakeMachine machine;
        machine.present = present.split(' ', Qt::SkipEmptyParts);
        PortTable table;
        machine.setUp(table);
        QList<std::pair<QString, QString>> lines;
        for (const QString& line : hand.split(' ', Qt::SkipEmptyParts))
            lines.append({line.section('=', 0, 0), machine.expand(line.section('=', 1))});
        table.assign(lines);
        const auto list = [&](const QString& text) {
            QStringList lines = text.split(' ', Qt::SkipEmptyParts);
            for (QString& line : lines)
                line = machine.expand(line);
            return lines;
        };
        QCOMPARE(listOf(table.allEntries()), list(expected));
        QCOMPARE(listOf(table.newEntries()), list(added == "=" ? expected : added));
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
        machine.present = {"ttyUSB0", "ttyACM0"};
        PortTable first;
        machine.setUp(first);
        QVERIFY(first.load(profile));
        QVERIFY(first.save(profile));

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
    }

    // A line edited into the profile while the program runs is the user's: at save the
    // program writes around it.
    void handEditWhileRunning_data()
    {
        QTest::addColumn<QString>("present");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("hand line on the program's number")
            << "ttyUSB0 ttyACM0"
            << "COM1 = /dev/pts/7"
            << "COM1=/dev/pts/7 COM2=$dev/ttyUSB0 COM3=$dev/ttyACM0 COM9=/dev/pts/9";
        QTest::newRow("number kept free by hand")
            << "ttyUSB0 ttyACM0"
            << "com1="
            << "COM1= COM2=$dev/ttyUSB0 COM3=$dev/ttyACM0 COM9=/dev/pts/9";
        QTest::newRow("device mapped by hand")
            << "ttyUSB0 ttyACM0"
            << "COM5=$dev/ttyACM0"
            << "COM2=$dev/ttyUSB0 COM5=$dev/ttyACM0 COM9=/dev/pts/9";
    }
    void handEditWhileRunning()
    {
        QFETCH(QString, present);
        QFETCH(QString, edit);
        QFETCH(QString, expected);
        FakeMachine machine;
        const QString profile = machine.root.path() + "/nirvex.INI";
        const auto append = [&](const QString& text) {
            QFile file(profile);
            QVERIFY(file.open(QIODevice::Append));
            file.write(text.toUtf8());
        };
        append("[Ports]\nCOM9=/dev/pts/9\n");
        machine.present = present.split(' ');
        PortTable table;
        machine.setUp(table);
        QVERIFY(table.load(profile));
        QCOMPARE(table.newEntries().size(), 2);
        const QString hand = machine.expand(edit);
        append(hand + "\n");
        QVERIFY(table.save(profile));

        QStringList lines;
        for (const auto& [key, value] : ProfileFile::readSection(profile, "Ports"))
            lines << PortTable::keyFor(PortTable::numberOfKey(key)) + "=" + value;
        lines.sort();
        QCOMPARE(lines, machine.expand(expected).split(' '));
        QFile file(profile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\n" + hand.toUtf8() + "\n"));
    }
};

NIRVEX_TEST(TestPortTable)
#include "tst_porttable.moc"
