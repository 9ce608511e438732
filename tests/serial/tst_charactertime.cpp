#include "TestRegistry.h"
#include "serial/CharacterTime.h"

#include <QTest>

class TestCharacterTime : public QObject {
    Q_OBJECT
private slots:
    void rounding_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("bits");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<int>("rounded");
        QTest::addColumn<int>("interval");
        QTest::newRow("9600 8N1 is 1.25 ms") << "9600"
                                             << "8"
                                             << "1" << 1 << 1;
        QTest::newRow("110 8N2 is 118.18 ms") << "110"
                                              << "8"
                                              << "2" << 118 << 118;
        QTest::newRow("1200 8N1 is 10 ms") << "1200"
                                           << "8"
                                           << "1" << 10 << 10;
        QTest::newRow("600 5N1.5 is 15.83 ms") << "600"
                                               << "5"
                                               << "1.5" << 16 << 16;
        // 2400 bit/s with 4 data bits and 2 stop bits is exactly 3.75 ms -> 4.
        QTest::newRow("2400 4N2") << "2400"
                                  << "4"
                                  << "2" << 4 << 4;
        // Exactly 2.5 ms rounds to the even neighbour 2.
        QTest::newRow("half to even 2.5") << "4400"
                                          << "5"
                                          << "3" << 2 << 2;
        QTest::newRow("19200 5N1 rounds to 0") << "19200"
                                               << "5"
                                               << "1" << 0 << 1;
        QTest::newRow("19200 5N2 is 0.52 ms") << "19200"
                                              << "5"
                                              << "2" << 1 << 1;
        QTest::newRow("28800 8N1 rounds to 0") << "28800"
                                               << "8"
                                               << "1" << 0 << 1;
        QTest::newRow("256000 8N2 rounds to 0") << "256000"
                                                << "8"
                                                << "2" << 0 << 1;
        QTest::newRow("no speed selected") << ""
                                           << "8"
                                           << "1" << 0 << 1;
        QTest::newRow("speed zero") << "0"
                                    << "8"
                                    << "1" << 0 << 1;
        QTest::newRow("speed not a number") << "fast"
                                            << "8"
                                            << "1" << 0 << 1;
    }
    void rounding()
    {
        QFETCH(QString, speed);
        QFETCH(QString, bits);
        QFETCH(QString, stop);
        QFETCH(int, rounded);
        QFETCH(int, interval);
        QCOMPARE(CharacterTime::rounded(speed, bits, stop), rounded);
        QCOMPARE(CharacterTime::timerInterval(speed, bits, stop), interval);
    }
};

NIRVEX_TEST(TestCharacterTime)
#include "tst_charactertime.moc"
