// Soak test of the relay: tens of megabytes of random bytes pushed both ways at once through
// one copy of Nirvex joining two pseudo-terminals (serial to serial), then through two copies
// linked over TCP on 127.0.0.1 (serial to LAN to serial). Every byte is checked at the far end,
// and each copy's memory is read from /proc while it runs in a child process of its own.
// Exits non-zero when a byte is lost, added, changed or reordered, or a copy grows too large.
#include "bench/BenchSupport.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

// Bytes pushed in each direction of each relay; --megabytes N on the command line sets another
// amount.
qint64 SoakBytes = 50LL * 1000 * 1000;
// A relay that moves no byte in either direction for this long has stalled.
constexpr double StallUs = 15e6;
const char* const Speed = "256000";
// A copy at rest (Qt, the offscreen window, the sockets) takes about 32 MB. Its queues are
// bounded (a few hundred kB per port and socket; the rest of the traffic waits in the kernel),
// so relaying adds a few MB at most. A copy that queued what its destination could not take yet
// reached 80 to 180 MB here; three times the resting size leaves room for another Qt build and
// a busy machine and still catches that.
constexpr qint64 PeakRssBoundKb = 96 * 1024;

// A reproducible stream of random bytes (splitmix64): the writer and the checker of one
// direction each hold one made from the same seed.
class ByteStream {
public:
    explicit ByteStream(uint64_t seed) : state(seed) {}

    void fill(char* out, size_t count)
    {
        for (size_t i = 0; i < count; ++i) {
            if (left == 0) {
                word = next();
                left = 8;
            }
            out[i] = char(word & 0xff);
            word >>= 8;
            --left;
        }
    }

private:
    uint64_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    uint64_t state;
    uint64_t word = 0;
    int left = 0;
};

// One direction of a relay: bytes written into one pseudo-terminal master and read back, in
// order, at the other.
struct Direction {
    const char* name;
    int in;
    int out;
    ByteStream writer;
    ByteStream checker;
    std::vector<char> chunk = std::vector<char>(65536);
    size_t chunkStart = 0;
    size_t chunkEnd = 0;
    qint64 written = 0;
    qint64 received = 0;
    qint64 mismatchAt = -1;
    double lastByteUs = 0;

    Direction(const char* name, int in, int out, uint64_t seed)
        : name(name), in(in), out(out), writer(seed), checker(seed)
    {
    }

    bool wantsToWrite() const { return written < SoakBytes; }
    bool done() const { return received >= SoakBytes; }

    // Writes what the master takes without blocking; false on a write error.
    bool writeSome()
    {
        if (chunkStart == chunkEnd) {
            chunkStart = 0;
            chunkEnd = size_t(std::min<qint64>(qint64(chunk.size()), SoakBytes - written));
            writer.fill(chunk.data(), chunkEnd);
        }
        const ssize_t n = ::write(in, chunk.data() + chunkStart, chunkEnd - chunkStart);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR;
        chunkStart += size_t(n);
        written += n;
        return true;
    }

    // Checks bytes read at the far end against the stream; everything past the first wrong
    // byte is only counted, since its place in the stream is no longer known.
    void check(const char* bytes, size_t count, std::vector<char>& expected)
    {
        if (mismatchAt < 0) {
            expected.resize(count);
            checker.fill(expected.data(), count);
            if (std::memcmp(bytes, expected.data(), count) != 0) {
                size_t i = 0;
                while (bytes[i] == expected[i])
                    ++i;
                mismatchAt = received + qint64(i);
            }
        }
        received += qint64(count);
    }
};

// Pushes SoakBytes each way between the masters a and b at the same time, from this one thread,
// and reports both directions; true when every byte arrived once and in order.
bool soak(const char* title, int a, int b, uint64_t seed)
{
    Direction directions[2] = {{"a -> b", a, b, seed},
                               {"b -> a", b, a, seed ^ 0x5a5a5a5a5a5a5a5aULL}};
    std::vector<char> buffer(65536);
    std::vector<char> expected;
    const double start = nowUs();
    double lastProgress = start;
    bool broken = false;
    while (!(directions[0].done() && directions[1].done()) && !broken &&
           nowUs() - lastProgress < StallUs) {
        // fds[i] is the master into which direction i writes and at which direction 1 - i reads.
        pollfd fds[2];
        for (int i = 0; i < 2; ++i)
            fds[i] = {directions[i].in,
                      short(POLLIN | (directions[i].wantsToWrite() ? POLLOUT : 0)), 0};
        if (::poll(fds, 2, 1000) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            Direction& writing = directions[i];
            Direction& reading = directions[1 - i];
            if ((fds[i].revents & POLLOUT) && !writing.writeSome())
                broken = true;
            if (fds[i].revents & POLLIN) {
                const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
                if (n > 0) {
                    reading.check(buffer.data(), size_t(n), expected);
                    lastProgress = reading.lastByteUs = nowUs();
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    broken = true;
                }
            } else if (fds[i].revents & (POLLHUP | POLLERR)) {
                broken = true; // the relay closed its end of the pseudo-terminal
            }
        }
    }
    const double seconds = (nowUs() - start) / 1e6;

    bool intact = !broken;
    std::printf("%s: %.1f s\n", title, seconds);
    for (Direction& d : directions) {
        const double took = ((d.lastByteUs > 0 ? d.lastByteUs : start) - start) / 1e6;
        const qint64 lost = std::max<qint64>(0, d.written - d.received);
        const qint64 extra = std::max<qint64>(0, d.received - d.written);
        std::printf("  %s  written %lld  received %lld  lost %lld  duplicated %lld  %s  "
                    "%.2f MB/s in %.1f s\n",
                    d.name, d.written, d.received, lost, extra,
                    d.mismatchAt < 0
                        ? "in order"
                        : qPrintable(QStringLiteral("WRONG BYTE AT OFFSET %1").arg(d.mismatchAt)),
                    took > 0 ? double(d.received) / took / 1e6 : 0.0, took);
        intact = intact && d.written == SoakBytes && d.received == SoakBytes && d.mismatchAt < 0;
    }
    if (broken)
        std::printf("  a pseudo-terminal failed or was closed by the relay\n");
    std::printf("  %s\n", intact ? "all bytes intact" : "FAILED");
    std::fflush(stdout);
    return intact;
}

// A kB figure ("VmRSS", "VmHWM") from /proc/<pid>/status; -1 when it cannot be read.
qint64 statusKb(qint64 pid, const char* key)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// A copy in a child process with its resident size when the relay came up.
struct Copy {
    const char* name;
    QProcess process;
    qint64 startKb = -1;

    explicit Copy(const char* name) : name(name) {}
};

// Reads each copy's peak, ends the copies, and says whether every peak kept within the bound.
bool stopCopies(std::initializer_list<Copy*> copies)
{
    bool bounded = true;
    for (Copy* copy : copies) {
        const qint64 peakKb = statusKb(copy->process.processId(), "VmHWM");
        const bool ok = peakKb > 0 && peakKb <= PeakRssBoundKb;
        std::printf("  %-7s RSS at start %6.1f MB  peak %6.1f MB  (bound %lld MB) %s\n", copy->name,
                    double(copy->startKb) / 1024, double(peakKb) / 1024, PeakRssBoundKb / 1024,
                    ok ? "ok" : "EXCEEDED OR UNREADABLE");
        bounded = bounded && ok;
    }
    std::fflush(stdout);
    for (Copy* copy : copies) {
        copy->process.closeWriteChannel();
        if (!copy->process.waitForFinished(10000)) {
            copy->process.kill();
            copy->process.waitForFinished(5000);
        }
    }
    return bounded;
}

bool relayIsUpBothWays(int a, int b)
{
    return relayIsUp(a, b) && relayIsUp(b, a);
}

void recordStart(std::initializer_list<Copy*> copies)
{
    for (Copy* copy : copies)
        copy->startKb = statusKb(copy->process.processId(), "VmRSS");
}

bool soakSerialToSerial()
{
    Pty source, destination;
    if (source.master < 0 || destination.master < 0) {
        std::fprintf(stderr, "no pseudo-terminals available\n");
        return false;
    }
    Copy copy("serial");
    if (!startCopy(copy.process, {QStringLiteral("--copy"), QStringLiteral("serial"), source.slave,
                                  destination.slave}) ||
        !relayIsUpBothWays(source.master, destination.master)) {
        std::fprintf(stderr, "the serial relay did not start\n");
        return false;
    }
    recordStart({&copy});
    const bool intact = soak("serial -> serial, one copy", source.master, destination.master, 1);
    const bool bounded = stopCopies({&copy});
    return intact && bounded;
}

bool soakSerialLanSerial()
{
    Pty serverSide, clientSide;
    if (serverSide.master < 0 || clientSide.master < 0) {
        std::fprintf(stderr, "no pseudo-terminals available\n");
        return false;
    }
    const HeldPort held;
    const QString port = held.text();
    Copy server("server");
    Copy client("client");
    if (!startCopy(server.process, {QStringLiteral("--copy"), QStringLiteral("lan"),
                                    QStringLiteral("1"), serverSide.slave, port}) ||
        !startCopy(client.process, {QStringLiteral("--copy"), QStringLiteral("lan"),
                                    QStringLiteral("2"), clientSide.slave, port}) ||
        !relayIsUpBothWays(serverSide.master, clientSide.master)) {
        std::fprintf(stderr, "the two copies did not link up\n");
        return false;
    }
    recordStart({&server, &client});
    const bool intact =
        soak("serial -> LAN -> serial, two copies", serverSide.master, clientSide.master, 2);
    const bool bounded = stopCopies({&server, &client});
    return intact && bounded;
}

// A copy relaying between COM1 on source and COM2 on destination.
int runSerialCopy(const QString& source, const QString& destination)
{
    return runCopy(
        QStringLiteral("COM1=%1\nCOM2=%2\n").arg(source, destination), [](frmMain& window) {
            window.findChild<QRadioButton*>("optSerial")->setChecked(true);
            window.findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM1"));
            window.findChild<QComboBox*>("cmbComPort2")->setCurrentText(QStringLiteral("COM2"));
            setFraming8N1(window.findChild<QComboBox*>("cmbBPS"),
                          window.findChild<QComboBox*>("cmbParity"),
                          window.findChild<QComboBox*>("cmbBits"),
                          window.findChild<QComboBox*>("cmbStopBits"), QLatin1String(Speed));
            setFraming8N1(window.findChild<QComboBox*>("cmbBPS2"),
                          window.findChild<QComboBox*>("cmbParity2"),
                          window.findChild<QComboBox*>("cmbBits2"),
                          window.findChild<QComboBox*>("cmbStopBits2"), QLatin1String(Speed));
        });
}

} // namespace

int main(int argc, char** argv)
{
    prepareApplication();
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("--copy") &&
        args.at(2) == QLatin1String("serial"))
        return runSerialCopy(args.at(3), args.at(4));
    if (args.size() == 6 && args.at(1) == QLatin1String("--copy") &&
        args.at(2) == QLatin1String("lan"))
        return runLanCopy(args.at(3).toInt(), args.at(4), args.at(5).toInt(), QLatin1String(Speed));

    const qsizetype option = args.indexOf(QStringLiteral("--megabytes"));
    if (option > 0 && args.value(option + 1).toLongLong() > 0)
        SoakBytes = args.value(option + 1).toLongLong() * 1000 * 1000;
    std::printf("%lld bytes each way, both ways at once, %s 8N1\n", SoakBytes, Speed);
    const double start = nowUs();
    const bool serial = soakSerialToSerial();
    const bool lan = soakSerialLanSerial();
    std::printf("soak %s in %.1f s\n", serial && lan ? "passed" : "FAILED",
                (nowUs() - start) / 1e6);
    return serial && lan ? 0 : 1;
}
