// nirvex-host: the relay host service that copies of Nirvex in the host role log in to.
#include "core/UnixSignalNotifier.h"
#include "host/RelayHostAccounts.h"
#include "host/RelayHostLog.h"
#include "host/RelayHostOptions.h"
#include "host/RelayHostService.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Descriptors kept beside the connections: the listener, the signal pair, standard streams.
constexpr rlim_t SpareDescriptors = 64;

// Raises the open-file limit to what the connection limit needs, or lowers the connection limit
// to what the system allows, so that accepting never runs out of descriptors.
int fitDescriptorLimit(int maxConnections)
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return maxConnections;
    const rlim_t wanted = rlim_t(maxConnections) + SpareDescriptors;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : qMin(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        const int fitting =
            int(qMax<rlim_t>(limit.rlim_cur, SpareDescriptors + 1) - SpareDescriptors);
        RelayHostLog::write(QStringLiteral("only %1 open files allowed: at most %2 connections")
                                .arg(qulonglong(limit.rlim_cur))
                                .arg(fitting));
        return fitting;
    }
    return maxConnections;
}

QString endpoint(const QHostAddress& address, quint16 port)
{
    if (address == QHostAddress::Any)
        return QStringLiteral("[::]:") + QString::number(port);
    bool v4Address = false;
    const quint32 v4 = address.toIPv4Address(&v4Address);
    if (v4Address)
        return QHostAddress(v4).toString() + QLatin1Char(':') + QString::number(port);
    return QLatin1Char('[') + address.toString() + QLatin1String("]:") + QString::number(port);
}

// The server side of TLS from PEM files: the certificate with its chain, and the private key.
std::optional<QSslConfiguration> serverTls(const QString& certPath, const QString& keyPath,
                                           QString* error)
{
    if (!QSslSocket::supportsSsl()) {
        *error = QStringLiteral("TLS is not available (is libssl3 installed?)");
        return std::nullopt;
    }
    const QList<QSslCertificate> chain =
        QSslCertificate::fromPath(certPath, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (chain.isEmpty()) {
        *error = QStringLiteral("no PEM certificate in %1").arg(certPath);
        return std::nullopt;
    }
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(keyPath, keyFile.errorString());
        return std::nullopt;
    }
    const QByteArray pem = keyFile.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        *error = QStringLiteral("no unencrypted PEM private key in %1").arg(keyPath);
        return std::nullopt;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificateChain(chain);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    return config;
}

} // namespace

int main(int argc, char** argv)
{
    // A closed log or output pipe must not end the service.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nirvex-host"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIRVEX_VERSION));

    RelayHostOptions options = RelayHostOptions::parse(QCoreApplication::arguments());
    switch (options.outcome) {
    case RelayHostOptions::Outcome::Help:
        std::fputs(qPrintable(options.text), stdout);
        return 0;
    case RelayHostOptions::Outcome::Version:
        std::printf("nirvex-host %s\n", NIRVEX_VERSION);
        return 0;
    case RelayHostOptions::Outcome::Error:
        std::fprintf(stderr, "nirvex-host: %s\nTry nirvex-host --help.\n",
                     qPrintable(options.text));
        return 2;
    case RelayHostOptions::Outcome::Run:
        break;
    }

    RelayHostService::Settings& settings = options.settings;
    if (!options.accountsPath.isEmpty()) {
        QString error;
        QStringList problems;
        settings.accounts = RelayHostAccounts::load(options.accountsPath, &error, &problems);
        for (const QString& problem : std::as_const(problems))
            RelayHostLog::write(
                QStringLiteral("accounts file %1: %2").arg(options.accountsPath, problem));
        // Starting without the list would let every ID in.
        if (!settings.accounts) {
            RelayHostLog::write(QStringLiteral("cannot read accounts file %1: %2")
                                    .arg(options.accountsPath, error));
            return 1;
        }
        RelayHostLog::write(QStringLiteral("%1 accounts, %2 of them administrators, from %3")
                                .arg(settings.accounts->size())
                                .arg(settings.accounts->administratorCount())
                                .arg(options.accountsPath));
    }
    if (options.admitsAnyone())
        RelayHostLog::write(QStringLiteral("warning: no accounts file and listening on every "
                                           "address: any ID may log in from any machine that "
                                           "reaches this one (see --accounts and --listen)"));
    if (!options.tlsCertPath.isEmpty()) {
        QString error;
        settings.tls = serverTls(options.tlsCertPath, options.tlsKeyPath, &error);
        if (!settings.tls) {
            RelayHostLog::write(QStringLiteral("cannot serve TLS: %1").arg(error));
            return 1;
        }
    }
    settings.maxConnections = fitDescriptorLimit(settings.maxConnections);

    UnixSignalNotifier stopSignals({SIGINT, SIGTERM});
    if (!stopSignals.isValid())
        RelayHostLog::write(QStringLiteral("cannot catch SIGINT and SIGTERM"));
    QObject::connect(&stopSignals, &UnixSignalNotifier::received, &app, [](int number) {
        RelayHostLog::write(
            QStringLiteral("stopping on %1")
                .arg(number == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM")));
        QCoreApplication::quit();
    });

    const QString wanted = endpoint(settings.address, settings.port);
    RelayHostService service(std::move(settings));
    QString error;
    if (!service.listen(&error)) {
        RelayHostLog::write(QStringLiteral("cannot listen on %1: %2").arg(wanted, error));
        return 1;
    }
    // One line per port served, the clear-text one first.
    QStringList lines;
    if (service.port() != 0)
        lines << QStringLiteral("listening on ") + endpoint(service.address(), service.port());
    if (service.tlsPort() != 0)
        lines << QStringLiteral("listening with TLS on ") +
                     endpoint(service.address(), service.tlsPort());
    for (const QString& line : std::as_const(lines)) {
        std::printf("%s\n", qPrintable(line));
        RelayHostLog::write(line);
    }
    std::fflush(stdout);

    const int status = app.exec();
    RelayHostLog::write(
        QStringLiteral("stopped with %1 connections open").arg(service.connectionCount()));
    return status;
}
