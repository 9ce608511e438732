#include "TestRegistry.h"

#include "core/PortTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Numbering serial devices as COM ports, on a machine of its own in a temporary folder.
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
        // Device files, sysfs type files (no UART behind ttyS0) and a by-id link to ttyUSB1.
        QTemporaryDir root;
        const auto list = [&root](QString text) {
            return text.replace("$dev/", root.filePath("dev/"))
                .replace("$byid", root.filePath("byid/usb-Acme_X1-if00-port0"))
                .split(' ', Qt::SkipEmptyParts);
        };
        for (const char* path : {"dev", "byid", "sys/ttyS0", "sys/ttyS1"})
            QVERIFY(QDir(root.path()).mkpath(path));
        for (const QString& name :
             {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1", "ttyACM0"})
            QVERIFY(QFile(root.filePath("dev/" + name)).open(QIODevice::WriteOnly));
        for (const auto& [name, type] : {std::pair{"ttyS0", "0\n"}, {"ttyS1", "4\n"}}) {
            QFile file(root.filePath(QStringLiteral("sys/%1/type").arg(name)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(type) > 0);
        }
        QVERIFY(QFile::link(root.filePath("dev/ttyUSB1"), list("$byid").value(0)));

        PortTable table;
        table.setSysfsRoot(root.filePath("sys"));
        table.setByIdDir(root.filePath("byid"));
        QFETCH(QString, present);
        table.setDeviceLister([&] {
            QList<PortTable::Device> devices;
            for (const QString& name : present.split(' '))
                devices.append({name, root.filePath("dev/" + name)});
            return devices;
        });
        QFETCH(QString, hand);
        QList<std::pair<QString, QString>> lines;
        for (const QString& line : list(hand))
            lines.append({line.section('=', 0, 0), line.section('=', 1)});
        table.assign(lines);
        const auto listOf = [](const QMap<int, QString>& entries) {
            QStringList lines;
            for (auto it = entries.cbegin(); it != entries.cend(); ++it)
                lines << PortTable::keyFor(it.key()) + "=" + it.value();
            return lines;
        };
        QFETCH(QString, expected);
        QFETCH(QString, added);
        QCOMPARE(listOf(table.allEntries()), list(expected));
        QCOMPARE(listOf(table.newEntries()), list(added == "=" ? expected : added));
    }
};

NIRVEX_TEST(TestPortTable)
#include "tst_porttable.moc"
