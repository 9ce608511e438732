// Serial relay throughput and one-byte latency between two pseudo-terminal pairs: Nirvex (a
// main window with COM1 and COM2 mapped to the pairs, started by its run button's handler)
// beside socat joining two identical pairs, plus the time one port list fill takes.
#include "app/DropDownComboBox.h"
#include "app/NirvexMain.h"
#include "app/frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Both relays are measured in alternating rounds, so a load that comes and goes on the machine
// falls on both alike.
constexpr int Rounds = 8;
constexpr qint64 RoundBytes = 4LL * 1024 * 1024;
constexpr int RoundSamples = 400;
constexpr int WarmUpSamples = 100;

// A raw pseudo-terminal: the bench keeps the master, the relay under test opens the slave.
struct Pty {
    int master = -1;
    QString slave;

    Pty()
    {
        termios raw{};
        ::cfmakeraw(&raw);
        int slaveFd = -1;
        char name[256] = {};
        if (::openpty(&master, &slaveFd, name, &raw, nullptr) != 0) {
            master = -1;
            return;
        }
        slave = QString::fromLocal8Bit(name);
        ::close(slaveFd);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
};

struct Result {
    std::vector<double> latencyUs;
    qint64 bytes = 0;
    double seconds = 0;
    bool intact = true;
    int lost = 0;

    double megabytesPerSecond() const { return seconds > 0 ? double(bytes) / seconds / 1e6 : 0; }
    double percentile(int p)
    {
        if (latencyUs.empty())
            return 0;
        std::sort(latencyUs.begin(), latencyUs.end());
        return latencyUs[std::min(latencyUs.size() - 1, latencyUs.size() * size_t(p) / 100)];
    }
};

double nowUs()
{
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int r = 0;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & events);
}

// Drops whatever is still on its way out of a relay.
void drain(int fd)
{
    char buffer[65536];
    for (int reads = 0; reads < 10000 && waitFor(fd, POLLIN, 100); ++reads)
        if (::read(fd, buffer, sizeof buffer) <= 0)
            break;
}

// Sends one byte at a time into in and waits for it at out.
void measureLatency(int in, int out, int samples, Result* result)
{
    char buffer[256];
    for (int i = 0; i < samples; ++i) {
        const char byte = char(i);
        const double start = nowUs();
        if (::write(in, &byte, 1) != 1) {
            ++result->lost;
            continue;
        }
        ssize_t n = 0;
        for (int tries = 0; tries < 100 && n <= 0 && waitFor(out, POLLIN, 2000); ++tries)
            n = ::read(out, buffer, sizeof buffer);
        const double took = nowUs() - start;
        if (n != 1 || buffer[0] != byte) {
            ++result->lost;
            result->intact = false;
            drain(out);
            continue;
        }
        result->latencyUs.push_back(took);
    }
}

// Pushes count bytes into in while reading them back at out, checking every byte.
void measureThroughput(int in, int out, qint64 count, Result* result)
{
    auto patternAt = [](qint64 i) { return char((i * 131 + (i >> 12)) & 0xff); };
    std::vector<char> chunk(65536);
    std::vector<char> buffer(65536);
    qint64 written = 0;
    qint64 read = 0;
    const double start = nowUs();
    double lastProgress = start;
    while (read < count && nowUs() - lastProgress < 5e6) {
        pollfd fds[2] = {{out, POLLIN, 0}, {in, short(written < count ? POLLOUT : 0), 0}};
        if (::poll(fds, 2, 1000) <= 0)
            continue;
        if (fds[1].revents & POLLOUT) {
            const qint64 size = std::min<qint64>(qint64(chunk.size()), count - written);
            for (qint64 i = 0; i < size; ++i)
                chunk[size_t(i)] = patternAt(written + i);
            const ssize_t n = ::write(in, chunk.data(), size_t(size));
            if (n > 0)
                written += n;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(out, buffer.data(), buffer.size());
            for (ssize_t i = 0; i < n; ++i)
                if (buffer[size_t(i)] != patternAt(read + i))
                    result->intact = false;
            if (n > 0) {
                read += n;
                lastProgress = nowUs();
            }
        }
    }
    if (read < count)
        result->intact = false;
    result->bytes += read;
    result->seconds += (nowUs() - start) / 1e6;
}

// Runs work on a thread of its own while this thread serves the event loop (Nirvex's relay).
void runBesideEventLoop(const std::function<void()>& work)
{
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

// Waits (bounded) until a byte written at in comes out at out, so the relay is up.
bool relayIsUp(int in, int out)
{
    bool up = false;
    runBesideEventLoop([&] {
        char buffer[64];
        for (int attempt = 0; attempt < 100 && !up; ++attempt) {
            const char ping = 'p';
            if (::write(in, &ping, 1) == 1 && waitFor(out, POLLIN, 100) &&
                ::read(out, buffer, sizeof buffer) > 0)
                up = true;
            else // a master whose slave is not open yet reports a hang-up at once
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        drain(out);
    });
    return up;
}

void printResult(const char* name, Result& r)
{
    std::printf("%-8s throughput %8.2f MB/s   latency p50 %7.1f us   p99 %7.1f us   %s\n", name,
                r.megabytesPerSecond(), r.percentile(50), r.percentile(99),
                r.intact && r.lost == 0 ? "all bytes intact" : "BYTES LOST OR CHANGED");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    Pty a, b, c, d;
    if (a.master < 0 || b.master < 0 || c.master < 0 || d.master < 0) {
        std::fprintf(stderr, "no pseudo-terminals available\n");
        return 1;
    }

    QTemporaryDir dir;
    NirvexMain nirvex;
    nirvex.IniPath = dir.filePath(QStringLiteral("nirvex.INI"));
    {
        QFile profile(nirvex.IniPath);
        if (!profile.open(QIODevice::WriteOnly))
            return 1;
        profile.write(QStringLiteral("[Ports]\nCOM1=%1\nCOM2=%2\n").arg(a.slave, b.slave).toUtf8());
    }
    nirvex.Ports.setDeviceLister([] { return QList<PortTable::Device>(); });
    frmMain window(nirvex);
    window.Load();

    // One fill probes COM1 to COM255 (two of them mapped to pseudo-terminals here).
    std::vector<double> fills;
    for (int i = 0; i < 21; ++i) {
        QElapsedTimer clock;
        clock.start();
        window.Relay.cmbComPort_DropDown();
        fills.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(fills.begin(), fills.end());
    std::printf("port list fill (255 probes): median %.2f ms, worst %.2f ms\n",
                fills[fills.size() / 2], fills.back());

    window.optSerial->setChecked(true);
    window.cmbComPort->setCurrentText(QStringLiteral("COM1"));
    window.cmbComPort2->setCurrentText(QStringLiteral("COM2"));
    window.cmbBPS->setCurrentText(QStringLiteral("256000"));
    window.cmbBPS2->setCurrentText(QStringLiteral("256000"));
    window.cmbParity->setCurrentText(QStringLiteral("None"));
    window.cmbParity2->setCurrentText(QStringLiteral("None"));
    window.cmbBits->setCurrentText(QStringLiteral("8"));
    window.cmbBits2->setCurrentText(QStringLiteral("8"));
    window.cmbStopBits->setCurrentText(QStringLiteral("1"));
    window.cmbStopBits2->setCurrentText(QStringLiteral("1"));
    window.Relay.cmdRun_Click();
    if (!nirvex.RelayRunning || !relayIsUp(a.master, b.master)) {
        std::fprintf(stderr, "Nirvex relay did not start\n");
        return 1;
    }

    QProcess socat;
    socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    socat.start(QStringLiteral("socat"),
                {c.slave + QStringLiteral(",raw,echo=0"), d.slave + QStringLiteral(",raw,echo=0")});
    if (!socat.waitForStarted(5000) || !relayIsUp(c.master, d.master)) {
        std::fprintf(stderr, "socat did not start (Debian package socat)\n");
        return 1;
    }

    Result ours;
    Result theirs;
    runBesideEventLoop([&] {
        Result warmUp;
        measureLatency(a.master, b.master, WarmUpSamples, &warmUp);
        measureLatency(c.master, d.master, WarmUpSamples, &warmUp);
        for (int round = 0; round < Rounds; ++round) {
            measureLatency(a.master, b.master, RoundSamples, &ours);
            measureLatency(c.master, d.master, RoundSamples, &theirs);
        }
        for (int round = 0; round < Rounds; ++round) {
            measureThroughput(a.master, b.master, RoundBytes, &ours);
            measureThroughput(c.master, d.master, RoundBytes, &theirs);
        }
    });
    socat.terminate();
    socat.waitForFinished(5000);
    window.Relay.cmdRun_Click();

    std::printf("%d alternating rounds: %lld MiB one way and %d one-byte round trips each\n",
                Rounds, RoundBytes >> 20, RoundSamples);
    printResult("Nirvex", ours);
    printResult("socat", theirs);
    std::printf("ratio Nirvex/socat: throughput %.2f (goal >= 1)   latency p50 %.2f   p99 %.2f "
                "(goal <= 2)\n",
                ours.megabytesPerSecond() / theirs.megabytesPerSecond(),
                ours.percentile(50) / theirs.percentile(50),
                ours.percentile(99) / theirs.percentile(99));
    return ours.intact && theirs.intact ? 0 : 1;
}
