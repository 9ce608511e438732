#include "TestRegistry.h"

#include "core/TrafficLog.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Direction = TrafficLog::Direction;

// 12:34:56.789 local time, plus ms.
qint64 at(int ms)
{
    return QDateTime(QDate(2026, 12, 7), QTime(12, 34, 56, 789)).toMSecsSinceEpoch() + ms;
}

QStringList linesOf(const TrafficLog& log)
{
    QStringList lines;
    for (qint64 i = 0; i < log.lineCount(); ++i)
        lines.append(log.line(i).text);
    return lines;
}

} // namespace

// The monitor's record: the dump layout, offsets and counts per direction, bursts, the bound.
class TestTrafficLog : public QObject {
    Q_OBJECT
private slots:
    // Saved as shown: counts, then each burst's header and dump lines, events between them.
    void savedTextIsTheDump()
    {
        TrafficLog log;
        log.appendBytes(Direction::ToDestination, QByteArray("Hello, world!\r\n\0\x7f\xff", 18),
                        at(0));
        log.appendLineChange(RelayPort::Destination, ModemLine::RTS, true, at(11));
        log.appendBytes(Direction::ToSource, "OK", at(12));
        // Each direction keeps its own offset.
        log.appendBytes(Direction::ToDestination, "A", at(20));

        QTemporaryDir dir;
        QVERIFY(log.save(dir.filePath("traffic.txt")));
        QFile file(dir.filePath("traffic.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()),
                 "転送元→転送先 19 バイト  転送先→転送元 2 バイト\n"
                 "12:34:56.789  転送元→転送先  18 バイト\n"
                 "00000000  48 65 6C 6C 6F 2C 20 77  6F 72 6C 64 21 0D 0A 00  Hello, world!...\n"
                 "00000010  7F FF                                             ..\n"
                 "12:34:56.800  転送先 RTS ON\n"
                 "12:34:56.801  転送先→転送元  2 バイト\n"
                 "00000000  4F 4B                                             OK\n"
                 "12:34:56.809  転送元→転送先  1 バイト\n"
                 "00000012  41                                                A\n");
        QCOMPARE(log.line(3).kind, TrafficLog::LineKind::Event);
        QCOMPARE(log.line(5).direction, Direction::ToSource);
    }

    // Bytes of one direction close together make one burst; a pause in between starts another.
    void burstsJoinUntilAGap()
    {
        TrafficLog log;
        log.appendBytes(Direction::ToDestination, "abc", at(0));
        log.appendBytes(Direction::ToDestination, "def", at(TrafficLog::BurstGapMs - 1));
        log.appendBytes(Direction::ToDestination, "g", at(2 * TrafficLog::BurstGapMs));
        QCOMPARE(linesOf(log),
                 QStringList({"12:34:56.789  転送元→転送先  6 バイト",
                              "00000000  61 62 63 64 65 66                                 abcdef",
                              "12:34:56.889  転送元→転送先  1 バイト",
                              "00000006  67                                                g"}));
    }

    // Old bursts go once the budget is spent; counts and offsets go on.
    void boundKeepsTheNewest()
    {
        TrafficLog log(1000);
        for (int i = 0; i < 100; ++i)
            log.appendBytes(Direction::ToSource, QByteArray(100, 'x'), at(i * 1000));
        QVERIFY(log.retained() <= 1000);
        QCOMPARE(log.count(Direction::ToSource), 10000);
        // Six bursts of 100 bytes (one header and seven dump lines each) fit.
        QCOMPARE(log.lineCount(), 48);
        QVERIFY(log.line(1).text.startsWith("000024B8  78"));
        QVERIFY(log.line(47).text.startsWith("0000270C  78 78 78 78  "));
    }

    // Paused, only the counts move; clearing forgets lines and counts.
    void pauseAndClear()
    {
        TrafficLog log;
        log.setPaused(true);
        log.appendBytes(Direction::ToDestination, "abc", at(0));
        log.appendLineChange(RelayPort::Source, ModemLine::CTS, true, at(1));
        QCOMPARE(log.lineCount(), 0);
        QCOMPARE(log.count(Direction::ToDestination), 3);
        log.setPaused(false);
        log.appendBytes(Direction::ToDestination, "d", at(2));
        QCOMPARE(log.line(1).text.left(12), "00000003  64");
        log.clear();
        QCOMPARE(log.lineCount(), 0);
        QCOMPARE(log.countsText(), "転送元→転送先 0 バイト  転送先→転送元 0 バイト");
    }
};

NIRVEX_TEST(TestTrafficLog)
#include "tst_trafficlog.moc"
