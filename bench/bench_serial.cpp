// Serial relay throughput and one-byte latency between two pseudo-terminal pairs: Nirvex (a
// main window with COM1 and COM2 mapped to the pairs, started by its run button's handler)
// beside socat joining two identical pairs, plus the time one port list fill takes beside a
// plain open()/close() of the same mapped devices.
#include "bench/BenchSupport.h"
#include "core/PortTable.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/NirvexMain.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

void printResult(const char* name, Result& r)
{
    std::printf("%-8s throughput %8.2f MB/s   latency p50 %7.1f us   p99 %7.1f us   %s\n", name,
                r.megabytesPerSecond(), r.latency.percentile(50), r.latency.percentile(99),
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

    BenchWindow copy(QStringLiteral("COM1=%1\nCOM2=%2\n").arg(a.slave, b.slave));
    if (!copy.ok)
        return 1;
    NirvexMain& nirvex = copy.nirvex;
    frmMain& window = *copy.window;

    // One fill probes COM1 to COM255 (two of them mapped to pseudo-terminals here). The
    // baseline looks up the same 255 numbers and opens and closes each mapped device, the least
    // any probe must do; fills and baseline alternate so that both see the same machine.
    std::vector<double> fills;
    std::vector<double> plain;
    int plainOpened = 0;
    for (int i = 0; i < 21; ++i) {
        QElapsedTimer clock;
        clock.start();
        window.cmbComPort_DropDown();
        fills.push_back(double(clock.nsecsElapsed()) / 1e6);

        clock.restart();
        plainOpened = 0;
        for (int n = PortTable::FirstPort; n <= PortTable::LastPort; ++n) {
            const QString path = nirvex.Ports.devicePath(n);
            if (path.isEmpty())
                continue;
            const int fd = ::open(QFile::encodeName(path).constData(),
                                  O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                ++plainOpened;
                ::close(fd);
            }
        }
        plain.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(fills.begin(), fills.end());
    std::sort(plain.begin(), plain.end());
    const double fillMedian = fills[fills.size() / 2];
    const double plainMedian = plain[plain.size() / 2];
    std::printf("port list fill (255 probes, %d items listed): median %.3f ms, worst %.3f ms\n",
                window.findChild<QComboBox*>("cmbComPort")->count(), fillMedian, fills.back());
    std::printf("baseline: the same 255 numbers looked up and %d mapped devices opened and closed "
                "with open()/close(): median %.3f ms, worst %.3f ms\n",
                plainOpened, plainMedian, plain.back());
    std::printf("ratio fill/baseline: %.1f\n", plainMedian > 0 ? fillMedian / plainMedian : 0.0);

    configureSerialRelay(window, QStringLiteral("256000"));
    window.cmdRun_Click();
    if (!window.Relay.RelayRunning() || !relayIsUp(a.master, b.master)) {
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
    // Both relays are measured in alternating rounds, so a load that comes and goes on the
    // machine falls on both alike.
    runBesideEventLoop([&] {
        Result warmUp;
        measureLatency(a.master, b.master, SerialWarmUpSamples, &warmUp);
        measureLatency(c.master, d.master, SerialWarmUpSamples, &warmUp);
        for (int round = 0; round < SerialRounds; ++round) {
            measureLatency(a.master, b.master, SerialRoundSamples, &ours);
            measureLatency(c.master, d.master, SerialRoundSamples, &theirs);
        }
        for (int round = 0; round < SerialRounds; ++round) {
            measureThroughput(a.master, b.master, SerialRoundBytes, &ours);
            measureThroughput(c.master, d.master, SerialRoundBytes, &theirs);
        }
    });
    socat.terminate();
    socat.waitForFinished(5000);
    window.cmdRun_Click();

    std::printf("%d alternating rounds: %lld MiB one way and %d one-byte round trips each\n",
                SerialRounds, SerialRoundBytes >> 20, SerialRoundSamples);
    printResult("Nirvex", ours);
    printResult("socat", theirs);
    std::printf("ratio Nirvex/socat: throughput %.2f (goal >= 1)   latency p50 %.2f   p99 %.2f "
                "(goal <= 2)\n",
                ours.megabytesPerSecond() / theirs.megabytesPerSecond(),
                ours.latency.percentile(50) / theirs.latency.percentile(50),
                ours.latency.percentile(99) / theirs.latency.percentile(99));
    return ours.intact && theirs.intact ? 0 : 1;
}
