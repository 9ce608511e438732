// Relay rate and memory per connection of nirvex-host, beside a plain socat TCP relay; then
// 1000 idle copies held, 100 copies relaying in groups at once, and the service's other copies
// measured while one copy floods and 500 strangers send junk without logging in. With --tls
// instead: the rate over TLS against the clear-text port of the same service, and the handshake.
#include "DataLines.h"
#include "HeldPort.h"
#include "HostClient.h"
#include "HostProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
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

struct Rate {
    double host = -1;
    double socat = -1;
};

// The same stream through the service and through socat.
Rate measure(quint16 hostPort, const QByteArray& stream)
{
    Rate rate;
    {
        HostClient sender, receiver;
        if (sender.connectTo(hostPort) && sender.login("bench-send", "bench") &&
            receiver.connectTo(hostPort) && receiver.login("bench-receive", "bench")) {
            // transfer() counts what arrives itself.
            QObject::disconnect(&receiver.socket, &QTcpSocket::readyRead, nullptr, nullptr);
            rate.host = transfer(sender.socket, receiver.socket, stream);
        }
    }

    QTcpServer sink;
    const HeldPort held;
    const quint16 relayPort = held.number();
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

// ---- Raw sockets for the load runs: the bench must not be slower than the service it drives.

double secondsNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Timings in milliseconds and their percentiles.
double percentile(std::vector<double> values, int p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * size_t(p) / 100)];
}

bool pollOne(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int r = 0;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (events | POLLHUP | POLLERR));
}

// A blocking connect to 127.0.0.1; the socket is returned non-blocking, -1 on failure.
int connectRaw(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Writes all of `bytes`, waiting (bounded) while the socket is full.
bool writeAll(int fd, const char* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!pollOne(fd, POLLOUT, 10000))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// Reads up to and including the next LF into `line`; `rest` keeps what came after it.
bool readLine(int fd, std::string& rest, std::string& line, int timeoutMs)
{
    const double deadline = secondsNow() + timeoutMs / 1000.0;
    for (;;) {
        const size_t lf = rest.find('\n');
        if (lf != std::string::npos) {
            line.assign(rest, 0, lf + 1);
            rest.erase(0, lf + 1);
            return true;
        }
        const int left = int((deadline - secondsNow()) * 1000);
        if (left <= 0 || !pollOne(fd, POLLIN, left))
            return false;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return false;
        if (n > 0)
            rest.append(buffer, size_t(n));
    }
}

// A copy logged in to the service; -1 when the connection or the login failed.
int loginRaw(quint16 port, const std::string& id, const std::string& key)
{
    const int fd = connectRaw(port);
    if (fd < 0)
        return -1;
    const std::string request = "AUTH:" + id + ':' + key + '\n';
    std::string rest, reply;
    if (!writeAll(fd, request.data(), request.size()) || !readLine(fd, rest, reply, 10000) ||
        reply != "AUTH:0\n" || !rest.empty()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// DATA lines as copies send them (256 bytes, 522 characters): the first 6 bytes name the group
// and the line's number in its stream, the rest is a fixed pattern.
constexpr size_t LineSize = 522;
constexpr size_t TagAt = 9;
constexpr size_t TagSize = 12;

const std::string& lineTemplate()
{
    static const std::string text = [] {
        std::string t = "DATA:256:";
        static const char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < 256; ++i) {
            const int byte = (i * 7 + 3) & 0xff;
            t += digits[byte >> 4];
            t += digits[byte & 15];
        }
        return t + '\n';
    }();
    return text;
}

void writeHex(char* at, quint32 value, int digits)
{
    static const char hex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        at[i] = hex[value & 15];
}

void appendLine(std::string& out, int group, quint32 number)
{
    const size_t at = out.size();
    out += lineTemplate();
    writeHex(&out[at + TagAt], quint32(group), 4);
    writeHex(&out[at + TagAt + 4], number, 8);
}

// One copy that only sends: its stream and how far it has got.
struct Sender {
    int fd = -1;
    int group = 0;
    quint32 next = 0;
    std::string out;
    size_t outAt = 0;
};

// One copy that only receives: it checks that every line is the next one of its group's stream.
struct Receiver {
    int fd = -1;
    int group = 0;
    quint32 next = 0;
    std::string partial;
    qint64 wrong = 0;
    bool closed = false;

    void take(const char* data, size_t size)
    {
        partial.append(data, size);
        size_t from = 0;
        for (;;) {
            const size_t lf = partial.find('\n', from);
            if (lf == std::string::npos)
                break;
            check(partial.data() + from, lf + 1 - from);
            from = lf + 1;
        }
        partial.erase(0, from);
    }
    void check(const char* line, size_t size)
    {
        std::string expected;
        appendLine(expected, group, next);
        if (size != LineSize || std::memcmp(line, expected.data(), LineSize) != 0) {
            ++wrong;
            return;
        }
        ++next;
    }
};

// Copies that share a key: one sender and its receivers.
struct Group {
    Sender sender;
    std::vector<Receiver> receivers;
    quint32 startedAt = 0;      // lines every receiver had when a run began
    quint32 deliveredAtEnd = 0; // lines every receiver got within the run's time
    quint32 slowestReceived() const
    {
        quint32 least = UINT32_MAX;
        for (const Receiver& r : receivers)
            least = std::min(least, r.next);
        return receivers.empty() ? 0 : least;
    }
};

bool makeGroups(quint16 port, const char* prefix, int count, int receivers, int firstTag,
                std::vector<Group>* groups)
{
    for (int g = 0; g < count; ++g) {
        Group group;
        const std::string key = std::string(prefix) + std::to_string(g);
        group.sender.fd = loginRaw(port, key + "-s", key);
        group.sender.group = firstTag + g;
        for (int r = 0; r < receivers; ++r) {
            Receiver receiver;
            receiver.fd = loginRaw(port, key + "-r" + std::to_string(r), key);
            receiver.group = firstTag + g;
            group.receivers.push_back(std::move(receiver));
        }
        groups->push_back(std::move(group));
        for (const Receiver& r : groups->back().receivers)
            if (r.fd < 0)
                return false;
        if (groups->back().sender.fd < 0)
            return false;
    }
    return true;
}

void closeGroups(std::vector<Group>& groups)
{
    for (Group& g : groups) {
        ::close(g.sender.fd);
        for (Receiver& r : g.receivers)
            ::close(r.fd);
    }
    groups.clear();
}

// Lines a sender may be ahead of its slowest receiver: well below the service's queue limit.
constexpr quint32 WindowLines = 512;
constexpr quint32 FillLines = 32;

// Every sender sends as fast as its receivers take the lines, for `seconds`; then the rest
// drains. Returns the seconds measured; deliveredAtEnd holds what arrived within them.
double runGroups(std::vector<Group>& groups, double seconds)
{
    std::vector<pollfd> fds;
    std::vector<std::pair<Group*, int>> owners; // -1: the sender, else a receiver's index
    for (Group& g : groups) {
        fds.push_back({g.sender.fd, POLLOUT, 0});
        owners.push_back({&g, -1});
        for (size_t r = 0; r < g.receivers.size(); ++r) {
            fds.push_back({g.receivers[r].fd, POLLIN, 0});
            owners.push_back({&g, int(r)});
        }
    }
    for (Group& g : groups)
        g.startedAt = g.slowestReceived();
    std::vector<char> buffer(256 * 1024);
    const double start = secondsNow();
    double ended = 0;
    bool sending = true;
    double lastProgress = start;
    for (;;) {
        const double now = secondsNow();
        if (sending && now - start >= seconds) {
            sending = false;
            ended = now;
            for (Group& g : groups)
                g.deliveredAtEnd = g.slowestReceived() - g.startedAt;
        }
        if (!sending) {
            bool drained = true;
            for (Group& g : groups)
                if (g.sender.outAt < g.sender.out.size() || g.slowestReceived() < g.sender.next)
                    drained = false;
            if (drained || now - lastProgress > 10)
                break;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (owners[i].second >= 0)
                continue;
            Sender& s = owners[i].first->sender;
            const bool more =
                s.outAt < s.out.size() ||
                (sending && s.next - owners[i].first->slowestReceived() < WindowLines);
            fds[i].events = more ? POLLOUT : 0;
        }
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Group& g = *owners[i].first;
            if (owners[i].second < 0) {
                Sender& s = g.sender;
                if (s.outAt == s.out.size()) {
                    s.out.clear();
                    s.outAt = 0;
                    const quint32 room = WindowLines - (s.next - g.slowestReceived());
                    for (quint32 n = 0; n < std::min(room, FillLines); ++n)
                        appendLine(s.out, s.group, s.next++);
                }
                const ssize_t n = ::write(s.fd, s.out.data() + s.outAt, s.out.size() - s.outAt);
                if (n > 0)
                    s.outAt += size_t(n);
            } else {
                Receiver& r = g.receivers[size_t(owners[i].second)];
                const ssize_t n = ::read(r.fd, buffer.data(), buffer.size());
                if (n > 0) {
                    r.take(buffer.data(), size_t(n));
                    lastProgress = secondsNow();
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    r.closed = true;
                    fds[i].fd = -1;
                }
            }
        }
    }
    return ended - start;
}

struct GroupTotals {
    qint64 lines = 0; // lines delivered to receivers
    double slowestRate = 0;
    qint64 wrong = 0;
    qint64 missing = 0;
    int closed = 0;
};

GroupTotals totals(const std::vector<Group>& groups, double seconds)
{
    GroupTotals t;
    t.slowestRate = 1e300;
    for (const Group& g : groups) {
        const qint64 delivered = qint64(g.deliveredAtEnd) * qint64(g.receivers.size());
        t.lines += delivered;
        t.slowestRate = std::min(t.slowestRate, double(delivered) / seconds);
        for (const Receiver& r : g.receivers) {
            t.wrong += r.wrong;
            t.missing += g.sender.next - r.next;
            t.closed += r.closed ? 1 : 0;
        }
    }
    return t;
}

// One small line at a time from one copy to its partner, which sends it straight back.
struct EchoProbe {
    int a = -1;
    int b = -1;
    std::atomic<bool> running{false};
    std::vector<double> ms;
    int lost = 0;

    void run()
    {
        std::string restA, restB, line;
        quint32 number = 0;
        while (running.load()) {
            char text[32];
            std::snprintf(text, sizeof text, "DATA:4:%08X\n", number++);
            const double start = secondsNow();
            if (!writeAll(a, text, std::strlen(text)) || !readLine(b, restB, line, 5000) ||
                line != text || !writeAll(b, line.data(), line.size()) ||
                !readLine(a, restA, line, 5000) || line != text) {
                ++lost;
                restA.clear();
                restB.clear();
                continue;
            }
            ms.push_back((secondsNow() - start) * 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

// The load the other copies must be protected from: one logged-in copy sending DATA lines as
// fast as it can to a partner, and strangers that never log in, some of them sending junk.
struct Flood {
    int flooder = -1;
    int sink = -1;
    std::vector<int> strangers;
    size_t talkers = 0; // the first `talkers` strangers send junk
    std::atomic<bool> running{false};
    qint64 flooded = 0;
    qint64 sunk = 0;
    qint64 junk = 0;
    bool sinkClosed = false;
    bool flooderClosed = false;

    void run()
    {
        std::string stream;
        for (quint32 n = 0; n < 2048; ++n)
            appendLine(stream, 0xFFFF, n);
        // Never logged in: relayed kinds and requests must go nowhere, over-long lines must be
        // cut, and binary rubbish must not upset anything.
        std::string rubbish = "DATA:4:DEADBEEF\nCTRL:CTS:ON\nLIST:ALL\nLIST\nHELLO\n";
        for (int i = 0; i < 256; ++i)
            rubbish += char(i);
        rubbish += '\n';
        rubbish += std::string(40000, 'A') + "\nDATA:1:00\n";
        std::vector<size_t> at(talkers, 0);
        size_t floodAt = 0;
        std::vector<pollfd> fds;
        fds.push_back({flooder, POLLOUT, 0});
        fds.push_back({-1, 0, 0}); // the partner is read on a thread of its own
        for (size_t i = 0; i < talkers; ++i)
            fds.push_back({strangers[i], POLLOUT, 0});
        while (running.load()) {
            if (::poll(fds.data(), fds.size(), 100) <= 0)
                continue;
            if (fds[0].revents) {
                const ssize_t n =
                    ::write(flooder, stream.data() + floodAt, stream.size() - floodAt);
                if (n > 0) {
                    flooded += n;
                    floodAt = (floodAt + size_t(n)) % stream.size();
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    flooderClosed = true;
                    fds[0].fd = -1;
                }
            }
            for (size_t i = 0; i < talkers; ++i) {
                if (!fds[i + 2].revents)
                    continue;
                const ssize_t n =
                    ::write(strangers[i], rubbish.data() + at[i], rubbish.size() - at[i]);
                if (n > 0) {
                    junk += n;
                    at[i] = (at[i] + size_t(n)) % rubbish.size();
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    fds[i + 2].fd = -1;
                }
            }
        }
    }
};

// Reads everything the flood brings to its partner, as fast as it comes.
void drainFlood(Flood& flood)
{
    std::vector<char> buffer(256 * 1024);
    while (flood.running.load()) {
        if (!pollOne(flood.sink, POLLIN, 100))
            continue;
        const ssize_t n = ::read(flood.sink, buffer.data(), buffer.size());
        if (n > 0) {
            flood.sunk += n;
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            flood.sinkClosed = true;
            return;
        }
    }
}

// What the other copies got in one period: their relay rate and the echo round trips.
struct Period {
    double linesPerSecond = 0;
    double p50 = 0;
    double p99 = 0;
    size_t samples = 0;
    int lost = 0;
    GroupTotals totals;
};

Period measureOthers(std::vector<Group>& others, EchoProbe& probe, double seconds)
{
    for (Group& g : others)
        g.deliveredAtEnd = 0;
    probe.ms.clear();
    probe.lost = 0;
    probe.running = true;
    std::thread echo([&] { probe.run(); });
    const double took = runGroups(others, seconds);
    probe.running = false;
    echo.join();
    Period period;
    period.totals = totals(others, took);
    period.linesPerSecond = double(period.totals.lines) / took;
    period.p50 = percentile(probe.ms, 50);
    period.p99 = percentile(probe.ms, 99);
    period.samples = probe.ms.size();
    period.lost = probe.lost;
    return period;
}

} // namespace

// Connects a copy to the service, over TLS or not, and logs it in; the handshake's seconds go to
// *handshake when asked for.
bool connectCopy(QSslSocket& socket, bool tls, quint16 port, const QByteArray& id,
                 double* handshake = nullptr)
{
    QElapsedTimer timer;
    timer.start();
    if (tls) {
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForEncrypted(Patience))
            return false;
    } else {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(Patience))
            return false;
    }
    if (handshake)
        *handshake = double(timer.nsecsElapsed()) / 1e9;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.write("AUTH:" + id + ":bench\n");
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(Patience))
        answer += socket.readAll();
    return answer == "AUTH:0\n";
}

// Median of values, and their range.
QString spread(std::vector<double> values, double scale, int decimals)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double v) { return QString::number(v * scale, 'f', decimals); };
    return at(values[values.size() / 2]) + " (" + at(values.front()) + "-" + at(values.back()) +
           ")";
}

int runTls()
{
    constexpr int Runs = 5;
    constexpr int Lines = 100000;
    constexpr int Handshakes = 20;
    QTemporaryDir dir;
    QProcess openssl;
    openssl.setWorkingDirectory(dir.path());
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-keyout", "host.key", "-out", "host.pem", "-subj",
                   "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1"});
    HostProcess host;
    host.process().setStandardErrorFile(QProcess::nullDevice());
    if (!openssl.waitForFinished(Patience) || openssl.exitCode() != 0 ||
        !host.start(
            {"--tls-cert", dir.filePath("host.pem"), "--tls-key", dir.filePath("host.key")})) {
        std::fprintf(stderr, "no certificate, or nirvex-host did not start\n");
        return 1;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates(QSslCertificate::fromPath(dir.filePath("host.pem")));
    const QByteArray stream = DataLines::numbered(0).repeated(Lines);

    std::vector<double> plainRates, tlsRates, ratios, handshakes;
    for (int run = 0; run < Runs; ++run) {
        double rate[2] = {-1, -1};
        // Alternating which goes first, so that neither always meets a warmer machine.
        for (const bool tls : {run % 2 == 1, run % 2 == 0}) {
            QSslSocket sender, receiver;
            sender.setSslConfiguration(config);
            receiver.setSslConfiguration(config);
            const quint16 port = tls ? host.tlsPort() : host.port();
            if (!connectCopy(sender, tls, port, "send") ||
                !connectCopy(receiver, tls, port, "receive"))
                continue;
            const double seconds = transfer(sender, receiver, stream);
            if (seconds > 0)
                rate[tls] = Lines / seconds;
        }
        if (rate[0] <= 0 || rate[1] <= 0) {
            std::printf("run %d failed\n", run + 1);
            return 1;
        }
        plainRates.push_back(rate[0]);
        tlsRates.push_back(rate[1]);
        ratios.push_back(rate[1] / rate[0]);
        std::vector<double> times;
        for (int i = 0; i < Handshakes; ++i) {
            QSslSocket socket;
            socket.setSslConfiguration(config);
            double seconds = 0;
            if (connectCopy(socket, true, host.tlsPort(), "shake", &seconds))
                times.push_back(seconds);
        }
        if (times.empty())
            return 1;
        std::sort(times.begin(), times.end());
        handshakes.push_back(times[times.size() / 2]);
        std::printf("run %d: clear %.0f lines/s, TLS %.0f lines/s, TLS/clear %.2f, handshake "
                    "median %.2f ms\n",
                    run + 1, rate[0], rate[1], rate[1] / rate[0], handshakes.back() * 1000);
    }
    std::printf("DATA lines (522 chars) one way through nirvex-host, median of %d alternating "
                "runs (range):\n  clear text %s lines/s\n  TLS        %s lines/s\n  TLS/clear  "
                "%s (goal >= 0.7)\n  handshake  %s ms (median of %d per run)\n",
                Runs, qPrintable(spread(plainRates, 1, 0)), qPrintable(spread(tlsRates, 1, 0)),
                qPrintable(spread(ratios, 1, 2)), qPrintable(spread(handshakes, 1000, 2)),
                Handshakes);
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (QCoreApplication::arguments().contains(QStringLiteral("--tls")))
        return runTls();
    // Strangers the service closes must not end the bench when it writes to them.
    ::signal(SIGPIPE, SIG_IGN);
    constexpr int IdleClients = 1000;
    constexpr int HoldSeconds = 5;
    constexpr int LoadGroups = 25;
    constexpr double GroupSeconds = 5;
    constexpr int OtherPairs = 8;
    constexpr int Strangers = 500;
    constexpr size_t Talkers = 50;
    constexpr double FloodSeconds = 5;
    // What a user of the other copies would accept while someone floods: half their speed, and
    // an echo well below what a person at a terminal notices.
    constexpr double KeptRateBound = 0.5;
    constexpr double P99BoundMs = 50;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 4096 &&
        limit.rlim_max >= 4096) {
        limit.rlim_cur = 4096;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

    HostProcess host;
    host.process().setStandardErrorFile(QProcess::nullDevice());
    // The strangers all come from 127.0.0.1: lifting the per-address limit keeps all 500 open.
    if (!host.start({"--max-connections", "5000", "--max-pending-per-address", "5000"})) {
        std::fprintf(stderr, "nirvex-host did not start from %s\n",
                     qPrintable(HostProcess::program()));
        return 1;
    }
    const qint64 pid = host.process().processId();

    constexpr int DataLineCount = 200000;
    constexpr int ControlLines = 4000000;
    const QByteArray dataStream = DataLines::numbered(0).repeated(DataLineCount);
    const QByteArray controlStream =
        QByteArray("CTRL:CTS:ON\nCTRL:CTS:OFF\n").repeated(ControlLines / 2);

    std::printf("Relaying one way on 127.0.0.1 between two logged-in copies:\n");
    report("DATA lines (522 chars)", DataLineCount, dataStream.size(),
           measure(host.port(), dataStream));
    report("CTRL lines (12-13 chars)", ControlLines, controlStream.size(),
           measure(host.port(), controlStream));

    const qint64 rssBefore = host.statusKiB("VmRSS:");
    std::vector<std::unique_ptr<HostClient>> idle;
    int loggedIn = 0;
    QElapsedTimer upTimer;
    upTimer.start();
    for (int i = 0; i < IdleClients; ++i) {
        idle.push_back(std::make_unique<HostClient>());
        if (idle.back()->connectTo(host.port()) &&
            idle.back()->login("idle" + QByteArray::number(i),
                               "group" + QByteArray::number(i / 10)))
            ++loggedIn;
    }
    const double upSeconds = double(upTimer.elapsed()) / 1000;
    const qint64 rssAfter = host.statusKiB("VmRSS:");
    std::printf("Idle logged-in connections: %d of %d up in %.1f s; service RSS %lld KiB before, "
                "%lld KiB with them: %.1f KiB per connection\n",
                loggedIn, IdleClients, upSeconds, rssBefore, rssAfter,
                double(rssAfter - rssBefore) / qMax(loggedIn, 1));

    // Held idle for a while, then every one must still be open and answer: a LIST from each,
    // and one DATA line from the first copy of each group of ten to the other nine.
    waitFor([] { return false; }, HoldSeconds * 1000);
    const auto inbox = [&idle](size_t i) -> QByteArray& { return idle[i]->received; };
    int open = 0;
    for (const auto& client : idle) {
        if (client->socket.state() == QAbstractSocket::ConnectedState)
            ++open;
        client->socket.write("LIST\n");
    }
    const auto listed = [&](size_t i) {
        return inbox(i).count('\n') >= 10 &&
               inbox(i).contains("LIST:idle" + QByteArray::number(qulonglong(i)) + ':');
    };
    // Waits until every idle copy meets done(i); returns how many do.
    const auto waitForEvery = [&](const auto& done) {
        const auto count = [&] {
            int met = 0;
            for (size_t i = 0; i < idle.size(); ++i)
                met += done(i) ? 1 : 0;
            return met;
        };
        waitFor([&] { return count() == int(idle.size()); });
        return count();
    };
    const int answered = waitForEvery(listed);
    for (size_t i = 0; i < idle.size(); ++i)
        inbox(i).clear();
    const auto groupLine = [](size_t member) {
        return "DATA:1:" + QByteArray::number(0x100 + member / 10 % 256, 16).right(2).toUpper() +
               '\n';
    };
    for (size_t i = 0; i < idle.size(); i += 10)
        idle[i]->socket.write(groupLine(i));
    const auto served = [&](size_t i) { return i % 10 == 0 || inbox(i) == groupLine(i); };
    // The senders themselves count as served.
    const int relayed = waitForEvery(served) - int((idle.size() + 9) / 10);
    const qint64 rssHeld = host.statusKiB("VmRSS:");
    const bool heldAll = loggedIn == IdleClients && open == IdleClients &&
                         answered == IdleClients && relayed == IdleClients / 10 * 9;
    std::printf("After %d s idle: %d of %d still open, %d answered LIST, %d of %d got their "
                "group's DATA line (%s); service RSS %lld KiB: %.1f KiB per connection (peak RSS "
                "%lld KiB)\n",
                HoldSeconds, open, IdleClients, answered, relayed, IdleClients / 10 * 9,
                heldAll ? "all served" : "SOME NOT SERVED", rssHeld,
                double(rssHeld - rssBefore) / qMax(loggedIn, 1), host.statusKiB("VmHWM:"));
    idle.clear();
    // Let the service see the closes before the next run.
    QThread::msleep(500);
    QCoreApplication::processEvents();

    // 100 copies in 25 groups of 4: in each group one copy sends and three receive.
    bool ok = heldAll;
    {
        std::vector<Group> alone;
        std::vector<Group> load;
        if (!makeGroups(host.port(), "alone", 1, 3, 1000, &alone) ||
            !makeGroups(host.port(), "load", LoadGroups, 3, 0, &load)) {
            std::printf("Groups: login failed\n");
            return 1;
        }
        // One group alone first, while the other 96 copies are logged in and quiet.
        const double aloneSeconds = runGroups(alone, GroupSeconds);
        const GroupTotals one = totals(alone, aloneSeconds);
        const double loadSeconds = runGroups(load, GroupSeconds);
        const GroupTotals all = totals(load, loadSeconds);
        const double oneRate = double(one.lines) / aloneSeconds;
        const double allRate = double(all.lines) / loadSeconds;
        const double meanGroup = allRate / LoadGroups;
        const bool intact =
            one.wrong + all.wrong + one.missing + all.missing + one.closed + all.closed == 0;
        std::printf("%d groups of 4 (1 sending, 3 receiving 522-char DATA lines) at once, %.0f "
                    "s:\n",
                    LoadGroups, GroupSeconds);
        std::printf("  all groups  %10.0f lines/s (%6.1f MB/s) delivered; slowest group "
                    "%8.0f lines/s, mean %8.0f (slowest/mean %.2f)\n",
                    allRate, allRate * LineSize / 1e6, all.slowestRate, meanGroup,
                    all.slowestRate / meanGroup);
        std::printf("  one group alone %6.0f lines/s (%6.1f MB/s); all groups / one alone %.2f; "
                    "slowest group / one alone %.3f (fair share 1/%d = %.3f)\n",
                    oneRate, oneRate * LineSize / 1e6, allRate / oneRate, all.slowestRate / oneRate,
                    LoadGroups, 1.0 / LoadGroups);
        std::printf("  every receiver: %s (%lld wrong or foreign lines, %lld missing, %d "
                    "connections closed)\n",
                    intact ? "all lines of its own group, in order" : "LINES LOST OR WRONG",
                    all.wrong + one.wrong, all.missing + one.missing, all.closed + one.closed);
        ok = ok && intact;
        closeGroups(alone);
        closeGroups(load);
    }

    // The other copies' rate and echo time, quiet and then beside the flood and the strangers.
    {
        std::vector<Group> others;
        std::vector<Group> floodPair;
        EchoProbe probe;
        Flood flood;
        probe.a = loginRaw(host.port(), "probe-a", "probe");
        probe.b = loginRaw(host.port(), "probe-b", "probe");
        flood.flooder = loginRaw(host.port(), "flooder", "flood");
        flood.sink = loginRaw(host.port(), "flood-sink", "flood");
        if (!makeGroups(host.port(), "other", OtherPairs, 1, 2000, &others) || probe.a < 0 ||
            probe.b < 0 || flood.flooder < 0 || flood.sink < 0) {
            std::printf("Flood: login failed\n");
            return 1;
        }
        const Period quiet = measureOthers(others, probe, FloodSeconds);

        for (int i = 0; i < Strangers; ++i) {
            const int fd = connectRaw(host.port());
            if (fd >= 0)
                flood.strangers.push_back(fd);
        }
        flood.talkers = std::min<size_t>(Talkers, flood.strangers.size());
        flood.running = true;
        std::thread flooding([&] { flood.run(); });
        std::thread sinking([&] { drainFlood(flood); });
        QThread::msleep(300);
        const Period loaded = measureOthers(others, probe, FloodSeconds);
        flood.running = false;
        flooding.join();
        sinking.join();

        // Strangers are told nothing and passed nothing.
        int strangersOpen = 0;
        qint64 toStrangers = 0;
        for (int fd : flood.strangers) {
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                toStrangers += n;
            if (n < 0 && errno == EAGAIN)
                ++strangersOpen;
            ::close(fd);
        }
        const double rateKept = loaded.linesPerSecond / quiet.linesPerSecond;
        const bool intact = quiet.totals.wrong + loaded.totals.wrong + loaded.totals.missing +
                                loaded.totals.closed + quiet.lost + loaded.lost ==
                            0;
        const bool met =
            rateKept >= KeptRateBound && loaded.p99 <= P99BoundMs && intact && toStrangers == 0;
        std::printf("Other copies (%d pairs at full speed, one echo pair) without and with one "
                    "copy flooding and %zu strangers (%zu sending junk and over-long lines), %.0f "
                    "s each:\n",
                    OtherPairs, flood.strangers.size(), flood.talkers, FloodSeconds);
        std::printf("  quiet   %9.0f lines/s (%6.1f MB/s)   echo p50 %6.2f ms   p99 %6.2f ms   "
                    "(%zu round trips)\n",
                    quiet.linesPerSecond, quiet.linesPerSecond * LineSize / 1e6, quiet.p50,
                    quiet.p99, quiet.samples);
        std::printf("  flooded %9.0f lines/s (%6.1f MB/s)   echo p50 %6.2f ms   p99 %6.2f ms   "
                    "(%zu round trips)\n",
                    loaded.linesPerSecond, loaded.linesPerSecond * LineSize / 1e6, loaded.p50,
                    loaded.p99, loaded.samples);
        std::printf("  flood: %.1f MB sent by the flooder (%.1f MB/s), %.1f MB reached its "
                    "partner%s; %.1f MB of junk from strangers; %d of %zu strangers still open "
                    "(those sending junk are closed), %lld bytes sent to them\n",
                    double(flood.flooded) / 1e6, double(flood.flooded) / 1e6 / FloodSeconds,
                    double(flood.sunk) / 1e6,
                    flood.sinkClosed ? " (partner dropped as a slow reader)" : "",
                    double(flood.junk) / 1e6, strangersOpen, flood.strangers.size(), toStrangers);
        std::printf("  bound: others keep >= %.0f%% of their quiet rate and echo p99 <= %.0f ms, "
                    "no line lost or misrouted: rate kept %.0f%%, p99 %.2f ms, lines %s -> %s\n",
                    KeptRateBound * 100, P99BoundMs, rateKept * 100, loaded.p99,
                    intact ? "intact" : "LOST OR WRONG", met ? "met" : "MISSED");
        ok = ok && met;
        closeGroups(others);
        ::close(probe.a);
        ::close(probe.b);
        ::close(flood.flooder);
        ::close(flood.sink);
    }

    ::kill(pid_t(pid), SIGTERM);
    host.process().waitForFinished(Patience);
    std::printf("nirvex-host stopped with exit code %d\n", host.process().exitCode());
    return ok ? 0 : 1;
}
