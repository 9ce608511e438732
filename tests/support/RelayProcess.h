#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// nirvex-relay run as a process on a profile of its own for a test or benchmark; killed when
// destroyed.
class RelayProcess {
public:
    ~RelayProcess() { kill(); }

    // The program in the build folder (NIRVEX_BUILD_DIR, or the folder above this program's).
    static QString program();

    // Writes profile to a file of its own and starts the program on it with --profile, followed
    // by arguments; an empty profile writes no file and gives no --profile. False when the
    // program could not be started.
    bool start(const QByteArray& profile, const QStringList& arguments = {});
    // Runs the event loop until its standard error holds text (true) or it has ended or about
    // 30 s have passed (false).
    bool waitForLog(const QString& text);
    // Sends SIGTERM and waits for the end. The exit code, or -1 when it did not end by itself.
    int terminate();
    // Waits for the end; the exit code, or -1 when it did not end by itself in time.
    int waitForExit();
    void kill();

    // What it wrote on its standard error so far.
    QString log();
    QString profilePath() const { return dir.filePath(QStringLiteral("relay.INI")); }
    QProcess& process() { return proc; }

private:
    QProcess proc;
    QTemporaryDir dir;
    QByteArray stderrText;
};
