#include "AsUser.h"
#include "DesktopRun.h"
#include "FakeSerialPort.h"
#include "TestRegistry.h"

#include "core/ProfileFile.h"

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
                         ProfileFile::readValue(path, "Settings", line.section('=', 0, 0), "-"),
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

// The main window's values in the profile: restored, stored, and damaged or read-only profiles.
class TestSettings : public QObject {
    Q_OBJECT
private slots:
    // A whole rate typed into the profile is added once, in its place, and stored back; a rate
    // that is no whole number is not.
    void typedInSpeed()
    {
        Profile profile;
        profile.write("速度=250000\n速度２=-9600\n");
        for (int run = 0; run < 2; ++run) {
            DesktopRun window(profile.path);
            const auto* speed = window.control<QComboBox>("cmbBPS");
            QCOMPARE(speed->count(), 20);
            QCOMPARE(speed->itemText(15) + speed->itemText(16) + speed->itemText(17),
                     "230400250000256000");
            QCOMPARE(window.control<QComboBox>("cmbBPS2")->count(), 19);
            window.expect("cmbBPS=250000;cmbBPS2=<none>");
            window.w().close();
            profile.expect("速度=250000");
        }
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
        profile.expect("ServerNum=3;Server3=ホスト;速度２=;シリアルポート=5;DestType=3;DestMode=2");
        DesktopRun again(profile.path);
        again.expect(state + ";cmbDest=host-a|10.0.0.2|ホスト/host-b;optSerial=off;optServer=off");
        QVERIFY(
            again.control<QGroupBox>("frmClient")->isVisibleTo(again.control<QWidget>("frmLan")));
    }

    // What a start shows from a profile, and what the close leaves in it.
    void startAndClose_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no profile yet
        QTest::addColumn<bool>("com3InUse");
        QTest::addColumn<QString>("state"); // what differs from the defaults
        QTest::addColumn<QString>("file");  // after the close

        QTest::newRow("first run")
            << QByteArray() << false << "cmbComPort=<none>"
            << "シリアルポート=-1;速度=9600;パリティ=None;ビット=8;ストップビット=1;"
               "シリアルポート２=-1;速度２=9600;パリティ２=None;ビット２=8;ストップビット２=1;"
               "HostID=Guest;HostKey=Vorm;Port=1000;ServerPort=1000;ServerNum=0;"
               "Server0=127.0.0.1;DestType=1;DestMode=1";
        QTest::newRow("ServerNum 3 with an empty Server2")
            << QByteArray("ServerNum=3\nServer1=alpha\nServer2=\nServer3=gamma\nServer4=delta\n")
            << false << "cmbDest=alpha|gamma/127.0.0.1"
            << "ServerNum=2;Server1=alpha;Server2=gamma;Server3=gamma;Server4=delta";
        QTest::newRow("port that vanished") << QByteArray("シリアルポート=9\nシリアルポート２=5\n")
                                            << false << "cmbComPort=<none>;cmbComPort2=COM5"
                                            << "シリアルポート=-1;シリアルポート２=5";
        QTest::newRow("port whose mark changed")
            << QByteArray("シリアルポート=3\nシリアルポート２=3\n") << true
            << "cmbComPort=COM3 (使用中);cmbComPort2=COM3 (使用中)"
            << "シリアルポート=3;シリアルポート２=3";
    }
    void startAndClose()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, com3InUse);
        QFETCH(QString, state);
        QFETCH(QString, file);
        Profile profile;
        if (!settings.isNull())
            profile.write(settings);
        profile.com3.setOpenError(com3InUse ? 8005 : 0);
        DesktopRun run(profile.path, {{"A", "fake:COM3"}, {"B", "fake:COM5"}});
        run.expect(Defaults + ';' + state);
        QCOMPARE(run.control<QComboBox>("cmbComPort")->count(), 2);
        QVERIFY(run.control<QGroupBox>("frmSerial")->isVisible()); // the click handlers ran
        const QWidget* area = run.w().centralWidget();             // the whole design layout fits
        for (const QWidget* control : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (control->isVisibleTo(area))
                QVERIFY2(area->rect().contains(control->geometry()),
                         qPrintable(control->objectName()));
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
        row("cut mid-character, Shift-JIS",
            "[Settings]\r\n\x91\xac\x93\x78=19200\r\nHostID=\x8e\x52\x93", "cmbBPS=19200;txtID=山");
        row("random bytes", random, "");
        row("100 MB line after the settings", settings, alice, Writable, "x", 100LL << 20);
        row("read-only file", settings, alice, ReadOnlyFile);
        row("read-only folder", settings, alice, ReadOnlyFolder);
    }
    void faultyProfile()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, fill);
        QFETCH(qint64, fillBytes);
        QFETCH(QByteArray, tail);
        QFETCH(int, access);
        QFETCH(QString, state);
        // Huge or read-only files are left as they were, and the status panel says so.
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
};

NIRVEX_TEST(TestSettings)
#include "tst_settings.moc"
