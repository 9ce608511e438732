#include "TestRegistry.h"

#include "core/RelaySettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The rules that turn profile and picker texts into a relay start's settings.
class TestRelaySettings : public QObject {
    Q_OBJECT
private slots:
    void portNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("plain") << "1000" << 1000;
        QTest::newRow("leading blanks, trailing text") << "  80x" << 80;
        QTest::newRow("half to even") << "2.5" << 2;
        QTest::newRow("no number") << "abc" << 0;
        QTest::newRow("beyond 32 bits") << "1e10" << -1;
    }
    void portNumber()
    {
        QFETCH(QString, text);
        QTEST(RelaySettings::portNumber(text), "number");
    }

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
};

NIRVEX_TEST(TestRelaySettings)
#include "tst_relaysettings.moc"
