#include "RelayProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

static constexpr int Patience = 30000;

QString RelayProcess::program()
{
    const QString dir = qEnvironmentVariable("NIRVEX_BUILD_DIR");
    return (dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir) +
           QStringLiteral("/nirvex-relay");
}

bool RelayProcess::start(const QByteArray& profile, const QStringList& arguments)
{
    kill();
    stderrText.clear();
    QStringList args;
    if (!profile.isEmpty()) {
        QFile file(profilePath());
        if (!file.open(QIODevice::WriteOnly) || file.write(profile) != profile.size())
            return false;
        args << QStringLiteral("--profile") << file.fileName();
    }
    proc.start(program(), args + arguments);
    return proc.waitForStarted(Patience);
}

bool RelayProcess::waitForLog(const QString& text)
{
    const bool seen = QTest::qWaitFor(
        [&] { return log().contains(text) || proc.state() == QProcess::NotRunning; }, Patience);
    if (seen && log().contains(text))
        return true;
    qWarning("nirvex-relay did not log \"%s\":\n%s", qPrintable(text), qPrintable(log()));
    return false;
}

int RelayProcess::terminate()
{
    proc.terminate();
    return waitForExit();
}

int RelayProcess::waitForExit()
{
    if (proc.state() != QProcess::NotRunning && !proc.waitForFinished(Patience))
        return -1;
    return proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
}

void RelayProcess::kill()
{
    if (proc.state() == QProcess::NotRunning)
        return;
    proc.kill();
    proc.waitForFinished(Patience);
}

QString RelayProcess::log()
{
    stderrText += proc.readAllStandardError();
    return QString::fromUtf8(stderrText);
}
