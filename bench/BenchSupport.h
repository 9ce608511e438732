#pragma once

// Measuring helpers shared by the relay benchmarks: pseudo-terminals, timings, byte streams
// pushed through a relay while its event loop runs, and copies of Nirvex in child processes.
#include "HeldPort.h"
#include "PtyPair.h"
#include "TestCopy.h"
#include "core/SocketControl.h"
#include "desktop/DropDownComboBox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QLineEdit>
#include <QMetaObject>
#include <QProcess>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

// Before the application object: copies of Nirvex run without a display.
inline void prepareApplication()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The serial -> serial measurement of bench_serial and bench_headless, so that their figures
// compare: rounds, bytes one way per round, one-byte round trips per round, and the round trips
// that warm each relay up first.
constexpr int SerialRounds = 8;
constexpr qint64 SerialRoundBytes = 4LL * 1024 * 1024;
constexpr int SerialRoundSamples = 400;
constexpr int SerialWarmUpSamples = 100;

// The kit's pseudo-terminal, its master descriptor and slave path as the measuring code reads
// them: the bench keeps the master, the relay under test opens the slave.
struct Pty : PtyPair {
    const int master = masterFd();
    const QString slave = slavePath();
};

// Timings in microseconds, sorted on demand for their percentiles.
struct Samples {
    std::vector<double> us;
    double percentile(int p)
    {
        if (us.empty())
            return 0;
        std::sort(us.begin(), us.end());
        return us[std::min(us.size() - 1, us.size() * size_t(p) / 100)];
    }
};

// What one relay achieved: its timings, the bytes moved and the time taken, and whether every
// byte arrived intact.
struct Result {
    Samples latency;
    qint64 bytes = 0;
    double seconds = 0;
    bool intact = true;
    int lost = 0;

    double megabytesPerSecond() const { return seconds > 0 ? double(bytes) / seconds / 1e6 : 0; }
};

// Microseconds on a steady clock.
inline double nowUs()
{
    using namespace std::chrono;
    return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

// Waits up to timeoutMs for events on fd, resuming after signals.
inline bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int r = 0;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & events);
}

// Drops whatever is still on its way out of a relay.
inline void drain(int fd)
{
    char buffer[65536];
    for (int reads = 0; reads < 10000 && waitFor(fd, POLLIN, 100); ++reads)
        if (::read(fd, buffer, sizeof buffer) <= 0)
            break;
}

// Pushes count bytes into in while reading them back at out, checking every byte.
inline void measureThroughput(int in, int out, qint64 count, Result* result)
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

// Sends one byte at a time into in and waits for it at out.
inline void measureLatency(int in, int out, int samples, Result* result)
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
        result->latency.us.push_back(took);
    }
}

// Runs work on a thread of its own while this thread serves the event loop.
inline void runBesideEventLoop(const std::function<void()>& work)
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
inline bool relayIsUp(int in, int out)
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

// Sets one side's framing pickers to speed 8N1.
inline void setFraming8N1(QComboBox* speed, QComboBox* parity, QComboBox* bits, QComboBox* stopBits,
                          const QString& speedText)
{
    speed->setCurrentText(speedText);
    parity->setCurrentText(QStringLiteral("None"));
    bits->setCurrentText(QStringLiteral("8"));
    stopBits->setCurrentText(QStringLiteral("1"));
}

// Sets a window's relay to serial -> serial from COM1 to COM2, both sides at speed 8N1.
inline void configureSerialRelay(frmMain& window, const QString& speed)
{
    window.findChild<QRadioButton*>("optSerial")->setChecked(true);
    window.findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM1"));
    window.findChild<QComboBox*>("cmbComPort2")->setCurrentText(QStringLiteral("COM2"));
    setFraming8N1(window.findChild<QComboBox*>("cmbBPS"), window.findChild<QComboBox*>("cmbParity"),
                  window.findChild<QComboBox*>("cmbBits"),
                  window.findChild<QComboBox*>("cmbStopBits"), speed);
    setFraming8N1(window.findChild<QComboBox*>("cmbBPS2"),
                  window.findChild<QComboBox*>("cmbParity2"),
                  window.findChild<QComboBox*>("cmbBits2"),
                  window.findChild<QComboBox*>("cmbStopBits2"), speed);
}

// The kit's copy, loaded, on a profile whose [Ports] section holds portLines
// ("COM1=/dev/pts/3\n..."), under the names the benchmarks use.
struct BenchWindow : TestCopy {
    explicit BenchWindow(const QString& portLines) : TestCopy({}, portLines.toUtf8()) {}

    NirvexMain& nirvex = app;
    std::unique_ptr<frmMain>& window = w;
    const bool ok = TestCopy::ok();
};

// The body of a child process that is one copy of Nirvex: a BenchWindow on portLines, set up by
// configure and started with its run button's handler. Says "ready" once running and ends,
// stopping the relay, when its standard input closes.
inline int runCopy(const QString& portLines, const std::function<void(frmMain&)>& configure)
{
    BenchWindow copy(portLines);
    if (!copy.ok)
        return 1;
    frmMain& window = *copy.window;
    configure(window);
    window.cmdRun_Click();
    if (!window.Relay.RelayRunning())
        return 1;

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    const int code = QCoreApplication::exec();
    window.cmdRun_Click();
    return code;
}

// The body of a copy in role 1 (server) or 2 (client) on 127.0.0.1:port, its source port COM1
// on slave at speed 8N1.
inline int runLanCopy(int role, const QString& slave, int port, const QString& speed)
{
    return runCopy(QStringLiteral("COM1=%1\n").arg(slave), [&](frmMain& window) {
        window.Relay.wsocLan()->setBindAddress(QHostAddress(QHostAddress::LocalHost));
        window.findChild<QRadioButton*>("optLan")->setChecked(true);
        (role == 1 ? window.findChild<QRadioButton*>("optServer")
                   : window.findChild<QRadioButton*>("optClient"))
            ->setChecked(true);
        window.findChild<QLineEdit*>("txtPort")->setText(QString::number(port));
        window.findChild<QLineEdit*>("txtServerPort")->setText(QString::number(port));
        window.findChild<QComboBox*>("cmbDest")->setEditText(QStringLiteral("127.0.0.1"));
        window.findChild<QComboBox*>("cmbComPort")->setCurrentText(QStringLiteral("COM1"));
        setFraming8N1(window.findChild<QComboBox*>("cmbBPS"),
                      window.findChild<QComboBox*>("cmbParity"),
                      window.findChild<QComboBox*>("cmbBits"),
                      window.findChild<QComboBox*>("cmbStopBits"), speed);
    });
}

// Starts this program again with args (which select its copy mode) and waits, bounded, for
// the copy to say it is ready. Closing the process's write channel ends the copy.
inline bool startCopy(QProcess& process, const QStringList& args)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), args);
    for (int tries = 0; tries < 100 && process.state() != QProcess::NotRunning; ++tries) {
        if (process.canReadLine() || process.waitForReadyRead(100))
            if (process.readLine().startsWith("ready"))
                return true;
    }
    return false;
}

} // namespace bench
