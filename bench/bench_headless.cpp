// nirvex-relay, the relay without a window, against socat and against the desktop program's
// window on identical pseudo-terminal pairs in the same run: serial -> serial throughput and
// one-byte latency, measured in alternating rounds.
#include "RelayProcess.h"
#include "bench/BenchSupport.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QProcess>
#include <cstdio>

namespace {

using namespace bench;

// One relay under measurement: the master sides of its two pseudo-terminals and its results.
struct Contender {
    const char* name;
    Pty in;
    Pty out;
    Result result;
};

void print(Contender& c)
{
    Result& r = c.result;
    std::printf("%-13s throughput %8.2f MB/s   latency p50 %7.1f us   p99 %7.1f us   %s\n", c.name,
                r.megabytesPerSecond(), r.latency.percentile(50), r.latency.percentile(99),
                r.intact && r.lost == 0 ? "all bytes intact" : "BYTES LOST OR CHANGED");
}

void printRatios(Contender& ours, Contender& other)
{
    std::printf("ratio %s/%s: throughput %.2f   latency p50 %.2f   p99 %.2f\n", ours.name,
                other.name, ours.result.megabytesPerSecond() / other.result.megabytesPerSecond(),
                ours.result.latency.percentile(50) / other.result.latency.percentile(50),
                ours.result.latency.percentile(99) / other.result.latency.percentile(99));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    Contender headless{"nirvex-relay", {}, {}, {}};
    Contender socatRelay{"socat", {}, {}, {}};
    Contender windowRelay{"window", {}, {}, {}};
    Contender* all[] = {&headless, &socatRelay, &windowRelay};
    for (Contender* c : all)
        if (c->in.master < 0 || c->out.master < 0) {
            std::fprintf(stderr, "no pseudo-terminals available\n");
            return 1;
        }

    RelayProcess relay;
    const QString profile = QStringLiteral("[Settings]\nシリアルポート=1\nシリアルポート２=2\n"
                                           "DestType=1\n速度=256000\n速度２=256000\n"
                                           "[Ports]\nCOM1=%1\nCOM2=%2\n")
                                .arg(headless.in.slave, headless.out.slave);
    if (!relay.start(profile.toUtf8()) || !relay.waitForLog(QStringLiteral("接続しました！")) ||
        !relayIsUp(headless.in.master, headless.out.master)) {
        std::fprintf(stderr, "nirvex-relay did not start (%s)\n",
                     qPrintable(RelayProcess::program()));
        return 1;
    }

    QProcess socat;
    socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    socat.start(QStringLiteral("socat"), {socatRelay.in.slave + QStringLiteral(",raw,echo=0"),
                                          socatRelay.out.slave + QStringLiteral(",raw,echo=0")});
    if (!socat.waitForStarted(5000) || !relayIsUp(socatRelay.in.master, socatRelay.out.master)) {
        std::fprintf(stderr, "socat did not start (Debian package socat)\n");
        return 1;
    }

    BenchWindow copy(
        QStringLiteral("COM1=%1\nCOM2=%2\n").arg(windowRelay.in.slave, windowRelay.out.slave));
    if (!copy.ok)
        return 1;
    configureSerialRelay(*copy.window, QStringLiteral("256000"));
    copy.window->cmdRun_Click();
    if (!copy.window->Relay.RelayRunning() ||
        !relayIsUp(windowRelay.in.master, windowRelay.out.master)) {
        std::fprintf(stderr, "the window's relay did not start\n");
        return 1;
    }

    // The three relays take turns in every round, so a load that comes and goes on the machine
    // falls on all of them alike.
    runBesideEventLoop([&] {
        Result warmUp;
        for (Contender* c : all)
            measureLatency(c->in.master, c->out.master, SerialWarmUpSamples, &warmUp);
        for (int round = 0; round < SerialRounds; ++round)
            for (Contender* c : all)
                measureLatency(c->in.master, c->out.master, SerialRoundSamples, &c->result);
        for (int round = 0; round < SerialRounds; ++round)
            for (Contender* c : all)
                measureThroughput(c->in.master, c->out.master, SerialRoundBytes, &c->result);
    });
    socat.terminate();
    socat.waitForFinished(5000);
    copy.window->cmdRun_Click();
    const int relayExit = relay.terminate();

    std::printf("%d alternating rounds: %lld MiB one way and %d one-byte round trips each\n",
                SerialRounds, SerialRoundBytes >> 20, SerialRoundSamples);
    for (Contender* c : all)
        print(*c);
    printRatios(headless, socatRelay);
    printRatios(headless, windowRelay);
    std::printf("nirvex-relay exit code after SIGTERM: %d\n", relayExit);
    bool intact = relayExit == 0;
    for (Contender* c : all)
        intact = intact && c->result.intact && c->result.lost == 0;
    return intact ? 0 : 1;
}
