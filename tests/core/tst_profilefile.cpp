#include "TestRegistry.h"

#include "core/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// Literal bytes, embedded NULs included.
template <size_t N> QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

// Shift-JIS (code page 932) spellings.
const QByteArray SjisSerial2 =
    raw("\x83\x56\x83\x8A\x83\x41\x83\x8B\x83\x7C\x81\x5B\x83\x67\x82\x51"); // シリアルポート２
const QByteArray SjisUser = raw("\x83\x86\x81\x5B\x83\x55\x81\x5B");         // ユーザー

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QByteArray get(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList listing(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

template <typename... T> void row(const char* name, const T&... values)
{
    (QTest::newRow(name) << ... << values);
}

} // namespace

// Profile file reading and writing on real files.
class TestProfileFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString ini() const { return dir->filePath("p.INI"); }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void readValue_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QString key = "Key", def = "DEF";
        row("no file", QByteArray(), key, def);
        row("empty value", raw("[Settings]\nKey=\n"), key, QString(""));
        row("letter case", raw("[sETTINGS]\nkey=v\n"), QString("KEY"), QString("v"));
        row("blanks", raw(" [ Settings ] \n\t Key \t= a b \t\n"), key, QString("a b"));
        row("before any section", raw("Key=0\n[Settings]\n"), key, def);
        row("first key wins", raw("[Settings]\nKey=1\nKey=2\n"), key, QString("1"));
        row("comment", raw("[Settings]\n;Key=1\n"), key, def);
        row("BOM, then one in value", raw("\xEF\xBB\xBF[Settings]\nKey=\xEF\xBB\xBFv\n"), key,
            QChar(0xFEFF) + QString("v"));
        row("NUL ends value", raw("\0\n[Settings]\nKey=ab\0cd\n"), key, QString("ab"));
        row("full-width case", QByteArray("[Settings]\nＫｅｙ=1\n"), QString("ｋｅｙ"), def);
        row("254 cut UTF-8", "[Settings]\nKey=a" + QString(100, u'あ').toUtf8(), key,
            "a" + QString(84, u'あ'));
        row("254 cut Shift-JIS", "[Settings]\nKey=a" + raw("\x82\xA0").repeated(200), key,
            "a" + QString(126, u'あ'));
        // ヂ is 83 61 and ア is 83 41: the second bytes differ only in ASCII letter case.
        row("Shift-JIS second byte", raw("[Settings]\n\x83\x61=1\n"), QString("ア"), def);
    }
    void readValue()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        if (!content.isNull())
            put(ini(), content);
        QCOMPARE(ProfileFile::readValue(ini(), "Settings", key, "DEF"), expected);
    }

    void writeValue_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("readBack");
        const QString v = "v";
        row("replace, others kept",
            raw("; top\n[A]\nKey=1\n\n[Settings]\n ; c \nX = 1 \nKey=old\n\tY=2\n\n[B]\nKey=3"), v,
            raw("; top\n[A]\nKey=1\n\n[Settings]\n ; c \nX = 1 \nKey=v\n\tY=2\n\n[B]\nKey=3"), v);
        row("replace keeps spelling", raw("[settings]\n  kEY = old \n"), v,
            raw("[settings]\nkEY=v\n"), v);
        row("add after last key", raw("[Settings]\nX=1\n; c\n\n\n[B]\n"), v,
            raw("[Settings]\nX=1\nKey=v\n; c\n\n\n[B]\n"), v);
        row("add, no final break", raw("[Settings]\nX=1"), v, raw("[Settings]\nX=1\nKey=v\n"), v);
        row("new section", raw("[A]\nX=1"), v, raw("[A]\nX=1\n[Settings]\nKey=v\n"), v);
        row("CRLF add", raw("[Settings]\r\nY=2\r\n\r\n"), v,
            raw("[Settings]\r\nY=2\r\nKey=v\r\n\r\n"), v);
        row("BOM", raw("\xEF\xBB\xBF[Settings]\nKey=1\n"), v,
            raw("\xEF\xBB\xBF[Settings]\nKey=v\n"), v);
        row("first of duplicates", raw("[Settings]\nKey=1\nKey=2\n[Settings]\nKey=3\n"), v,
            raw("[Settings]\nKey=v\nKey=2\n[Settings]\nKey=3\n"), v);
        row("line breaks in value", raw("[Settings]\nKey=1\n"), QString("a\r\n[B]\nb=1"),
            raw("[Settings]\nKey=a  [B] b=1\n"), QString("a  [B] b=1"));
        // U+FEFF is a byte-order mark only as the file's first bytes; in a value it is text.
        const QString bom(QChar(0xFEFF));
        const QString bad(QChar(0xFFFD)); // what a broken UTF-8 sequence reads as
        const QByteArray bom8("\xEF\xBB\xBF"), bad8("\xEF\xBF\xBD");
        row("BOM after CR in value", QByteArray(),
            "\r" + bom + "e[Set4in" + bad + "1]~\nC\x03" + QChar(0) + "\x04OM",
            "[Settings]\nKey= " + bom8 + "e[Set4in" + bad8 + "1]~ C\x03 \x04OM\n",
            bom + "e[Set4in" + bad + "1]~ C\x03 \x04OM");
        row("BOM after tab in value", raw("[Settingi\t\t\t\t\t\t\tot,\r\n[\t0\r\n"),
            "\t" + bom + "e",
            "[Settingi\t\t\t\t\t\t\tot,\r\n[\t0\r\n[Settings]\r\nKey=\t" + bom8 + "e\r\n",
            bom + "e");
        row("BOM after vertical tabs in value", QByteArray(),
            QString(15, u'\v') + bom + "\x03" + QString(7, u'\v') + "\n" + QString(4, QChar(0)) +
                "\n",
            "[Settings]\nKey=" + QByteArray(15, '\v') + bom8 + "\x03" + QByteArray(7, '\v') +
                "      \n",
            bom + "\x03");
        row("BOM after line break in value", QByteArray(),
            QString(15, u'\t') + "\n\t\t\t\t\f" + QString(8, u'\t') + bom + bad.repeated(11) +
                "\x03\x02\x03\f/dev" + bad.repeated(3) + "/t",
            "[Settings]\nKey=" + QByteArray(15, '\t') + " \t\t\t\t\f" + QByteArray(8, '\t') + bom8 +
                bad8.repeated(11) + "\x03\x02\x03\f/dev" + bad8.repeated(3) + "/t\n",
            bom + bad.repeated(11) + "\x03\x02\x03\f/dev" + bad.repeated(3) + "/t");
    }
    void writeValue()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        QFETCH(QString, readBack);
        if (!before.isNull())
            put(ini(), before);
        QVERIFY(ProfileFile::writeValue(ini(), "Settings", "Key", value));
        QCOMPARE(get(ini()), after);
        QCOMPARE(ProfileFile::readValue(ini(), "Settings", "Key", "DEF"), readBack);
        QCOMPARE(listing(dir->path()), QStringList{"p.INI"});
    }

    void shiftJis()
    {
        QVERIFY(ProfileFile::shiftJisAvailable());
        // Bytes the codec would not give back unchanged (a duplicate code, a broken pair): lines
        // that are not written to must survive byte for byte.
        const QByteArray comment = raw("; \xED\x40 \x83\xFF\r\n");
        put(ini(), "[Settings]\r\n" + comment + SjisSerial2 + "=3\r\n");
        QCOMPARE(ProfileFile::readValue(ini(), "Settings", "シリアルポート２", "-1"), "3");
        QVERIFY(ProfileFile::writeValue(ini(), "Settings", "シリアルポート２", "7"));
        QVERIFY(ProfileFile::writeValue(ini(), "settings", "HostID", "ユーザー"));
        // ']' (0x5D) is the second byte of ゾ in "[ゾーン]".
        QVERIFY(ProfileFile::writeValue(ini(), "ゾーン", "Key", "1"));
        QVERIFY(ProfileFile::writeValue(ini(), "ゾーン", "Key", "2"));
        QCOMPARE(get(ini()), "[Settings]\r\n" + comment + SjisSerial2 + "=7\r\nHostID=" + SjisUser +
                                 raw("\r\n[\x83\x5D\x81\x5B\x83\x93]\r\nKey=2\r\n"));
        QCOMPARE(ProfileFile::readValue(ini(), "Settings", "HostID", ""), "ユーザー");
    }

    // A profile that cannot be written is left as it was, and no file is left behind.
    void writeFails_data()
    {
        QTest::addColumn<QByteArray>("before"); // content of p.INI; null: no such file
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("value");
        const QByteArray plain = raw("[Settings]\nKey=1\n");
        row("folder under a file", plain, QString("p.INI/q.INI"), QString("v"));
        row("not in Shift-JIS", "[Settings]\n" + SjisSerial2 + "=1\n", QString("p.INI"),
            QString("\U0001F600"));
    }
    void writeFails()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, target);
        QFETCH(QString, value);
        if (!before.isNull())
            put(ini(), before);
        const QStringList files = listing(dir->path());
        QVERIFY(!ProfileFile::writeValue(dir->filePath(target), "Settings", "Key", value));
        QCOMPARE(listing(dir->path()), files);
        QCOMPARE(get(ini()), before);
    }
};

NIRVEX_TEST(TestProfileFile)
#include "tst_profilefile.moc"
