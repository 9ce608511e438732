#include "TestRegistry.h"

#include "serial/ComError.h"
#include "serial/SerialFraming.h"

#include <QTest>

// Reading framing texts such as "9600,N,8,1".
class SerialFramingTest : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("canonical");

        QTest::newRow("common") << "9600,N,8,1" << 0 << "9600,N,8,1";
        QTest::newRow("slowest listed") << "110,E,7,2" << 0 << "110,E,7,2";
        QTest::newRow("14400") << "14400,O,8,1" << 0 << "14400,O,8,1";
        QTest::newRow("256000") << "256000,N,8,1" << 0 << "256000,N,8,1";
        QTest::newRow("unlisted speed") << "31250,N,8,1" << 0 << "31250,N,8,1";
        QTest::newRow("mark") << "9600,M,7,1" << 0 << "9600,M,7,1";
        QTest::newRow("lower-case parity") << "9600,e,8,1" << 0 << "9600,E,8,1";
        QTest::newRow("five bits 1.5 stop") << "300,N,5,1.5" << 0 << "300,N,5,1.5";
        QTest::newRow("blanks around fields") << " 9600 , N , 8 , 1 " << 0 << "9600,N,8,1";

        QTest::newRow("4 data bits") << "9600,N,4,1" << 380 << "";
        QTest::newRow("parity word") << "9600,None,8,1" << 380 << "";
        QTest::newRow("parity X") << "9600,X,8,1" << 380 << "";
        QTest::newRow("stop 3") << "9600,N,8,3" << 380 << "";
        QTest::newRow("speed 0") << "0,N,8,1" << 380 << "";
        QTest::newRow("negative speed") << "-9600,N,8,1" << 380 << "";
        QTest::newRow("speed too large") << "99999999999,N,8,1" << 380 << "";
        QTest::newRow("three fields") << "9600,N,8" << 380 << "";
        QTest::newRow("empty") << "" << 380 << "";
        QTest::newRow("garbage") << "\x01\xff;;" << 380 << "";
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(int, error);
        QFETCH(QString, canonical);

        SerialFraming framing;
        framing.baudRate = 1234;
        QCOMPARE(SerialFraming::parse(text, &framing), error);
        if (error == 0) {
            QCOMPARE(framing.toString(), canonical);
        } else {
            QCOMPARE(framing.baudRate, 1234); // untouched on failure
            QCOMPARE(ComError::fromNumber(error).Description, QString("プロパティの値が不正です"));
        }
    }
};

NIRVEX_TEST(SerialFramingTest)
#include "tst_serialframing.moc"
