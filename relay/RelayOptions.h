#pragma once

#include <QString>
#include <QStringList>

// The command line of nirvex-relay.
class RelayOptions {
public:
    enum class Outcome { Run, Help, Version, Error };

    // Reads the arguments (the program name first). On Run profilePath names the profile: the
    // one given, or the desktop program's profile in the user's folder.
    static RelayOptions parse(const QStringList& arguments);

    // $XDG_CONFIG_HOME/nirvex/nirvex.INI, ~/.config/nirvex/nirvex.INI when that is not set.
    static QString defaultProfilePath();

    Outcome outcome = Outcome::Error;
    QString profilePath;
    // The help text for Help, the message for Error.
    QString text;
};
