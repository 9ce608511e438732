#include "TestRegistry.h"
#include "core/ProfileFile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

// The nirvex program ended by a signal or by the loss of its display stores every setting.
class TestProgramExit : public QObject {
    Q_OBJECT
private slots:
    void storesSettingsOnEveryExit_data()
    {
        QTest::addColumn<int>("signalNumber"); // 0: the display goes away
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGTERM") << SIGTERM << 0;
        QTest::newRow("SIGHUP") << SIGHUP << 0;
        // The window system plugin ends the program with status 1.
        QTest::newRow("display gone") << 0 << 1;
    }
    void storesSettingsOnEveryExit()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, exitCode);
        const QString build = qEnvironmentVariable("NIRVEX_BUILD_DIR");
        if (build.isEmpty())
            QSKIP("NIRVEX_BUILD_DIR is not set (ctest sets it)");
        constexpr int Patience = 60000;
        QTemporaryDir dir;
        QVERIFY(QFile::copy(build + "/nirvex", dir.filePath("nirvex")));
        QProcess xvfb, program;
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-dpi", "96",
                            "-nolisten", "tcp"});
        QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine(), Patience);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NIRVEX_BUILD"})
            env.remove(name);
        env.insert("DISPLAY", ':' + QString::fromLatin1(xvfb.readLine().trimmed()));
        env.insert("XDG_RUNTIME_DIR", dir.path());
        env.insert("NIRVEX_SCREENSHOT", dir.filePath("shot.png"));
        program.setProcessEnvironment(env);
        program.start(dir.filePath("nirvex"), {});
        // The program saves its screenshot once its window is up.
        QByteArray output;
        const QDeadlineTimer deadline(Patience);
        while (!(output += program.readAllStandardError()).contains("Screenshot saved to")) {
            QVERIFY2(program.state() != QProcess::NotRunning && !deadline.hasExpired(),
                     output.constData());
            program.waitForReadyRead(100);
        }

        if (signalNumber)
            QCOMPARE(::kill(pid_t(program.processId()), signalNumber), 0);
        else
            xvfb.terminate();
        QVERIFY(program.waitForFinished(Patience));
        output += program.readAllStandardError();
        QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == exitCode,
                 output.constData());
        QVERIFY2(!output.contains("Sanitizer"), output.constData()); // they exit with 1 too
        const auto value = [&dir](const char* key) {
            return ProfileFile::readValue(dir.filePath("nirvex.INI"), "Settings",
                                          QString::fromUtf8(key), QString());
        };
        for (const char* key : {"MainLeft", "MainTop"}) // the first-run place, to a pixel
            QVERIFY2(qAbs(value(key).toDouble() - 1000) <= 15, qPrintable(value(key)));
        for (const char* key : {"MainWidth", "MainHeight", "ListWidth", "ListRowWidth0"})
            QVERIFY2(value(key).toDouble() > 0, key);
        QVERIFY(value("HostID") == "Guest" && value("速度") == "9600" && value("DestType") == "1");
    }
};

NIRVEX_TEST(TestProgramExit)
#include "tst_programexit.moc"
