#include "TestRegistry.h"

#include "core/LineReceiver.h"
#include "core/RelaySettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The settings a profile gives a relay start, and received lines that are too long.
class TestCoreValues : public QObject {
    Q_OBJECT
private slots:
    // A missing profile gives the defaults; values that are no number, do not fit or are not
    // listed count as missing (numbers) or leave the picker empty (texts).
    void fromProfile_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("framing");
        QTest::addColumn<int>("comPort");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("listenPort");
        QTest::newRow("missing") << QByteArray() << "9600,N,8,1" << 0 << 1 << 1 << 1000;
        QTest::newRow("stored") << QByteArray(
                                       "速度=110\nパリティ=Even\nビット=7\nストップビット=1.5\n"
                                       "シリアルポート=3\nDestType=3\nDestMode=2\nPort=81\n")
                                << "110,E,7,1.5" << 3 << 3 << 2 << 81;
        QTest::newRow("unusable") << QByteArray("速度=9601\nパリティ=none\nシリアルポート=x\n"
                                                "DestType=2.5\nDestMode=9e9\nPort=x\n")
                                  << ",,8,1" << 0 << 2 << 1 << 0;
    }
    void fromProfile()
    {
        QFETCH(QByteArray, profile);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("nirvex.INI"));
        QFile file(path);
        if (!profile.isEmpty())
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Settings]\n" + profile) > 0);
        file.close();
        const RelaySettings settings = RelaySettings::fromProfile(path);
        QTEST(settings.source.framingText(), "framing");
        QTEST(settings.source.comPort, "comPort");
        QTEST(int(settings.kind), "kind");
        QTEST(int(settings.role), "role");
        QTEST(settings.listenPort, "listenPort");
        QCOMPARE(settings.destination.framingText(), QStringLiteral("9600,N,8,1"));
        QCOMPARE(settings.hostId, QStringLiteral("Guest"));
    }

    void overLongLineDropped_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("chunkSize");
        QTest::newRow("40000 in chunks of 7") << 40000 << 7;
        QTest::newRow("one over, split at the limit") << 32768 << 32767;
        QTest::newRow("at the limit") << 32767 << 0;
        QTest::newRow("20 MiB in two chunks without LF") << 20 * 1024 * 1024 << 10 * 1024 * 1024;
    }
    void overLongLineDropped()
    {
        QFETCH(int, length);
        QFETCH(int, chunkSize);
        const bool kept = length <= 32767;
        const QString longLine(length, QLatin1Char('x'));
        const QString text = longLine + "\nCTRL:DSR:ON\n";
        LineReceiver receiver;
        QStringList got;
        const int step = chunkSize > 0 ? chunkSize : int(text.size());
        for (qsizetype at = 0; at < text.size(); at += step) {
            got += receiver.feed(text.mid(at, step));
            QVERIFY(receiver.buffer().size() <= 32767);
            if (step > 32767 && !kept) // nothing of a huge chunk is held
                QVERIFY(receiver.buffer().capacity() <= 32767);
        }
        QCOMPARE(got, (kept ? QStringList{longLine, "CTRL:DSR:ON"} : QStringList{"CTRL:DSR:ON"}));
        QCOMPARE(receiver.droppedLines(), kept ? 0 : 1);
    }
};

NIRVEX_TEST(TestCoreValues)
#include "tst_corevalues.moc"
