// Relay rate and memory per connection of nirvex-host, beside a plain socat TCP relay.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <cstdio>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int Patience = 60000;
// Bytes sent but not yet received: below the service's 4 MiB queue limit.
constexpr qint64 Window = 3 * 1024 * 1024;
constexpr qint64 Piece = 64 * 1024;

// Runs the event loop until `done` holds or the time is up; false on time-out.
template <class F> bool waitFor(F&& done, int ms = Patience)
{
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

QString buildDir()
{
    const QString dir = qEnvironmentVariable("NIRVEX_BUILD_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/..") : dir;
}

qint64 statusKiB(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// Sends `stream` on `from` and returns the seconds until `to` has received all of it, never
// letting more than Window bytes be on the way; negative on failure.
double transfer(QTcpSocket& from, QTcpSocket& to, const QByteArray& stream)
{
    qint64 received = 0;
    const auto connection = QObject::connect(&to, &QTcpSocket::readyRead, &to,
                                             [&] { received += to.readAll().size(); });
    QElapsedTimer timer;
    timer.start();
    qint64 sent = 0;
    const QDeadlineTimer deadline(10 * Patience);
    while (received < stream.size() && !deadline.hasExpired()) {
        if (sent < stream.size() && sent - received < Window) {
            const qint64 size = qMin(Piece, stream.size() - sent);
            from.write(stream.constData() + sent, size);
            sent += size;
            continue;
        }
        if (to.state() != QAbstractSocket::ConnectedState)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    QObject::disconnect(connection);
    return received == stream.size() ? seconds : -1.0;
}

// A nirvex-host on a free port of 127.0.0.1.
struct Host {
    bool start()
    {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(buildDir() + QStringLiteral("/nirvex-host"),
                      {"--listen", "127.0.0.1", "--port", "0", "--max-connections", "5000"});
        if (!process.waitForStarted(Patience) || !waitFor([this] {
                return process.canReadLine() || process.state() == QProcess::NotRunning;
            }))
            return false;
        const QByteArray line = process.readLine().trimmed();
        port = line.mid(line.lastIndexOf(':') + 1).toUShort();
        return line.startsWith("listening on ") && port != 0;
    }
    QProcess process;
    quint16 port = 0;
};

bool connectAndLogin(QTcpSocket& socket, quint16 port, const QByteArray& id, const QByteArray& key)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }))
        return false;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.write("AUTH:" + id + ':' + key + '\n');
    QByteArray reply;
    if (!waitFor([&] {
            reply += socket.readAll();
            return reply.contains('\n');
        }))
        return false;
    return reply == "AUTH:0\n";
}

struct Rate {
    double host = -1;
    double socat = -1;
};

// The same stream through the service and through socat.
Rate measure(quint16 hostPort, const QByteArray& stream)
{
    Rate rate;
    {
        QTcpSocket sender, receiver;
        if (connectAndLogin(sender, hostPort, "bench-send", "bench") &&
            connectAndLogin(receiver, hostPort, "bench-receive", "bench"))
            rate.host = transfer(sender, receiver, stream);
    }

    QTcpServer sink;
    const quint16 relayPort = freePort();
    if (!sink.listen(QHostAddress::LocalHost, 0) || relayPort == 0)
        return rate;
    QProcess socat;
    socat.start(QStringLiteral("socat"),
                {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(relayPort),
                 QStringLiteral("TCP:127.0.0.1:%1").arg(sink.serverPort())});
    if (!socat.waitForStarted(Patience)) {
        std::fprintf(stderr, "socat could not be started\n");
        return rate;
    }
    QTcpSocket sender;
    // socat listens a moment after it starts.
    for (int attempt = 0; attempt < 200; ++attempt) {
        sender.connectToHost(QHostAddress::LocalHost, relayPort);
        if (sender.waitForConnected(Patience))
            break;
        sender.abort();
        QThread::msleep(25);
    }
    if (sender.state() == QAbstractSocket::ConnectedState &&
        waitFor([&] { return sink.hasPendingConnections(); })) {
        std::unique_ptr<QTcpSocket> receiver(sink.nextPendingConnection());
        rate.socat = transfer(sender, *receiver, stream);
    }
    sender.abort();
    socat.kill();
    socat.waitForFinished(Patience);
    return rate;
}

void report(const char* what, qsizetype lines, qsizetype bytes, const Rate& rate)
{
    if (rate.host <= 0 || rate.socat <= 0) {
        std::printf("%-28s failed (nirvex-host %.3f s, socat %.3f s)\n", what, rate.host,
                    rate.socat);
        return;
    }
    const double hostRate = double(lines) / rate.host;
    const double socatRate = double(lines) / rate.socat;
    std::printf("%-28s nirvex-host %10.0f lines/s (%6.1f MB/s)   socat %10.0f lines/s "
                "(%6.1f MB/s)   ratio %.2f\n",
                what, hostRate, double(bytes) / rate.host / 1e6, socatRate,
                double(bytes) / rate.socat / 1e6, hostRate / socatRate);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    constexpr int IdleClients = 1000;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 4096 &&
        limit.rlim_max >= 4096) {
        limit.rlim_cur = 4096;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    Host host;
    if (!host.start()) {
        std::fprintf(stderr, "nirvex-host did not start from %s\n", qPrintable(buildDir()));
        return 1;
    }
    const qint64 pid = host.process.processId();

    QByteArray dataLine = "DATA:256:";
    for (int i = 0; i < 256; ++i)
        dataLine += QByteArray::number(0x100 + i * 7 % 256, 16).right(2).toUpper();
    dataLine += '\n';
    constexpr int DataLines = 200000;
    constexpr int ControlLines = 4000000;
    const QByteArray dataStream = dataLine.repeated(DataLines);
    const QByteArray controlStream =
        QByteArray("CTRL:CTS:ON\nCTRL:CTS:OFF\n").repeated(ControlLines / 2);

    std::printf("Relaying one way on 127.0.0.1 between two logged-in copies:\n");
    report("DATA lines (522 chars)", DataLines, dataStream.size(), measure(host.port, dataStream));
    report("CTRL lines (12-13 chars)", ControlLines, controlStream.size(),
           measure(host.port, controlStream));

    const qint64 rssBefore = statusKiB(pid, "VmRSS:");
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    int loggedIn = 0;
    for (int i = 0; i < IdleClients; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        if (connectAndLogin(*idle.back(), host.port, "idle" + QByteArray::number(i),
                            "group" + QByteArray::number(i / 10)))
            ++loggedIn;
    }
    const qint64 rssAfter = statusKiB(pid, "VmRSS:");
    std::printf("Idle logged-in connections: %d of %d held; service RSS %lld KiB before, %lld KiB "
                "with them: %.1f KiB per connection (peak RSS %lld KiB)\n",
                loggedIn, IdleClients, rssBefore, rssAfter,
                double(rssAfter - rssBefore) / qMax(loggedIn, 1), statusKiB(pid, "VmHWM:"));
    idle.clear();

    ::kill(pid_t(pid), SIGTERM);
    host.process.waitForFinished(Patience);
    std::printf("nirvex-host stopped with exit code %d\n", host.process.exitCode());
    return loggedIn == IdleClients ? 0 : 1;
}
