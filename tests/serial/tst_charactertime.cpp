#include "TestRegistry.h"
#include "core/CharacterTime.h"

#include <QTest>

// The time of one character on the line and the source timer interval made from it.
class TestCharacterTime : public QObject {
    Q_OBJECT

    static void row(const char* name, const char* speed, const char* bits, const char* stop,
                    int rounded, int interval)
    {
        QTest::newRow(name) << QString(speed) << QString(bits) << QString(stop) << rounded
                            << interval;
    }

private slots:
    void rounding_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("bits");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<int>("rounded");
        QTest::addColumn<int>("interval");
        row("9600 8N1 is 1.25 ms", "9600", "8", "1", 1, 1);
        row("600 5N1.5 is 15.83 ms", "600", "5", "1.5", 16, 16);
        row("half to even 2.5", "4400", "5", "3", 2, 2);
        row("19200 5N1 rounds to 0", "19200", "5", "1", 0, 1);
        row("no speed selected", "", "8", "1", 0, 1);
        row("speed not a number", "fast", "8", "1", 0, 1);
    }
    void rounding()
    {
        QFETCH(QString, speed);
        QFETCH(QString, bits);
        QFETCH(QString, stop);
        QTEST(CharacterTime::rounded(speed, bits, stop), "rounded");
        QTEST(CharacterTime::timerInterval(speed, bits, stop), "interval");
    }
};

NIRVEX_TEST(TestCharacterTime)
#include "tst_charactertime.moc"
