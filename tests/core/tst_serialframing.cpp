#include "TestRegistry.h"

#include "core/CharacterTime.h"
#include "core/SerialFraming.h"

#include <QTest>

// Reading framing texts such as "9600,N,8,1", and the time of one character they give.
class TestSerialFraming : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("unlisted speed") << "31250,N,8,1" << 0 << "31250,N,8,1";
        QTest::newRow("lower-case parity") << "9600,e,8,1" << 0 << "9600,E,8,1";
        QTest::newRow("five bits 1.5 stop") << "300,N,5,1.5" << 0 << "300,N,5,1.5";
        QTest::newRow("blanks around fields") << " 9600 , N , 8 , 1 " << 0 << "9600,N,8,1";
        QTest::newRow("4 data bits") << "9600,N,4,1" << 380 << "";
        QTest::newRow("parity word") << "9600,None,8,1" << 380 << "";
        QTest::newRow("stop 3") << "9600,N,8,3" << 380 << "";
        QTest::newRow("speed 0") << "0,N,8,1" << 380 << "";
        QTest::newRow("speed too large") << "99999999999,N,8,1" << 380 << "";
        QTest::newRow("three fields") << "9600,N,8" << 380 << "";
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(int, error);
        QFETCH(QString, canonical);
        SerialFraming framing;
        framing.baudRate = 1234;
        QCOMPARE(SerialFraming::parse(text, &framing), error);
        if (error == 0)
            QCOMPARE(framing.toString(), canonical);
        else
            QCOMPARE(framing.baudRate, 1234); // untouched on failure
    }

    // The rounded character time in ms and the source timer interval made from it.
    void characterTime_data()
    {
        QTest::addColumn<QStringList>("framing"); // speed, data bits, stop bits
        QTest::addColumn<int>("rounded");
        QTest::addColumn<int>("interval");
        QTest::newRow("9600 8N1 is 1.25 ms") << QStringList{"9600", "8", "1"} << 1 << 1;
        QTest::newRow("600 5N1.5 is 15.83 ms") << QStringList{"600", "5", "1.5"} << 16 << 16;
        QTest::newRow("half to even 2.5") << QStringList{"4400", "5", "3"} << 2 << 2;
        QTest::newRow("19200 5N1 rounds to 0") << QStringList{"19200", "5", "1"} << 0 << 1;
        QTest::newRow("no speed selected") << QStringList{"", "8", "1"} << 0 << 1;
        QTest::newRow("speed not a number") << QStringList{"fast", "8", "1"} << 0 << 1;
    }
    void characterTime()
    {
        QFETCH(QStringList, framing);
        QTEST(CharacterTime::rounded(framing[0], framing[1], framing[2]), "rounded");
        QTEST(CharacterTime::timerInterval(framing[0], framing[1], framing[2]), "interval");
    }
};

NIRVEX_TEST(TestSerialFraming)
#include "tst_serialframing.moc"
