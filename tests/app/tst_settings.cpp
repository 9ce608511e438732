#include "TestRegistry.h"

#include "FakeSerialPort.h"
#include "core/ProfileFile.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/NirvexMain.h"
#include "desktop/Twips.h"
#include "desktop/frmMain.h"

#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A profile file in a folder of its own, and two serial ports mapped in it as COM3 and COM5.
struct Profile {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("nirvex.INI"));
    FakeSerialPort com3{QStringLiteral("fake:COM3")};
    FakeSerialPort com5{QStringLiteral("fake:COM5")};

    void write(const QByteArray& settings)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Ports]\nCOM3=fake:COM3\nCOM5=fake:COM5\n[Settings]\n" + settings);
    }
    QString value(const QString& key) const
    {
        return ProfileFile::readValue(path, "Settings", key, "<missing>");
    }
    // Every "key=value" of a ";"-separated list as the file holds it.
    void expect(const QString& list) const
    {
        for (const QString& line : list.split(';'))
            QCOMPARE(line.section('=', 0, 0) + '=' + value(line.section('=', 0, 0)), line);
    }
};

// One start of the program, up to the close of its main window.
struct Run {
    NirvexMain app;

    // machinePorts: the two ports are found on the machine rather than in the profile.
    explicit Run(const QString& profile, bool machinePorts = false)
    {
        app.Ports.setDeviceLister([machinePorts] {
            return machinePorts ? QList<PortTable::Device>{{"A", "fake:COM3"}, {"B", "fake:COM5"}}
                                : QList<PortTable::Device>();
        });
        app.Main(profile);
    }
    frmMain& w() { return *app.MainForm; }
    // A control's state: "<none>" for a picker without selection, "on"/"off" for an option,
    // the items joined by "|" and the text after "/" for cmbDest.
    QString describe(const QString& name)
    {
        if (name == "DestType" || name == "DestMode")
            return QString::number(name == "DestType" ? int(w().DestType) : int(w().DestMode));
        if (name == "cmbDest") {
            QStringList items;
            for (int i = 0; i < w().cmbDest->count(); ++i)
                items.append(w().cmbDest->itemText(i));
            return items.join('|') + '/' + w().cmbDest->currentText();
        }
        QObject* control = w().findChild<QObject*>(name);
        if (auto* option = qobject_cast<QRadioButton*>(control))
            return option->isChecked() ? "on" : "off";
        if (auto* combo = qobject_cast<QComboBox*>(control))
            return combo->currentIndex() < 0 ? "<none>" : combo->currentText();
        auto* edit = qobject_cast<QLineEdit*>(control);
        return edit ? edit->text() : "<no control>";
    }
    // Sets controls from a list in the form describe() gives.
    void set(const QString& list)
    {
        for (const QString& line : list.split(';')) {
            const QString value = line.section('=', 1);
            QObject* control = w().findChild<QObject*>(line.section('=', 0, 0));
            if (auto* option = qobject_cast<QRadioButton*>(control))
                option->setChecked(value == "on");
            else if (auto* combo = qobject_cast<QComboBox*>(control))
                value == "<none>" ? combo->setCurrentIndex(-1) : combo->setCurrentText(value);
            else
                qobject_cast<QLineEdit*>(control)->setText(value);
        }
    }
    void expect(const QString& list)
    {
        for (const QString& line : list.split(';'))
            QCOMPARE(line.section('=', 0, 0) + '=' + describe(line.section('=', 0, 0)), line);
    }
};

} // namespace

// The main window's values in the profile file: restored at load, stored at close.
class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void firstRun()
    {
        Profile profile;
        Run run(profile.path, true);
        QVERIFY(QTest::qWaitForWindowExposed(&run.w()));
        const double dpi = run.w().Dpi();
        QTRY_COMPARE(run.w().frameGeometry().topLeft(),
                     Twips::toPixels(1000, 1000, 0, 0, dpi).topLeft());
        // The whole design layout fits: every control of the client area lies inside it.
        const QWidget* area = run.w().centralWidget();
        for (const QWidget* control : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (control->isVisibleTo(area))
                QVERIFY2(area->rect().contains(control->geometry()),
                         qPrintable(control->objectName()));
        QCOMPARE(run.w().cmbComPort->count(), 2);                 // ports there, none chosen
        QVERIFY(run.w().frmSerial->isVisibleTo(run.w().frmDest)); // the click handlers ran
        QVERIFY(!run.w().frmClient->isVisibleTo(run.w().frmLan));

        run.w().close();
        profile.expect(
            "シリアルポート=-1;速度=9600;パリティ=None;ビット=8;ストップビット=1;"
            "シリアルポート２=-1;速度２=9600;パリティ２=None;ビット２=8;ストップビット２=1;"
            "HostID=Guest;HostKey=Vorm;Port=1000;ServerPort=1000;ServerNum=0;"
            "Server0=127.0.0.1;DestType=1;DestMode=1");
        // Geometry in twips that went through whole pixels; the hidden list window's too.
        const auto snapped = [dpi](double t) {
            return Twips::fromPixels(Twips::toPixels(t, dpi), dpi);
        };
        for (const char* key : {"MainLeft", "MainTop", "ListLeft", "ListTop"})
            QCOMPARE(profile.value(key).toDouble(), snapped(1000));
        for (const char* key : {"ListWidth", "ListHeight"})
            QCOMPARE(profile.value(key).toDouble(), snapped(6500));
        QVERIFY(profile.value("MainWidth").toDouble() >= 10590);
        QVERIFY(profile.value("MainHeight").toDouble() >= 7050);
        for (const char* key : {"ListRowWidth0", "ListRowWidth1", "ListRowWidth2"})
            QVERIFY(profile.value(key).toInt() > 0);
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
            Run run(profile.path);
            run.set(state);
            run.w().cmbDest->addItems({"host-a", "10.0.0.2", "ホスト"});
            run.w().cmbDest->setEditText("host-b");
            run.w().close();
        }
        profile.expect("ServerNum=3;Server3=ホスト;速度２=;シリアルポート=5");
        Run again(profile.path);
        again.expect(state + ";cmbDest=host-a|10.0.0.2|ホスト/host-b;optSerial=off;optServer=off;"
                             "DestType=3;DestMode=2");
        QVERIFY(again.w().frmClient->isVisibleTo(again.w().frmLan));
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
        Run run(profile.path);
        run.expect(state);
        run.w().close();
        profile.expect(file);
    }
};

NIRVEX_TEST(TestSettings)
#include "tst_settings.moc"
