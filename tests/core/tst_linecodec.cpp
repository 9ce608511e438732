#include "TestRegistry.h"
#include "core/LineCodec.h"
#include "core/LineReceiver.h"

#include <QTest>

// Reading DATA lines and cutting the received text into lines.
class TestLineCodec : public QObject {
    Q_OBJECT
private slots:
    void decodeDataLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("used");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("lower case") << "DATA:1:ff" << true << QByteArray::fromHex("ff");
        QTest::newRow("hex too short") << "DATA:3:41" << true << QByteArray::fromHex("410000");
        QTest::newRow("extra hex ignored") << "DATA:1:4142" << true << QByteArray::fromHex("41");
        QTest::newRow("odd digit at end") << "DATA:2:414" << true << QByteArray::fromHex("4104");
        QTest::newRow("colon shifts fields")
            << "DATA:2:41:42" << true << QByteArray::fromHex("4100");
        QTest::newRow("2.5 rounds to 2")
            << "DATA:2.5:414243" << true << QByteArray::fromHex("4142");
        QTest::newRow("largest count") << "DATA:32767:" << true << QByteArray(32767, '\0');
        QTest::newRow("negative") << "DATA:-1:41" << false << QByteArray();
        QTest::newRow("beyond double") << "DATA:1e400:41" << false << QByteArray();
        QTest::newRow("not a number") << "DATA:abc:41" << false << QByteArray();
    }
    void decodeDataLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, used);
        QFETCH(QByteArray, bytes);
        const std::optional<QByteArray> decoded = LineCodec::decodeDataLine(line);
        QCOMPARE(decoded.has_value(), used);
        if (used)
            QCOMPARE(*decoded, bytes);
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
        QCOMPARE(receiver.buffer(), QString());
        QCOMPARE(receiver.droppedLines(), kept ? 0 : 1);
    }
};

NIRVEX_TEST(TestLineCodec)
#include "tst_linecodec.moc"
