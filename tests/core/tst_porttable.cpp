#include "TestRegistry.h"

#include "core/PortTable.h"
#include "core/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A machine of its own: device files, sysfs type files and a by-id link in a temporary folder.
// In texts, "$dev/" stands for its device folder and "$byid" for its by-id link.
struct FakeMachine {
    QTemporaryDir root;
    QString profile = root.filePath("nirvex.INI");

    FakeMachine()
    {
        QDir dir(root.path());
        for (const char* path : {"dev", "byid", "sys/ttyS0", "sys/ttyS1"})
            dir.mkpath(path);
        for (const char* name :
             {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1", "ttyACM0"})
            QFile(expand("$dev/") + name).open(QIODevice::WriteOnly);
        // ttyS0 has no UART behind it
        for (const auto& [name, type] : {std::pair{"ttyS0", "0\n"}, {"ttyS1", "4\n"}}) {
            QFile file(root.filePath(QStringLiteral("sys/%1/type").arg(name)));
            if (file.open(QIODevice::WriteOnly))
                file.write(type);
        }
        QFile::link(expand("$dev/ttyUSB1"), expand("$byid"));
    }
    QString expand(QString text) const
    {
        return text.replace("$dev/", root.filePath("dev/"))
            .replace("$byid", root.filePath("byid/usb-Acme_X1-if00-port0"));
    }
    QStringList list(const QString& text) const
    {
        return expand(text).split(' ', Qt::SkipEmptyParts);
    }
    // Sets table up on this machine, with the given devices present.
    void setUp(PortTable& table, const QString& present) const
    {
        table.setSysfsRoot(root.filePath("sys"));
        table.setByIdDir(root.filePath("byid"));
        table.setDeviceLister([this, names = list(present)] {
            QList<PortTable::Device> devices;
            for (const QString& name : names)
                devices.append({name, expand("$dev/" + name)});
            return devices;
        });
    }
    void append(const QString& text) const
    {
        QFile file(profile);
        QVERIFY(file.open(QIODevice::Append));
        file.write(expand(text).toUtf8());
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
        const auto row = [](const char* name, const char* hand, const char* present,
                            const char* expected, const char* added) {
            QTest::newRow(name) << QString(hand) << QString(present) << QString(expected)
                                << QString(added);
        };
        row("nothing written yet, phantom ttyS0 skipped", "", "ttyUSB0 ttyS0 ttyS1 ttyACM0",
            "COM1=$dev/ttyACM0 COM2=$dev/ttyS1 COM3=$dev/ttyUSB0", "=");
        row("hand entries win, lowest free number", "COM1=/dev/pts/7 COM3=$dev/ttyUSB0",
            "ttyUSB0 ttyACM0 ttyS1",
            "COM1=/dev/pts/7 COM2=$dev/ttyACM0 COM3=$dev/ttyUSB0 COM4=$dev/ttyS1",
            "COM2=$dev/ttyACM0 COM4=$dev/ttyS1");
        row("stable by-id name preferred", "", "ttyUSB1", "COM1=$byid", "=");
        row("hand entry under the kernel name of a by-id device", "COM7=$dev/ttyUSB1", "ttyUSB1",
            "COM7=$dev/ttyUSB1", "");
        row("empty value keeps its number unmapped", "COM1=", "ttyUSB0", "COM2=$dev/ttyUSB0", "=");
        row("keys that are no port", "COM0=/a COM256=/b PORT1=/c COMx=/d com3=$dev/ttyUSB0",
            "ttyUSB0", "COM3=$dev/ttyUSB0", "");
        row("ttyS2 before ttyS10", "", "ttyS10 ttyS2", "COM1=$dev/ttyS2 COM2=$dev/ttyS10", "=");
    }
    void numbering()
    {
        QFETCH(QString, hand);
        QFETCH(QString, present);
        QFETCH(QString, expected);
        QFETCH(QString, added);
        FakeMachine machine;
        PortTable table;
        machine.setUp(table, present);
        QList<std::pair<QString, QString>> lines;
        for (const QString& line : machine.list(hand))
            lines.append({line.section('=', 0, 0), line.section('=', 1)});
        table.assign(lines);
        QCOMPARE(listOf(table.allEntries()), machine.list(expected));
        QCOMPARE(listOf(table.newEntries()), machine.list(added == "=" ? expected : added));
    }

    void numbersLastAcrossRunsAndReplugs()
    {
        FakeMachine machine;
        const QByteArray start = "[Settings]\nDestType=1\n[Ports]\nCOM1 = /dev/pts/7\n";
        machine.append(start);
        PortTable first;
        machine.setUp(first, "ttyUSB0 ttyACM0");
        QVERIFY(first.load(machine.profile) && first.save(machine.profile));

        // a second run finds everything written, and writes nothing more
        PortTable second;
        machine.setUp(second, "ttyUSB0 ttyACM0");
        QVERIFY(second.load(machine.profile));
        QCOMPARE(second.allEntries(), first.allEntries());
        QVERIFY(second.newEntries().isEmpty());

        // ttyACM0 unplugged, a new adapter plugged in: the numbers already given stay
        PortTable third;
        machine.setUp(third, "ttyS1 ttyUSB0");
        QVERIFY(third.load(machine.profile));
        QCOMPARE(listOf(third.newEntries()), machine.list("COM4=$dev/ttyS1"));
        QCOMPARE(third.devicePath(2), machine.expand("$dev/ttyACM0"));
        QVERIFY(third.save(machine.profile));
        QFile file(machine.profile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.startsWith(start));
        QCOMPARE(text.count("COM"), 4);
    }

    // A line edited into the profile while the program runs is the user's: at save the
    // program writes around it.
    void handEditWhileRunning_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("hand line on the program's number")
            << "COM1 = /dev/pts/7"
            << "COM1=/dev/pts/7 COM2=$dev/ttyUSB0 COM3=$dev/ttyACM0 COM9=/dev/pts/9";
        QTest::newRow("device mapped by hand")
            << "COM5=$dev/ttyACM0"
            << "COM2=$dev/ttyUSB0 COM5=$dev/ttyACM0 COM9=/dev/pts/9";
    }
    void handEditWhileRunning()
    {
        QFETCH(QString, edit);
        QFETCH(QString, expected);
        FakeMachine machine;
        machine.append("[Ports]\nCOM9=/dev/pts/9\n");
        PortTable table;
        machine.setUp(table, "ttyUSB0 ttyACM0");
        QVERIFY(table.load(machine.profile));
        QCOMPARE(table.newEntries().size(), 2);
        machine.append(edit + "\n");
        QVERIFY(table.save(machine.profile));

        QStringList lines;
        for (const auto& [key, value] : ProfileFile::readSection(machine.profile, "Ports"))
            lines << PortTable::keyFor(PortTable::numberOfKey(key)) + "=" + value;
        lines.sort();
        QCOMPARE(lines, machine.list(expected));
        QFile file(machine.profile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\n" + machine.expand(edit).toUtf8() + "\n"));
    }
};

NIRVEX_TEST(TestPortTable)
#include "tst_porttable.moc"
