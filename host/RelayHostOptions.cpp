#include "host/RelayHostOptions.h"

#include <QCommandLineParser>

namespace {

// A whole decimal number from `low` to `high`.
bool readCount(const QString& text, qint64 low, qint64 high, qint64* value)
{
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

} // namespace

RelayHostOptions RelayHostOptions::parse(const QStringList& arguments)
{
    RelayHostOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Relay host service for Nirvex: copies log in with \"AUTH:ID:key\", and "
                       "the DATA and CTRL lines of each copy go to the other copies that logged "
                       "in with the same key."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("TCP port to listen on (default 10001). 0 picks a free port; the port "
                       "bound is always printed on standard output as \"listening on "
                       "<address>:<port>\"."),
        QStringLiteral("N"), QStringLiteral("10001"));
    const QCommandLineOption listen(
        QStringLiteral("listen"),
        QStringLiteral("IPv4 or IPv6 address to listen on (default: every address)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption accounts(
        QStringLiteral("accounts"),
        QStringLiteral("File of \"ID=key\" lines; only those pairs may log in. Blank lines and "
                       "lines starting with # are skipped. A line \"admin:ID=key\" makes the ID "
                       "an administrator, the only kind of ID that LIST:ALL shows every group "
                       "to. Without it any ID may log in, nobody is an administrator, and "
                       "copies giving the same key relay to each other."),
        QStringLiteral("FILE"));
    const QCommandLineOption maxConnections(
        QStringLiteral("max-connections"),
        QStringLiteral("Connections held at once (default 2000). When all are held, the oldest "
                       "connection not logged in, of the address holding the most of them, is "
                       "closed to make room; a new connection is closed at once only when every "
                       "one held is logged in."),
        QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption maxPending(
        QStringLiteral("max-pending-per-address"),
        QStringLiteral("Connections from one address that have not logged in yet (default 8); "
                       "a further one closes the oldest of them once that one has had 2 seconds "
                       "to log in."),
        QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption idleTimeout(
        QStringLiteral("idle-timeout"),
        QStringLiteral("Close a connection that has not logged in after this many seconds "
                       "(default 30; 0 never)."),
        QStringLiteral("SECONDS"), QStringLiteral("30"));
    const QCommandLineOption tlsCert(
        QStringLiteral("tls-cert"),
        QStringLiteral("PEM file of the certificate (followed by its chain, if any) with which "
                       "TLS is served on the TLS port as well; needs --tls-key."),
        QStringLiteral("FILE"));
    const QCommandLineOption tlsKey(
        QStringLiteral("tls-key"),
        QStringLiteral("PEM file of the certificate's private key, not encrypted."),
        QStringLiteral("FILE"));
    const QCommandLineOption tlsPort(
        QStringLiteral("tls-port"),
        QStringLiteral("TCP port for TLS (default 10002); 0 picks a free one, printed as "
                       "\"listening with TLS on <address>:<port>\"."),
        QStringLiteral("N"), QStringLiteral("10002"));
    const QCommandLineOption noPlain(
        QStringLiteral("no-plain"),
        QStringLiteral("Serve TLS only: no clear-text port. Needs --tls-cert."));
    parser.addOptions({port, listen, accounts, maxConnections, maxPending, idleTimeout, tlsCert,
                       tlsKey, tlsPort, noPlain});

    if (!parser.parse(arguments)) {
        options.text = parser.errorText();
        return options;
    }
    if (parser.isSet(help)) {
        options.outcome = Outcome::Help;
        options.text = parser.helpText() +
                       QStringLiteral("\nReplies to AUTH: 0 logged in, 1 unknown ID or wrong key "
                                      "(the connection is closed), 3 malformed request; "
                                      "several connections may log in with the same ID.\n"
                                      "LIST lists the caller's group; LIST:ALL lists every "
                                      "group to an administrator (keys of other groups shown "
                                      "as *) and the caller's group to anyone else.\n"
                                      "Stops on SIGINT or SIGTERM. Events are logged to "
                                      "standard error.\n");
        return options;
    }
    if (parser.isSet(version)) {
        options.outcome = Outcome::Version;
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.text = QStringLiteral("Unexpected argument: %1")
                           .arg(parser.positionalArguments().constFirst());
        return options;
    }

    RelayHostService::Settings& settings = options.settings;
    qint64 number = 0;
    if (!readCount(parser.value(port), 0, 65535, &number)) {
        options.text = QStringLiteral("--port wants a number from 0 to 65535, not \"%1\"")
                           .arg(parser.value(port));
        return options;
    }
    settings.port = quint16(number);
    if (parser.isSet(listen) && !settings.address.setAddress(parser.value(listen))) {
        options.text =
            QStringLiteral("--listen wants an IP address, not \"%1\"").arg(parser.value(listen));
        return options;
    }
    if (!readCount(parser.value(maxConnections), 1, 1000000, &number)) {
        options.text = QStringLiteral("--max-connections wants a number from 1 to 1000000, not "
                                      "\"%1\"")
                           .arg(parser.value(maxConnections));
        return options;
    }
    settings.maxConnections = int(number);
    if (!readCount(parser.value(maxPending), 1, 1000000, &number)) {
        options.text = QStringLiteral("--max-pending-per-address wants a number from 1 to "
                                      "1000000, not \"%1\"")
                           .arg(parser.value(maxPending));
        return options;
    }
    settings.maxPendingPerAddress = int(number);
    if (!readCount(parser.value(idleTimeout), 0, 1000000, &number)) {
        options.text = QStringLiteral("--idle-timeout wants a number of seconds from 0 to "
                                      "1000000, not \"%1\"")
                           .arg(parser.value(idleTimeout));
        return options;
    }
    settings.idleTimeoutSeconds = int(number);
    if (parser.isSet(accounts)) {
        options.accountsPath = parser.value(accounts);
        if (options.accountsPath.isEmpty()) {
            options.text = QStringLiteral("--accounts wants a file name");
            return options;
        }
    }
    options.tlsCertPath = parser.value(tlsCert);
    options.tlsKeyPath = parser.value(tlsKey);
    if (options.tlsCertPath.isEmpty() != options.tlsKeyPath.isEmpty()) {
        options.text = QStringLiteral("--tls-cert and --tls-key go together");
        return options;
    }
    if (!readCount(parser.value(tlsPort), 0, 65535, &number)) {
        options.text = QStringLiteral("--tls-port wants a number from 0 to 65535, not \"%1\"")
                           .arg(parser.value(tlsPort));
        return options;
    }
    settings.tlsPort = quint16(number);
    settings.plain = !parser.isSet(noPlain);
    if (!settings.plain && options.tlsCertPath.isEmpty()) {
        options.text = QStringLiteral("--no-plain leaves no port without --tls-cert and --tls-key");
        return options;
    }
    if (settings.plain && !options.tlsCertPath.isEmpty() && settings.port != 0 &&
        settings.port == settings.tlsPort) {
        options.text = QStringLiteral("--port and --tls-port must differ");
        return options;
    }
    options.outcome = Outcome::Run;
    return options;
}

bool RelayHostOptions::admitsAnyone() const
{
    const QHostAddress& address = settings.address;
    return accountsPath.isEmpty() &&
           (address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
            address == QHostAddress::AnyIPv6);
}
