// What the traffic monitor costs the relay: serial -> serial throughput between two
// pseudo-terminal pairs through a shown main window, with the monitor shown and hidden in
// alternating rounds of the same run.
#include "bench/BenchSupport.h"
#include "desktop/TrafficView.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <cstdio>

namespace {

using namespace bench;

constexpr int Rounds = 8;
constexpr qint64 RoundBytes = 8LL * 1024 * 1024;

} // namespace

int main(int argc, char** argv)
{
    prepareApplication();
    QApplication application(argc, argv);

    Pty a, b;
    if (a.master < 0 || b.master < 0) {
        std::fprintf(stderr, "no pseudo-terminals available\n");
        return 1;
    }
    BenchWindow copy(QStringLiteral("COM1=%1\nCOM2=%2\n").arg(a.slave, b.slave));
    if (!copy.ok)
        return 1;
    frmMain& window = *copy.window;
    window.show();
    const auto set = [&window](const char* name, const char* text) {
        window.findChild<QComboBox*>(QString::fromLatin1(name))->setCurrentText(text);
    };
    window.findChild<QRadioButton*>("optSerial")->setChecked(true);
    set("cmbComPort", "COM1");
    set("cmbComPort2", "COM2");
    for (const char* speed : {"cmbBPS", "cmbBPS2"})
        set(speed, "256000");
    window.cmdRun_Click();
    if (!window.Relay.RelayRunning() || !relayIsUp(a.master, b.master)) {
        std::fprintf(stderr, "Nirvex relay did not start\n");
        return 1;
    }
    auto* view = window.findChild<TrafficView*>(QStringLiteral("trafficView"));

    Result shown;
    Result hidden;
    for (int round = 0; round < Rounds; ++round) {
        // Which state goes first alternates too, so neither always follows the other.
        for (const bool monitor : {round % 2 == 0, round % 2 != 0}) {
            window.ShowMonitor(monitor);
            runBesideEventLoop([&] {
                measureThroughput(a.master, b.master, RoundBytes, monitor ? &shown : &hidden);
            });
        }
    }
    window.ShowMonitor(true);
    const qsizetype retained = view->log().retained();
    window.cmdRun_Click();

    std::printf("%d alternating rounds of %lld MiB one way, serial -> serial at full "
                "pseudo-terminal speed\n",
                Rounds, RoundBytes >> 20);
    const auto print = [](const char* name, const Result& r) {
        std::printf("monitor %-6s throughput %8.2f MB/s   %s\n", name, r.megabytesPerSecond(),
                    r.intact && r.lost == 0 ? "all bytes intact" : "BYTES LOST OR CHANGED");
    };
    print("shown", shown);
    print("hidden", hidden);
    std::printf("monitor memory kept: %lld bytes (bound %lld)\n", qint64(retained),
                qint64(TrafficLog::DefaultLimit));
    std::printf("ratio shown/hidden: %.2f (goal >= 0.9)\n",
                shown.megabytesPerSecond() / hidden.megabytesPerSecond());

    // The part of the cost that is the monitor's own, without the noise of the relay: recording
    // reads of the size a pseudo-terminal delivers at full speed.
    TrafficLog log;
    const QByteArray read(4095, 'x');
    constexpr int Reads = 100000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Reads; ++i)
        log.appendBytes(TrafficLog::Direction::ToDestination, read, i / 8);
    const double ns = double(clock.nsecsElapsed());
    std::printf("recording: %.0f ns per 4095-byte read (%.0f MB/s)\n", ns / Reads,
                double(Reads) * read.size() / ns * 1e3);
    return shown.intact && hidden.intact ? 0 : 1;
}
