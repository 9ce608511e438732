#include "AsUser.h"
#include "TestRegistry.h"

#include "desktop/NirvexMain.h"
#include "desktop/StatusBar.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <optional>

namespace {

enum Access { Writable, ReadOnlyFile, ReadOnlyFolder };

const QString NotKept = "設定ファイルに書き込めないため、設定は保存されません。";

const QString Defaults = "cmbBPS=9600;cmbParity=None;cmbBits=8;cmbStopBits=1;cmbBPS2=9600;"
                         "cmbParity2=None;cmbBits2=8;cmbStopBits2=1;txtID=Guest;txtKey=Vorm;"
                         "txtPort=1000;txtServerPort=1000;cmbDest=127.0.0.1;optSerial=on;"
                         "optServer=on";

// Literal bytes, embedded NULs included.
template <size_t N> QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

QByteArray hashOf(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One start of the program on the profile, up to the close of its main window.
struct Run {
    NirvexMain app;
    explicit Run(const QString& profile) : Run(NirvexMain::ProfileLocation{profile, {}}) {}
    explicit Run(const NirvexMain::ProfileLocation& profile)
    {
        app.Ports.setDeviceLister([] { return QList<PortTable::Device>(); });
        app.Main(profile);
    }
    QString describe(const QString& name) const
    {
        QObject* control = app.MainForm->findChild<QObject*>(name);
        if (auto* option = qobject_cast<QRadioButton*>(control))
            return option->isChecked() ? "on" : "off";
        if (auto* combo = qobject_cast<QComboBox*>(control))
            return combo->currentText();
        auto* edit = qobject_cast<QLineEdit*>(control);
        return edit ? edit->text() : "<no control>";
    }
    // Every control of Defaults, with the values of overrides where it names them.
    void expect(const QString& overrides) const
    {
        QMap<QString, QString> wanted;
        for (const QString& list : {Defaults, overrides})
            for (const QString& item : list.split(';', Qt::SkipEmptyParts))
                wanted.insert(item.section('=', 0, 0), item.section('=', 1));
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
            QCOMPARE(it.key() + '=' + describe(it.key()), it.key() + '=' + it.value());
    }
};

// The lines of a file, without their line breaks.
QByteArrayList linesOf(const QByteArray& bytes)
{
    QByteArrayList lines = bytes.split('\n');
    for (QByteArray& line : lines)
        line.chop(line.endsWith('\r') ? 1 : 0);
    return lines;
}

// Every line of before is in after, in order, except key lines replaced by a line of that key.
void checkLinesKept(const QByteArray& before, const QByteArray& after)
{
    const QByteArrayList now = linesOf(after);
    qsizetype at = 0;
    for (const QByteArray& line : linesOf(before)) {
        const qsizetype found = now.indexOf(line, at);
        if (found >= 0) {
            at = found + 1;
            continue;
        }
        const QByteArray key = line.left(line.indexOf('=')).trimmed();
        QVERIFY2(line.contains('=') && !key.isEmpty() &&
                     std::any_of(now.cbegin(), now.cend(),
                                 [&](const QByteArray& l) { return l.startsWith(key + '='); }),
                 "lost line: " + line.left(80));
    }
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

// Damaged, huge and read-only profile files under a real main window: the window loads with
// what the file can give, closes cleanly, and the file loses nothing.
class tst_ProfileFaults : public QObject {
    Q_OBJECT
private slots:
    void faultyProfile_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("fill"); // repeated between head and tail
        QTest::addColumn<qint64>("fillBytes");
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("access");
        QTest::addColumn<QString>("state"); // what differs from the defaults

        const QByteArray settings = "[Settings]\r\nHostID=Alice\r\n速度=19200\r\n";
        const QString alice = "txtID=Alice;cmbBPS=19200";
        const auto row = [](const char* name, const QByteArray& head, const QString& state,
                            Access access = Writable, const QByteArray& fill = {},
                            qint64 fillBytes = 0, const QByteArray& tail = {}) {
            QTest::newRow(name) << head << fill << fillBytes << tail << int(access) << state;
        };
        row("cut mid-line", settings + "HostKey=Sec", alice + ";txtKey=Sec");
        row("only a cut header", "; mine\r\n[Setti", "");
        row("cut mid-character", settings + "HostKey=山\xE7\x94", alice + ";txtKey=山\uFFFD\uFFFD");
        row("cut mid-character, Shift-JIS",
            "[Settings]\r\n\x91\xac\x93\x78=19200\r\nHostID=\x8e\x52\x93", "cmbBPS=19200;txtID=山");
        row("random bytes", randomBytes(64 * 1024, 11), "");
        row("NULs", raw("\0\n[Settings]\0junk\nHostID=ab\0cd\n\0\0"), "txtID=ab");
        // Junk that is no UTF-8 makes the file Shift-JIS, where "速度" is other bytes.
        row("50 MB of junk lines", settings, "txtID=Alice", Writable, raw("\x01junk\xFF\0=[]x;\n"),
            50LL << 20);
        row("100 MB line after the settings", settings, alice, Writable, "x", 100LL << 20);
        row("100 MB line before the settings", {}, "", Writable, "[", 100LL << 20, "\n" + settings);
        row("read-only file", settings, alice, ReadOnlyFile);
        row("read-only folder", settings, alice, ReadOnlyFolder);
        row("read-only folder, 100 MB line", settings, alice, ReadOnlyFolder, "x", 100LL << 20);
    }
    void faultyProfile()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, fill);
        QFETCH(qint64, fillBytes);
        QFETCH(QByteArray, tail);
        QFETCH(int, access);
        QFETCH(QString, state);
        // Huge files and files the program may not write are left as they were, and the
        // status panel says so; a file in a folder that takes no temporary file is written.
        const bool kept = access != ReadOnlyFile && fillBytes == 0;

        QTemporaryDir dir;
        const QString path = dir.filePath("nirvex.INI");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(head);
            const QByteArray chunk = fill.repeated((1 << 20) / std::max<qsizetype>(fill.size(), 1));
            for (qint64 left = fillBytes; left > 0; left -= chunk.size())
                file.write(chunk.first(std::min<qint64>(left, chunk.size())));
            file.write(tail);
            QVERIFY(file.flush());
        }
        const QByteArray before = fillBytes > 0 ? QByteArray() : bytesOf(path);
        const QByteArray hash = hashOf(path);
        if (access == ReadOnlyFile)
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther));
        {
            std::optional<AsUser> user;
            if (access != Writable)
                user.emplace(QStringList{dir.path(), path});
            if (user && !user->ok())
                QSKIP("running as root and cannot become an unprivileged user");
            if (access == ReadOnlyFolder)
                QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            for (int pass = 0; pass < 2; ++pass) { // the second start sees what the first stored
                Run run(path);
                QVERIFY(QTest::qWaitForWindowExposed(run.app.MainForm));
                run.expect(state);
                if (QTest::currentTestFailed())
                    return;
                QVERIFY(!QApplication::activeModalWidget());
                QCOMPARE(run.app.MainForm->sbStatusBar->panelText("status"),
                         kept ? QString("ｽﾃｰﾀｽ") : NotKept);
                run.app.MainForm->close();
            }
            QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"nirvex.INI"});
        QCOMPARE(hashOf(path) != hash, kept);
        if (kept)
            checkLinesKept(before, bytesOf(path));
    }

    // A profile beside the program is the one used whatever the modes of it and its folder;
    // only a missing one that cannot be made there moves to the user's configuration folder.
    void profileBesideProgram_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("access");
        QTest::addColumn<bool>("beside");
        QTest::newRow("read-only file") << true << int(ReadOnlyFile) << true;
        QTest::newRow("file in a read-only folder") << true << int(ReadOnlyFolder) << true;
        QTest::newRow("none, read-only folder") << false << int(ReadOnlyFolder) << false;
        QTest::newRow("none, writable folder") << false << int(Writable) << true;
    }
    void profileBesideProgram()
    {
        QFETCH(bool, exists);
        QFETCH(int, access);
        QFETCH(bool, beside);
        QTemporaryDir program;
        QTemporaryDir home;
        const QString profile = program.filePath("nirvex.INI");
        QStringList owned{program.path(), home.path()};
        if (exists) {
            QFile file(profile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            owned << profile;
        }
        if (access == ReadOnlyFile)
            QVERIFY(QFile::setPermissions(profile, QFile::ReadOwner | QFile::ReadOther));
        QString used;
        {
            AsUser user(owned);
            if (!user.ok())
                QSKIP("running as root and cannot become an unprivileged user");
            if (access == ReadOnlyFolder)
                QVERIFY(QFile::setPermissions(program.path(), QFile::ReadOwner | QFile::ExeOwner));
            const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
            qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
            used = NirvexMain::resolveProfilePath(program.filePath("nirvex"));
            saved.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved);
            QFile::setPermissions(program.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QCOMPARE(used, beside ? profile : home.filePath("nirvex/nirvex.INI"));
        QCOMPARE(QFile::exists(profile), exists);
    }

    // An installed copy finds an earlier version's profile beside itself and none in the user's
    // folder: it copies that profile there once, says so, and leaves the old file as it was.
    void installedCopyMovesEarlierProfile()
    {
        QTemporaryDir prefix;
        QTemporaryDir config;
        QVERIFY(QDir(prefix.path()).mkpath("bin") && QDir(prefix.path()).mkpath("share/nirvex"));
        QFile mark(prefix.filePath("share/nirvex/installed"));
        QVERIFY(mark.open(QIODevice::WriteOnly));
        const QString earlier = prefix.filePath("bin/nirvex.INI");
        const QByteArray bytes = raw("[Settings]\r\nHostID=\x8e\x52\r\n"); // Shift-JIS
        {
            QFile file(earlier);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        const auto first = NirvexMain::locateProfile(prefix.filePath("bin/nirvex"));
        const auto second = NirvexMain::locateProfile(prefix.filePath("bin/nirvex"));
        saved.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved);

        const QString moved = config.filePath("nirvex/nirvex.INI");
        QCOMPARE(first.path, moved);
        QCOMPARE(first.movedFrom, earlier);
        QCOMPARE(bytesOf(moved), bytes);
        QCOMPARE(second.path, moved);
        QCOMPARE(second.movedFrom, QString());
        {
            Run run(first);
            run.expect("txtID=山");
            QCOMPARE(run.app.MainForm->sbStatusBar->panelText("status"),
                     "以前の設定ファイル " + earlier + " を " + moved + " に移しました。");
            run.app.MainForm->close();
        }
        QCOMPARE(bytesOf(earlier), bytes);
        QVERIFY(bytesOf(moved).startsWith("[Settings]\r\nHostID=\x8e\x52\r\n"));
    }
};

NIRVEX_TEST(tst_ProfileFaults)
#include "tst_profilefaults.moc"
