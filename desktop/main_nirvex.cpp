#include "core/UnixSignalNotifier.h"
#include "desktop/NirvexMain.h"
#include "desktop/frmMain.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

// The copy whose settings are still to be stored should the process end inside the event loop.
NirvexMain* running = nullptr;

// The window system plugin ends the process with exit() when the display goes away; the windows
// still hold everything their unload stores.
void storeAtExit()
{
    if (NirvexMain* nirvex = std::exchange(running, nullptr); nirvex && nirvex->MainForm)
        nirvex->MainForm->StoreWithoutClosing();
}

// The stop signals, less those that whoever started the program ignores (nohup, a background job
// of a script): those stay ignored.
QList<int> stopSignals()
{
    QList<int> numbers;
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(number, nullptr, &current) != 0 || current.sa_handler != SIG_IGN)
            numbers.append(number);
    }
    return numbers;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nirvex"));
    QApplication::setApplicationVersion(QStringLiteral(NIRVEX_VERSION));

    // A stop signal closes the main window as its close box does; one that arrives during
    // start-up waits for the event loop.
    UnixSignalNotifier stop(stopSignals());
    NirvexMain nirvex;
    QObject::connect(&stop, &UnixSignalNotifier::received, &app, [&nirvex] {
        if (nirvex.MainForm && nirvex.MainForm->isVisible())
            nirvex.MainForm->close();
    });
    nirvex.Main();
    running = &nirvex;
    std::atexit(storeAtExit);

    // Used by the start script on a machine without a display: saves a picture of the
    // virtual screen once the window has settled.
    const QString shot = qEnvironmentVariable("NIRVEX_SCREENSHOT");
    if (!shot.isEmpty()) {
        QTimer::singleShot(1500, &app, [shot] {
            QScreen* screen = QGuiApplication::primaryScreen();
            if (screen && screen->grabWindow(0).save(shot))
                std::fprintf(stderr, "Screenshot saved to %s\n",
                             qPrintable(QFileInfo(shot).absoluteFilePath()));
        });
    }
    const int status = app.exec();
    running = nullptr;
    return status;
}
