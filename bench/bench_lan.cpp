// Serial -> LAN -> serial: two copies of Nirvex in their own processes, a server and a client
// on 127.0.0.1, each with its source port on a pseudo-terminal, beside socat joining two
// identical pseudo-terminals over TCP (pty <-> TCP-LISTEN and TCP <-> pty). Measures throughput,
// one-byte latency and the delivery of a 300-byte burst, whose 44-byte tail leaves one character
// time after the burst.
#include "bench/BenchSupport.h"
#include "core/SocketControl.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/NirvexMain.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

// Both relays are measured in alternating rounds, so a load that comes and goes on the machine
// falls on both alike.
constexpr int Rounds = 6;
constexpr qint64 RoundBytes = 8LL * 1024 * 1024;
constexpr int RoundSamples = 300;
constexpr int BurstSamples = 100;
constexpr int BurstSize = 300;
constexpr int WarmUpSamples = 100;
// The copies' framing: 256000 bit/s 8N1, one character in 0.047 ms, so the source timer runs
// at its floor of 1 ms.
const char* const Speed = "256000";
constexpr double CharacterMs = 1.0;

// A relay's results with the round trips of whole bursts beside those of single bytes.
struct BurstResult : Result {
    Samples burst;
};

// Writes `size` bytes into in at once and returns the microseconds until all came out at out,
// or a negative value when they did not arrive intact.
double roundTrip(int in, int out, const char* bytes, int size)
{
    std::vector<char> got;
    char buffer[4096];
    const double start = nowUs();
    if (::write(in, bytes, size_t(size)) != size)
        return -1;
    while (int(got.size()) < size) {
        if (!waitFor(out, POLLIN, 2000))
            return -1;
        const ssize_t n = ::read(out, buffer, sizeof buffer);
        if (n > 0)
            got.insert(got.end(), buffer, buffer + n);
    }
    const double took = nowUs() - start;
    if (int(got.size()) != size || !std::equal(got.begin(), got.end(), bytes))
        return -1;
    return took;
}

void measure(int in, int out, int samples, int size, Samples* into, Result* result)
{
    std::vector<char> bytes(static_cast<size_t>(size));
    for (int i = 0; i < samples; ++i) {
        for (int k = 0; k < size; ++k)
            bytes[size_t(k)] = char(i * 31 + k);
        const double took = roundTrip(in, out, bytes.data(), size);
        if (took < 0) {
            ++result->lost;
            result->intact = false;
            drain(out);
            continue;
        }
        into->us.push_back(took);
    }
}

bool startLanCopy(QProcess& process, int role, const QString& slave, int port)
{
    return startCopy(
        process, {QStringLiteral("--copy"), QString::number(role), slave, QString::number(port)});
}

void printResult(const char* name, BurstResult& r)
{
    std::printf("%-8s throughput %7.2f MB/s   latency p50 %7.1f us  p99 %7.1f us   burst of %d "
                "p50 %7.1f us  p99 %7.1f us   %s\n",
                name, r.megabytesPerSecond(), r.latency.percentile(50), r.latency.percentile(99),
                BurstSize, r.burst.percentile(50), r.burst.percentile(99),
                r.intact && r.lost == 0 ? "all bytes intact" : "BYTES LOST OR CHANGED");
}

} // namespace

int main(int argc, char** argv)
{
    prepareApplication();
    QApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() == 5 && args.at(1) == QLatin1String("--copy"))
        return runLanCopy(args.at(2).toInt(), args.at(3), args.at(4).toInt(), QLatin1String(Speed));

    Pty a, b, c, d;
    if (a.master < 0 || b.master < 0 || c.master < 0 || d.master < 0) {
        std::fprintf(stderr, "no pseudo-terminals available\n");
        return 1;
    }

    const HeldPort ourHeld;
    const quint16 ourPort = ourHeld.number();
    QProcess server;
    QProcess client;
    if (!startLanCopy(server, 1, a.slave, ourPort) || !startLanCopy(client, 2, b.slave, ourPort) ||
        !relayIsUp(a.master, b.master)) {
        std::fprintf(stderr, "the Nirvex copies did not link up\n");
        return 1;
    }

    const HeldPort theirHeld;
    const quint16 theirPort = theirHeld.number();
    const QString listen = QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr").arg(theirPort);
    const QString connect =
        QStringLiteral("TCP:127.0.0.1:%1,retry=100,interval=0.05").arg(theirPort);
    QProcess socatListen;
    QProcess socatConnect;
    for (QProcess* p : {&socatListen, &socatConnect})
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    socatListen.start(QStringLiteral("socat"), {c.slave + QStringLiteral(",raw,echo=0"), listen});
    socatConnect.start(QStringLiteral("socat"), {connect, d.slave + QStringLiteral(",raw,echo=0")});
    if (!socatListen.waitForStarted(5000) || !socatConnect.waitForStarted(5000) ||
        !relayIsUp(c.master, d.master)) {
        std::fprintf(stderr, "socat did not start (Debian package socat)\n");
        return 1;
    }

    BurstResult ours;
    BurstResult theirs;
    runBesideEventLoop([&] {
        Result warmUp;
        measure(a.master, b.master, WarmUpSamples, 1, &warmUp.latency, &warmUp);
        measure(c.master, d.master, WarmUpSamples, 1, &warmUp.latency, &warmUp);
        for (int round = 0; round < Rounds; ++round) {
            measure(a.master, b.master, RoundSamples, 1, &ours.latency, &ours);
            measure(c.master, d.master, RoundSamples, 1, &theirs.latency, &theirs);
            measure(a.master, b.master, BurstSamples, BurstSize, &ours.burst, &ours);
            measure(c.master, d.master, BurstSamples, BurstSize, &theirs.burst, &theirs);
        }
        for (int round = 0; round < Rounds; ++round) {
            measureThroughput(a.master, b.master, RoundBytes, &ours);
            measureThroughput(c.master, d.master, RoundBytes, &theirs);
        }
    });

    for (QProcess* p : {&server, &client}) {
        p->closeWriteChannel();
        if (!p->waitForFinished(5000))
            p->kill();
    }
    for (QProcess* p : {&socatListen, &socatConnect}) {
        p->terminate();
        if (!p->waitForFinished(5000))
            p->kill();
    }

    std::printf("%d alternating rounds: %lld MiB one way, %d one-byte and %d %d-byte round trips "
                "each\n",
                Rounds, RoundBytes >> 20, RoundSamples, BurstSamples, BurstSize);
    printResult("Nirvex", ours);
    printResult("socat", theirs);
    const double ratio = ours.megabytesPerSecond() / theirs.megabytesPerSecond();
    std::printf(
        "ratio Nirvex/socat: throughput %.2f   latency p50 %.2f  p99 %.2f   burst p50 %.2f  "
        "p99 %.2f\n",
        ratio, ours.latency.percentile(50) / theirs.latency.percentile(50),
        ours.latency.percentile(99) / theirs.latency.percentile(99),
        ours.burst.percentile(50) / theirs.burst.percentile(50),
        ours.burst.percentile(99) / theirs.burst.percentile(99));
    const double burstGoalUs = (CharacterMs + 2.0) * 1000.0;
    std::printf("goals: throughput >= 0.5 x socat and > 2.5 MB/s: %s;   burst p99 <= %.0f us "
                "(one character time + 2 ms): %s\n",
                ratio >= 0.5 && ours.megabytesPerSecond() > 2.5 ? "met" : "MISSED", burstGoalUs,
                ours.burst.percentile(99) <= burstGoalUs ? "met" : "MISSED");
    return ours.intact && theirs.intact ? 0 : 1;
}
