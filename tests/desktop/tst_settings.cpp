#include "AsUser.h"
#include "DesktopRun.h"
#include "FakeSerialPort.h"
#include "TestRegistry.h"

#include "desktop/Twips.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QGroupBox>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <optional>

namespace {

enum Access { Writable, ReadOnlyFile, ReadOnlyFolder };

const QString Defaults = "cmbBPS=9600;cmbParity=None;cmbBits=8;cmbStopBits=1;cmbBPS2=9600;"
                         "cmbParity2=None;cmbBits2=8;cmbStopBits2=1;txtID=Guest;txtKey=Vorm;"
                         "txtPort=1000;txtServerPort=1000;cmbDest=/127.0.0.1;optSerial=on;"
                         "optServer=on";

// A profile in a folder of its own, with two serial ports mapped in it as COM3 and COM5.
struct Profile {
    QTemporaryDir dir;
    QString path = dir.filePath("nirvex.INI");
    FakeSerialPort com3{"fake:COM3"};
    FakeSerialPort com5{"fake:COM5"};

    void write(const QByteArray& settings)
    {
        QVERIFY(DesktopRun::write(path, "[Ports]\nCOM3=fake:COM3\nCOM5=fake:COM5\n[Settings]\n" +
                                            settings));
    }
    // Every "key=value" of a ";"-separated list as the file holds it.
    void expect(const QString& list) const
    {
        for (const QString& line : list.split(';'))
            QCOMPARE(line.section('=', 0, 0) + '=' +
                         DesktopRun::value(path, line.section('=', 0, 0)),
                     line);
    }
};

QByteArray hashOf(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

} // namespace

// The main window's values in the profile file: restored at load, stored at close, and what
// damaged, huge and read-only profiles do to a real start.
class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void firstRun()
    {
        Profile profile;
        DesktopRun run(profile.path, {{"A", "fake:COM3"}, {"B", "fake:COM5"}});
        QVERIFY(QTest::qWaitForWindowExposed(&run.w()));
        const double dpi = run.w().screen()->logicalDotsPerInchX();
        QTRY_COMPARE(run.w().frameGeometry().topLeft(),
                     Twips::toPixels(1000, 1000, 0, 0, dpi).topLeft());
        // The whole design layout fits: every control of the client area lies inside it.
        const QWidget* area = run.w().centralWidget();
        for (const QWidget* control : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (control->isVisibleTo(area))
                QVERIFY2(area->rect().contains(control->geometry()),
                         qPrintable(control->objectName()));
        run.expect(Defaults + ";cmbComPort=<none>");
        QCOMPARE(run.control<QComboBox>("cmbComPort")->count(), 2);
        QVERIFY(run.control<QGroupBox>("frmSerial")->isVisible()); // the click handlers ran

        run.w().close();
        profile.expect(
            "シリアルポート=-1;速度=9600;パリティ=None;ビット=8;ストップビット=1;"
            "シリアルポート２=-1;速度２=9600;パリティ２=None;ビット２=8;ストップビット２=1;"
            "HostID=Guest;HostKey=Vorm;Port=1000;ServerPort=1000;ServerNum=0;"
            "Server0=127.0.0.1;DestType=1;DestMode=1");
        for (const char* key : {"MainLeft", "MainTop", "ListLeft", "ListTop"})
            QVERIFY(qAbs(DesktopRun::value(profile.path, key).toDouble() - 1000) <= 15);
        QVERIFY(DesktopRun::value(profile.path, "MainWidth").toDouble() >= 10590);
        QVERIFY(DesktopRun::value(profile.path, "ListRowWidth2").toInt() > 0);
    }

    void roundTrip()
    {
        Profile profile;
        profile.write({});
        const QString state =
            "cmbComPort=COM5;cmbBPS=19200;cmbParity=Even;cmbBits=7;cmbStopBits=2;"
            "cmbComPort2=COM3;cmbBPS2=<none>;cmbParity2=Space;cmbBits2=5;cmbStopBits2=1.5;"
            "txtID=山田;txtKey=k:e y;txtPort=2001;txtServerPort=;optLan=on;optClient=on";
        {
            DesktopRun run(profile.path);
            run.set(state);
            run.control<QComboBox>("cmbDest")->addItems({"host-a", "10.0.0.2", "ホスト"});
            run.control<QComboBox>("cmbDest")->setEditText("host-b");
            run.w().close();
        }
        profile.expect("ServerNum=3;Server3=ホスト;速度２=;シリアルポート=5");
        DesktopRun again(profile.path);
        again.expect(state + ";cmbDest=host-a|10.0.0.2|ホスト/host-b;optSerial=off;optServer=off;"
                             "DestType=3;DestMode=2");
        QVERIFY(
            again.control<QGroupBox>("frmClient")->isVisibleTo(again.control<QWidget>("frmLan")));
    }

    void edgeCases_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("com3InUse");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("file"); // after the close

        QTest::newRow("ServerNum 3 with an empty Server2")
            << QByteArray("ServerNum=3\nServer1=alpha\nServer2=\nServer3=gamma\nServer4=delta\n")
            << false << "cmbDest=alpha|gamma/127.0.0.1"
            << "ServerNum=2;Server1=alpha;Server2=gamma;Server3=gamma;Server4=delta";
        QTest::newRow("numbered keys matched as single reads match them")
            << QByteArray("ServerNum=32767\nSERVER1=upper\nServer1=second\nserver 2=blank\n"
                          "server32767=last\nServer32768=beyond\nServer0=\n")
            << false << "cmbDest=upper|last/"
            << "ServerNum=2;Server2=last;Server0=";
        QTest::newRow("port that vanished") << QByteArray("シリアルポート=9\nシリアルポート２=5\n")
                                            << false << "cmbComPort=<none>;cmbComPort2=COM5"
                                            << "シリアルポート=-1;シリアルポート２=5";
        QTest::newRow("port whose mark changed")
            << QByteArray("シリアルポート=3\nシリアルポート２=3\n") << true
            << "cmbComPort=COM3 (使用中);cmbComPort2=COM3 (使用中)"
            << "シリアルポート=3;シリアルポート２=3";
        QTest::newRow("destination keys with an ASCII 2")
            << QByteArray("シリアルポート2=5\n速度2=300\nパリティ2=Odd\nビット2=6\n"
                          "ストップビット2=2\n速度=600\n")
            << false
            << "cmbComPort2=<none>;cmbBPS2=9600;cmbParity2=None;cmbBits2=8;cmbStopBits2=1;"
               "cmbBPS=600"
            << "速度2=300;速度２=9600";
        QTest::newRow("values that are no numbers take their defaults")
            << QByteArray("シリアルポート=abc\nシリアルポート２=5x\nServerNum=two\nServer1=a\n"
                          "DestType=serial\nDestMode=2\n")
            << false
            << "cmbComPort=<none>;cmbComPort2=<none>;cmbDest=/127.0.0.1;optSerial=on;"
               "DestType=1;optClient=on"
            << "ServerNum=0;DestType=1";
    }
    void edgeCases()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, com3InUse);
        QFETCH(QString, state);
        QFETCH(QString, file);
        Profile profile;
        profile.write(settings);
        profile.com3.setOpenError(com3InUse ? 8005 : 0);
        DesktopRun run(profile.path);
        run.expect(state);
        run.w().close();
        profile.expect(file);
    }

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
        QByteArray random(64 * 1024, Qt::Uninitialized);
        QRandomGenerator(11).fillRange(reinterpret_cast<quint32*>(random.data()),
                                       random.size() / 4);
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
        row("random bytes", random, "");
        row("NULs", QByteArray("\0\n[Settings]\0junk\nHostID=ab\0cd\n\0\0", 34), "txtID=ab");
        // Junk that is no UTF-8 makes the file Shift-JIS, where "速度" is other bytes.
        row("50 MB of junk lines", settings, "txtID=Alice", Writable,
            QByteArray("\x01junk\xFF\0=[]x;\n", 14), 50LL << 20);
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
                DesktopRun run(path);
                QVERIFY(QTest::qWaitForWindowExposed(&run.w()));
                run.expect(Defaults + ';' + state);
                if (QTest::currentTestFailed())
                    return;
                QVERIFY(!QApplication::activeModalWidget());
                QCOMPARE(run.status(), kept ? QString("ｽﾃｰﾀｽ") : NirvexMain::SettingsNotKeptText);
                run.w().close();
            }
            QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"nirvex.INI"});
        QCOMPARE(hashOf(path) != hash, kept);
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
            QVERIFY(DesktopRun::write(profile, {}));
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
            used = NirvexMain::locateProfile(program.filePath("nirvex")).path;
            saved.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved);
            QFile::setPermissions(program.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        QCOMPARE(used, beside ? profile : home.filePath("nirvex/nirvex.INI"));
        QCOMPARE(QFile::exists(profile), exists);
    }
};

NIRVEX_TEST(TestSettings)
#include "tst_settings.moc"
