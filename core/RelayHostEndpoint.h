#pragma once

#include <QByteArray>
#include <QString>

// Where and how the host role reaches the relay host service: the NIRVEX_RELAY_HOST environment
// variable over the profile's [RelayHost] section over the name built into the program.
class RelayHostEndpoint {
public:
    // The texts of the [RelayHost] keys; an empty text counts as a missing key.
    struct Section {
        QString host;
        QString port;
        QString tls;
        QString fingerprint;
        QString caFile;
    };

    QString host = QStringLiteral(NIRVEX_RELAY_HOST);
    int port = PlainPort;
    bool tls = false;
    // SHA-256 digest of the service's certificate (DER); empty when none is pinned.
    QByteArray fingerprint;
    // Certificates trusted in place of the system's; empty for the system's.
    QString caFile;
    // Why the values cannot be used, as the status panel shows it; empty when they can.
    QString problem;

    static constexpr int PlainPort = 10001;
    static constexpr int TlsPort = 10002;
    static inline const QString VariableName = QStringLiteral("NIRVEX_RELAY_HOST");
    static inline const QString SectionName = QStringLiteral("RelayHost");

    // The host comes from the variable ("host", "host:port", "[IPv6]:port"; an IPv6 address
    // without brackets is a host alone), else from Host=, else builtInHost; the port from the
    // variable, else from Port=, else PlainPort or TlsPort. A value that cannot be used is a
    // problem, never replaced by a default.
    bool operator==(const RelayHostEndpoint&) const = default;

    static RelayHostEndpoint resolve(const QString& variable, const Section& section,
                                     const QString& builtInHost);
    // resolve() with the process environment and the [RelayHost] section of the profile at
    // iniPath; a relative CAFile= is taken from the profile's folder.
    static RelayHostEndpoint read(const QString& iniPath);
    // 32 bytes from 64 hexadecimal digits in any case, colons and blanks between them allowed;
    // empty when the text is anything else.
    static QByteArray parseFingerprint(const QString& text);
};
