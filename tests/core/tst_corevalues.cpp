#include "TestRegistry.h"

#include "core/ExtractNumber.h"
#include "core/IntervalTimer.h"

#include <QTest>

// The port number read from a picker's text, and the timer that restarts when enabled again.
class TestCoreValues : public QObject {
    Q_OBJECT
private slots:
    void extractNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("digits around a letter") << "1a2" << 12;
        QTest::newRow("port with in-use mark") << "COM12 (使用中)" << 12;
        QTest::newRow("full-width digits skipped") << "COM１２3" << 3;
        QTest::newRow("40-digit run saturates") << QString(40, QLatin1Char('9')) << 32767;
    }
    void extractNumber()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QCOMPARE(int(ExtractNumber(text)), number);
    }

    void intervalTimer()
    {
        IntervalTimer timer;
        timer.setInterval(100000);
        timer.setEnabled(true);
        const int first = timer.remainingTime();
        QTRY_VERIFY_WITH_TIMEOUT(timer.remainingTime() < first, 10000);
        const int later = timer.remainingTime();
        timer.setEnabled(true); // enabling again restarts the interval
        QVERIFY(timer.remainingTime() > later);
        timer.setInterval(0);
        QVERIFY(!timer.isRunning() && timer.Enabled());
    }
};

NIRVEX_TEST(TestCoreValues)
#include "tst_corevalues.moc"
