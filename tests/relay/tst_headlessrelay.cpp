#include "HeldPort.h"
#include "PtyPair.h"
#include "RelayProcess.h"
#include "TestRegistry.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A profile with these lines in [Settings] and [Ports].
QByteArray profile(const QString& settings, const QString& ports)
{
    return ("[Settings]\n" + settings + "\n[Ports]\n" + ports + "\n").toUtf8();
}

// size bytes from a to b, then other bytes from b to a, each checked whole.
void bothWays(PtyPair& a, PtyPair& b, int size)
{
    const QByteArray there = sample(size, 1), back = sample(size - 1000, 2);
    QVERIFY(a.writeAll(there));
    QCOMPARE(b.readCount(there.size()), there);
    QVERIFY(b.writeAll(back));
    QCOMPARE(a.readCount(back.size()), back);
}

} // namespace

// nirvex-relay as a process on pseudo-terminals and 127.0.0.1, stopped with SIGTERM.
class TestHeadlessRelay : public QObject {
    Q_OBJECT
private slots:
    void serialToSerial()
    {
        PtyPair a, b;
        RelayProcess r;
        // 14400 has no termios constant of its own.
        const QByteArray ini =
            profile("シリアルポート=1\nシリアルポート２=2\nDestType=1\n速度=14400\n"
                    "速度２=14400",
                    "COM1=" + a.slavePath() + "\nCOM2=" + b.slavePath());
        QVERIFY(r.start(ini));
        QVERIFY(r.waitForLog("接続しました！"));
        QVERIFY(QRegularExpression("(^|\n)\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "
                                   "接続しました！\n")
                    .match(r.log())
                    .hasMatch());
        bothWays(a, b, 100000);
        if (QTest::currentTestFailed())
            return;
        // The modem-line calls that a pseudo-terminal refuses never surface.
        QVERIFY2(!r.log().contains("エラー"), qPrintable(r.log()));
        QCOMPARE(r.terminate(), 0);
        QVERIFY(r.log().contains("stopping on SIGTERM"));
        QFile written(r.profilePath());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), ini); // nothing numbered, nothing stored
    }

    // A server and a client, each its own process on its own pseudo-terminal.
    void serverAndClient()
    {
        PtyPair a, b;
        HeldPort port;
        QVERIFY(port.number() != 0);
        RelayProcess server, client;
        QVERIFY(
            server.start(profile("シリアルポート=1\nDestType=3\nDestMode=1\nPort=" + port.text(),
                                 "COM1=" + a.slavePath())));
        QVERIFY(server.waitForLog("接続しました！"));
        QVERIFY(client.start(profile("シリアルポート=1\nDestType=3\nDestMode=2\nServer0=127.0.0.1\n"
                                     "ServerPort=" +
                                         port.text(),
                                     "COM1=" + b.slavePath())));
        QVERIFY(client.waitForLog("LAN link up"));
        QVERIFY(server.waitForLog("LAN link up"));
        bothWays(a, b, 1024 * 1024);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(client.terminate(), 0);
        QVERIFY(server.waitForLog("LAN link down"));
        QCOMPARE(server.terminate(), 0);
    }

    // In the settings and ports, %1 is a pseudo-terminal and %2 a port something listens on; in
    // the text, %3 is the profile's path.
    void refusedStarts_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("ports");
        QTest::addColumn<bool>("userFolder");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("device missing") << "シリアルポート=1\nシリアルポート２=1"
                                        << "COM1=/dev/nirvex-no-such-device" << false << 1
                                        << "シリアルポートエラー [8002:ポート番号が無効です]";
        QTest::newRow("source unmapped")
            << "シリアルポート=7"
            << "COM1=%1" << false << 2
            << "COM7, the source port, is not mapped in the [Ports] section of %3";
        QTest::newRow("listening port taken") << "シリアルポート=1\nDestType=3\nDestMode=1\nPort=%2"
                                              << "COM1=%1" << false << 1 << "wsocLan:10048:";
        QTest::newRow("desktop profile in the user's folder")
            << "シリアルポート=9"
            << "" << true << 2
            << "COM9, the source port, is not mapped in the [Ports] section of %3";
    }
    void refusedStarts()
    {
        QFETCH(QString, settings);
        QFETCH(QString, ports);
        QFETCH(bool, userFolder);
        QFETCH(QString, text);
        PtyPair pty;
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        const QByteArray ini = profile(settings.replace("%2", QString::number(taken.serverPort())),
                                       ports.replace("%1", pty.slavePath()));
        RelayProcess r;
        QTemporaryDir config;
        QString path = r.profilePath();
        if (userFolder) {
            path = config.filePath("nirvex/nirvex.INI");
            QVERIFY(QDir(config.path()).mkdir("nirvex"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
            auto env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_CONFIG_HOME", config.path());
            r.process().setProcessEnvironment(env);
        }
        QVERIFY(r.start(userFolder ? QByteArray() : ini));
        QTEST(r.waitForExit(), "code");
        QVERIFY2(r.log().contains(text.replace("%3", path)), qPrintable(r.log()));
    }
};

NIRVEX_TEST(TestHeadlessRelay)
#include "tst_headlessrelay.moc"
