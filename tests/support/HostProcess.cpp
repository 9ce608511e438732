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
    listening = listeningTls = 0;
    QStringList args{"--listen", "127.0.0.1", "--port", QString::number(port)};
    const bool tls = options.contains("--tls-cert");
    if (tls && !options.contains("--tls-port"))
        args << "--tls-port"
             << "0";
    // The lines it prints: one per port served.
    const int expected = (options.contains("--no-plain") ? 0 : 1) + (tls ? 1 : 0);
    if (!accounts.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("accounts")));
        if (!file.open(QIODevice::WriteOnly) || file.write(accounts) != accounts.size())
            return false;
        args << "--accounts" << file.fileName();
    }
    proc.start(program(), args + options);
    if (!proc.waitForStarted(Patience))
        return false;
    QByteArray lines;
    for (int i = 0; i < expected; ++i) {
        if (!QTest::qWaitFor(
                [this] { return proc.canReadLine() || proc.state() != QProcess::Running; },
                Patience) ||
            !proc.canReadLine())
            break;
        const QByteArray line = proc.readLine().trimmed();
        lines += line + ' ';
        const quint16 number = line.mid(line.lastIndexOf(':') + 1).toUShort();
        if (line.startsWith("listening on 127.0.0.1:"))
            listening = number;
        else if (line.startsWith("listening with TLS on 127.0.0.1:"))
            listeningTls = number;
    }
    if ((listening != 0 || options.contains("--no-plain")) && (listeningTls != 0 || !tls))
        return true;
    qWarning("nirvex-host did not start: \"%s\"\n%s", lines.constData(), log().constData());
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
