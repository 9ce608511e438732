#pragma once

#include "host/RelayHostService.h"

#include <QString>
#include <QStringList>

// The command line of nirvex-host.
class RelayHostOptions {
public:
    enum class Outcome { Run, Help, Version, Error };

    // Reads the arguments (the program name first). On Run the service settings are filled in,
    // except the accounts and the TLS configuration themselves: accountsPath, tlsCertPath and
    // tlsKeyPath name their files when given.
    static RelayHostOptions parse(const QStringList& arguments);

    // No accounts file and every address: any machine that reaches this one may log in.
    bool admitsAnyone() const;

    Outcome outcome = Outcome::Error;
    RelayHostService::Settings settings;
    QString accountsPath;
    // PEM files of the TLS certificate (chain) and its private key; empty when TLS is not served.
    QString tlsCertPath;
    QString tlsKeyPath;
    // The help text for Help, the message for Error.
    QString text;
};
