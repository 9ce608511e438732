#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// nirvex-host run as a process on 127.0.0.1 for a test or benchmark; killed when destroyed.
class HostProcess {
public:
    ~HostProcess() { kill(); }

    // The program in the build folder (NIRVEX_BUILD_DIR, or the folder above this program's).
    static QString program();

    // Starts it listening on 127.0.0.1:port (0: a free port, read back from its first line)
    // with further options; accounts, when not empty, go to a file named with --accounts.
    // With --tls-cert among the options it serves TLS on a free port too (unless --tls-port is
    // given), read back as tlsPort(). False when it did not say it listens. Stops one started
    // before.
    bool start(const QStringList& options = {}, const QByteArray& accounts = {}, quint16 port = 0);
    void kill();
    // What it wrote on its standard error so far.
    QByteArray log() { return stderrText += proc.readAllStandardError(); }
    // A field of /proc/<pid>/status in KiB ("VmRSS:", "VmHWM:"); -1 when not known.
    qint64 statusKiB(const char* field) const;

    quint16 port() const { return listening; }
    quint16 tlsPort() const { return listeningTls; }
    QProcess& process() { return proc; }

private:
    QProcess proc;
    QTemporaryDir dir;
    QByteArray stderrText;
    quint16 listening = 0;
    quint16 listeningTls = 0;
};
