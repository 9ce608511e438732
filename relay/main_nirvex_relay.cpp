// nirvex-relay: the relay of Nirvex without a window, run from a profile file.
#include "core/LogLine.h"
#include "core/UnixSignalNotifier.h"
#include "relay/HeadlessRelay.h"
#include "relay/RelayOptions.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    // A closed log pipe must not end the relay.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nirvex-relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIRVEX_VERSION));

    const RelayOptions options = RelayOptions::parse(QCoreApplication::arguments());
    switch (options.outcome) {
    case RelayOptions::Outcome::Help:
        std::fputs(qPrintable(options.text), stdout);
        return 0;
    case RelayOptions::Outcome::Version:
        std::printf("nirvex-relay %s\n", NIRVEX_VERSION);
        return 0;
    case RelayOptions::Outcome::Error:
        std::fprintf(stderr, "nirvex-relay: %s\nTry nirvex-relay --help.\n",
                     qPrintable(options.text));
        return 2;
    case RelayOptions::Outcome::Run:
        break;
    }

    UnixSignalNotifier stopSignals({SIGINT, SIGTERM});
    if (!stopSignals.isValid())
        LogLine::write(QStringLiteral("cannot catch SIGINT and SIGTERM"));
    HeadlessRelay relay;
    QObject::connect(&stopSignals, &UnixSignalNotifier::received, &relay, [&relay](int number) {
        relay.stop(number == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
    });
    QObject::connect(&relay, &HeadlessRelay::finished, &app, &QCoreApplication::exit);
    if (const int failure = relay.start(options.profilePath))
        return failure;
    return QCoreApplication::exec();
}
