#include "HostProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

static constexpr int Patience = 30000;

QString HostProcess::program()
{
    const QString dir = qEnvironmentVariable("NIRVEX_BUILD_DIR");
    return (dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir) +
           QStringLiteral("/nirvex-host");
}

bool HostProcess::start(const QStringList& options, const QByteArray& accounts, quint16 port)
{
    kill();
    stderrText.clear();
    listening = 0;
    QStringList args{"--listen", "127.0.0.1", "--port", QString::number(port)};
    if (!accounts.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("accounts")));
        if (!file.open(QIODevice::WriteOnly) || file.write(accounts) != accounts.size())
            return false;
        args << "--accounts" << file.fileName();
    }
    proc.start(program(), args + options);
    if (!proc.waitForStarted(Patience) ||
        !QTest::qWaitFor([this] { return proc.canReadLine() || proc.state() != QProcess::Running; },
                         Patience))
        return false;
    const QByteArray line = proc.readLine().trimmed();
    listening = line.mid(line.lastIndexOf(':') + 1).toUShort();
    if (line.startsWith("listening on 127.0.0.1:") && listening != 0)
        return true;
    qWarning("nirvex-host did not start: \"%s\"\n%s", line.constData(), log().constData());
    return false;
}

void HostProcess::kill()
{
    if (proc.state() == QProcess::NotRunning)
        return;
    proc.kill();
    proc.waitForFinished(Patience);
}

qint64 HostProcess::statusKiB(const char* field) const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(proc.processId()));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf(field);
    if (at < 0)
        return -1;
    return text.mid(at + qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
}
