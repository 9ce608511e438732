#include "TestRegistry.h"
#include "lan/LineCodec.h"
#include "lan/LineReceiver.h"

#include <QTest>
#include <limits>

// Building, cutting and reading the lines of the LAN link.
class TestLineCodec : public QObject {
    Q_OBJECT
private slots:
    void buildDataLine()
    {
        const uint8_t three[] = {0x0A, 0x1B, 0xFF};
        QCOMPARE(LineCodec::buildDataLine(three, 3), QString("DATA:3:0A1BFF"));
    }
    void decodeDataLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("used");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("lower case") << "DATA:1:ff" << true << QByteArray::fromHex("ff");
        QTest::newRow("hex too short") << "DATA:3:41" << true << QByteArray::fromHex("410000");
        QTest::newRow("extra hex ignored") << "DATA:1:4142" << true << QByteArray::fromHex("41");
        QTest::newRow("pair cut by non-hex")
            << "DATA:2:4G41" << true << QByteArray::fromHex("0441");
        QTest::newRow("odd digit at end") << "DATA:2:414" << true << QByteArray::fromHex("4104");
        QTest::newRow("non-ASCII") << "DATA:1:\u00e91" << true << QByteArray(1, '\0');
        QTest::newRow("colon shifts fields")
            << "DATA:2:41:42" << true << QByteArray::fromHex("4100");
        QTest::newRow("1.5 rounds to 2")
            << "DATA:1.5:414243" << true << QByteArray::fromHex("4142");
        QTest::newRow("2.5 rounds to 2")
            << "DATA:2.5:414243" << true << QByteArray::fromHex("4142");
        QTest::newRow("largest count") << "DATA:32767:" << true << QByteArray(32767, '\0');
        QTest::newRow("count 0") << "DATA:0:41" << false << QByteArray();
        QTest::newRow("negative") << "DATA:-1:41" << false << QByteArray();
        QTest::newRow("40000") << "DATA:40000:41" << false << QByteArray();
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
    void splitField_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("field");
        QTest::newRow("no colon, 1") << "DATA" << 1 << "DATA";
        QTest::newRow("no colon, 0") << "DATA" << 0 << "DATA";
        QTest::newRow("no colon, 2") << "DATA" << 2 << "";
        QTest::newRow("trailing colon") << "AUTH:" << 2 << "";
        QTest::newRow("middle") << "A:B:C" << 2 << "B";
        QTest::newRow("index 5") << "LIST:id:key:host:x" << 5 << "x";
        QTest::newRow("empty middle") << "A::C" << 2 << "";
        QTest::newRow("empty keyword") << ":B" << 1 << "";
        QTest::newRow("CR kept") << "CTRL:CTS:ON\r" << 3 << "ON\r";
    }
    void splitField()
    {
        QFETCH(QString, text);
        QFETCH(int, index);
        QTEST(LineCodec::SplitField(text, index), "field");
    }
    void readNumber_data()
    {
        const double inf = std::numeric_limits<double>::infinity();
        QTest::addColumn<QString>("field");
        QTest::addColumn<double>("number");
        QTest::newRow("leading zero") << "01" << 1.0;
        QTest::newRow("fraction") << "1.5" << 1.5;
        QTest::newRow("zero fraction") << "1.0" << 1.0;
        QTest::newRow("letters") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("blank then junk") << " 7x" << 7.0;
        QTest::newRow("signs") << "-3" << -3.0;
        QTest::newRow("leading dot") << ".5" << 0.5;
        QTest::newRow("exponent") << "2E-1" << 0.2;
        QTest::newRow("exponent without digits") << "7e+x" << 7.0;
        QTest::newRow("full-width digits") << "\uff11\uff12" << 0.0;
        QTest::newRow("overflow") << "-1e400" << -inf;
        QTest::newRow("long digit run") << QString(400, '9') << inf;
        QTest::newRow("underflow") << "1e-400" << 0.0;
        QTest::newRow("huge exponent") << "0.001e99999999999999999999" << inf;
    }
    void readNumber()
    {
        QFETCH(QString, field);
        QTEST(LineCodec::readNumber(field), "number");
    }
    void receiveLines_data()
    {
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("pending");
        QTest::newRow("line split over chunks") << QStringList{"DATA:1:4", "1\nCTRL:DSR:ON\n"}
                                                << QStringList{"DATA:1:41", "CTRL:DSR:ON"} << "";
        QTest::newRow("CR kept") << QStringList{"CTRL:CTS:ON\r\n"} << QStringList{"CTRL:CTS:ON\r"}
                                 << "";
        QTest::newRow("empty lines") << QStringList{"\n\nA\n"} << QStringList{"", "", "A"} << "";
        QTest::newRow("many lines and a tail")
            << QStringList{"a\nb\nc\nd"} << QStringList{"a", "b", "c"} << "d";
        QTest::newRow("tail over chunks") << QStringList{"ab", "", "cd"} << QStringList{} << "abcd";
    }
    void receiveLines()
    {
        QFETCH(QStringList, chunks);
        QFETCH(QStringList, lines);
        QFETCH(QString, pending);
        LineReceiver receiver;
        QStringList got;
        for (const QString& chunk : chunks)
            got += receiver.feed(chunk);
        QCOMPARE(got, lines);
        QCOMPARE(receiver.buffer(), pending);
    }
    void overLongLineDropped_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("chunkSize");
        QTest::newRow("40000 in one chunk") << 40000 << 0;
        QTest::newRow("40000 in chunks of 7") << 40000 << 7;
        QTest::newRow("one over, split at the limit") << 32768 << 32767;
        QTest::newRow("at the limit") << 32767 << 0;
        QTest::newRow("20 MiB in two chunks without LF") << 20 * 1024 * 1024 << 10 * 1024 * 1024;
    }
    void overLongLineDropped()
    {
        QFETCH(int, length);
        QFETCH(int, chunkSize);
        const bool kept = length <= LineReceiver::MaxLineLength;
        const QString longLine(length, QLatin1Char('x'));
        const QString text = longLine + "\nCTRL:DSR:ON\n";
        LineReceiver receiver;
        QStringList got;
        const int step = chunkSize > 0 ? chunkSize : int(text.size());
        for (qsizetype at = 0; at < text.size(); at += step) {
            got += receiver.feed(text.mid(at, step));
            QVERIFY(receiver.buffer().size() <= LineReceiver::MaxLineLength);
            if (step > LineReceiver::MaxLineLength && !kept) // nothing of a huge chunk is held
                QVERIFY(receiver.buffer().capacity() <= LineReceiver::MaxLineLength);
            if (at + step > LineReceiver::MaxLineLength && at + step <= length)
                QVERIFY(receiver.discarding());
        }
        QCOMPARE(got, (kept ? QStringList{longLine, "CTRL:DSR:ON"} : QStringList{"CTRL:DSR:ON"}));
        QCOMPARE(receiver.buffer(), QString());
        QCOMPARE(receiver.droppedLines(), kept ? 0 : 1);
    }
};

NIRVEX_TEST(TestLineCodec)
#include "tst_linecodec.moc"
