#include "TestRegistry.h"
#include "core/ProfileFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

constexpr int Patience = 60000;
const QString Section = QStringLiteral("Settings");

// Environment for a program that is to find no display of its own.
QProcessEnvironment withoutDisplay(const QString& runtimeDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NIRVEX_BUILD"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    return env;
}

// The program saves its screenshot once its window is up.
bool waitUntilUp(QProcess& process, QByteArray& output)
{
    const QDeadlineTimer deadline(Patience);
    while (!(output += process.readAllStandardError()).contains("Screenshot saved to")) {
        if (process.state() == QProcess::NotRunning || deadline.hasExpired())
            return false;
        process.waitForReadyRead(100);
    }
    return true;
}

} // namespace

// The nirvex program as a process on its own Xvfb: a stop signal, the display going away, and
// the start script stopped either way all leave the profile holding every setting.
class TestProgramExit : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        build = qEnvironmentVariable("NIRVEX_BUILD_DIR");
        if (build.isEmpty())
            QSKIP("NIRVEX_BUILD_DIR is not set (ctest sets it)");
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }
    void cleanup()
    {
        for (const pid_t child : std::as_const(children))
            ::kill(child, SIGKILL);
        children.clear();
        program.reset();
        xvfb.reset();
        dir.reset();
    }

    void storesSettingsOnEveryExit_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGTERM") << SIGTERM << 0;
        QTest::newRow("SIGINT") << SIGINT << 0;
        QTest::newRow("SIGHUP") << SIGHUP << 0;
        // The window system plugin ends the program with status 1.
        QTest::newRow("display gone") << 0 << 1;
    }
    void storesSettingsOnEveryExit()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, exitCode);
        const QString exe = dir->filePath(QStringLiteral("nirvex"));
        QVERIFY(QFile::copy(build + QStringLiteral("/nirvex"), exe));

        xvfb = std::make_unique<QProcess>();
        xvfb->start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24",
                                             "-dpi", "96", "-nolisten", "tcp"});
        QTRY_VERIFY_WITH_TIMEOUT(xvfb->canReadLine(), Patience);
        const QByteArray display = xvfb->readLine().trimmed();

        program = std::make_unique<QProcess>();
        QProcessEnvironment env = withoutDisplay(dir->path());
        env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(display));
        env.insert(QStringLiteral("NIRVEX_SCREENSHOT"), dir->filePath(QStringLiteral("shot.png")));
        program->setProcessEnvironment(env);
        program->start(exe, {});
        QByteArray output;
        QVERIFY2(waitUntilUp(*program, output), output.constData());
        // A port line the user writes in while the program runs stays as written.
        const QString profile = dir->filePath(QStringLiteral("nirvex.INI"));
        {
            QFile file(profile);
            QVERIFY(file.open(QIODevice::Append));
            file.write("[Ports]\nCOM1=/dev/null\n");
        }

        if (signalNumber)
            QCOMPARE(::kill(pid_t(program->processId()), signalNumber), 0);
        else
            xvfb->terminate();
        QVERIFY(program->waitForFinished(Patience));
        output += program->readAllStandardError();
        QVERIFY2(program->exitStatus() == QProcess::NormalExit, output.constData());
        QCOMPARE(program->exitCode(), exitCode);
        // A sanitizer finding would end the program with status 1 too.
        QVERIFY2(!output.contains("Sanitizer"), output.constData());
        verifyProfile(profile);
        QCOMPARE(ProfileFile::readValue(profile, QStringLiteral("Ports"), QStringLiteral("COM1"),
                                        QString()),
                 QStringLiteral("/dev/null"));
    }

    // Ctrl+C reaches the whole process group, as a terminal sends it; kill reaches the script.
    void startScriptStopsNirvexFirst_data()
    {
        QTest::addColumn<bool>("wholeGroup");
        QTest::newRow("Ctrl+C") << true;
        QTest::newRow("kill") << false;
    }
    void startScriptStopsNirvexFirst()
    {
        QFETCH(bool, wholeGroup);
        const QString source = qEnvironmentVariable("NIRVEX_SOURCE_DIR");
        if (source.isEmpty())
            QSKIP("NIRVEX_SOURCE_DIR is not set (ctest sets it)");
        // A tree of its own with the program already built: installing and building do nothing.
        const QString scripts = dir->filePath(QStringLiteral("scripts"));
        QVERIFY(QDir().mkpath(scripts));
        QVERIFY(QFile::copy(source + QStringLiteral("/scripts/start.sh"),
                            scripts + QStringLiteral("/start.sh")));
        for (const char* name : {"/deps.sh", "/build.sh"}) {
            QFile stub(scripts + QLatin1String(name));
            QVERIFY(stub.open(QIODevice::WriteOnly));
            stub.write("exit 0\n");
        }
        QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("build"))));
        QVERIFY(QFile::copy(build + QStringLiteral("/nirvex"),
                            dir->filePath(QStringLiteral("build/nirvex"))));

        program = std::make_unique<QProcess>();
        program->setProcessEnvironment(withoutDisplay(dir->path()));
        program->setChildProcessModifier([] { ::setpgid(0, 0); });
        program->start(QStringLiteral("bash"), {scripts + QStringLiteral("/start.sh")});
        QByteArray output;
        QVERIFY2(waitUntilUp(*program, output), output.constData());
        QVERIFY(QFile::exists(dir->filePath(QStringLiteral("screenshots/nirvex.png"))));

        const pid_t group = pid_t(program->processId());
        // Xvfb and Nirvex.
        QFile childList(QStringLiteral("/proc/%1/task/%1/children").arg(group));
        QVERIFY(childList.open(QIODevice::ReadOnly));
        for (const QByteArray& child : childList.readAll().split(' '))
            if (child.toInt() > 0)
                children.append(child.toInt());
        QCOMPARE(children.size(), 2);

        QCOMPARE(::kill(wholeGroup ? -group : group, wholeGroup ? SIGINT : SIGTERM), 0);
        QVERIFY(program->waitForFinished(Patience));
        output += program->readAllStandardError();
        QVERIFY2(program->exitCode() == 0, output.constData());
        for (const pid_t child : std::as_const(children))
            QTRY_VERIFY_WITH_TIMEOUT(::kill(child, 0) == -1 && errno == ESRCH, Patience);
        verifyProfile(dir->filePath(QStringLiteral("build/nirvex.INI")));
    }

private:
    void verifyProfile(const QString& path)
    {
        const auto value = [&](const char* key) {
            return ProfileFile::readValue(path, Section, QString::fromUtf8(key), QString());
        };
        // The first-run place, to within a pixel at 96 dpi.
        QVERIFY2(qAbs(value("MainLeft").toDouble() - 1000) <= 15, qPrintable(value("MainLeft")));
        QVERIFY2(qAbs(value("MainTop").toDouble() - 1000) <= 15, qPrintable(value("MainTop")));
        for (const char* key : {"MainWidth", "MainHeight", "ListWidth", "ListRowWidth0"})
            QVERIFY2(value(key).toDouble() > 0, key);
        QCOMPARE(value("HostID"), QStringLiteral("Guest"));
        QCOMPARE(value("速度"), QStringLiteral("9600"));
        QCOMPARE(value("DestType"), QStringLiteral("1"));
    }

    QString build;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> xvfb;
    std::unique_ptr<QProcess> program;
    QList<pid_t> children;
};

NIRVEX_TEST(TestProgramExit)
#include "tst_programexit.moc"
