#include "TestRegistry.h"

#include "core/SerialFraming.h"

#include <QTest>

// Reading framing texts such as "9600,N,8,1".
class TestSerialFraming : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("canonical");

        QTest::newRow("common") << "9600,N,8,1" << 0 << "9600,N,8,1";
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
};

NIRVEX_TEST(TestSerialFraming)
#include "tst_serialframing.moc"
