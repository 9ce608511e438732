#include "relay/RelayOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>

QString RelayOptions::defaultProfilePath()
{
    // Only looked up: the folder is never made, since this program never writes a profile.
    QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        config = QDir::homePath() + QLatin1String("/.config");
    return config + QLatin1String("/nirvex/nirvex.INI");
}

RelayOptions RelayOptions::parse(const QStringList& arguments)
{
    RelayOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the Nirvex relay without a window, with the settings of a profile "
                       "file, as the run button of the desktop program would."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption profile(
        QStringLiteral("profile"),
        QStringLiteral("Profile file to run (default: the desktop program's, %1).")
            .arg(defaultProfilePath()),
        QStringLiteral("FILE"));
    parser.addOption(profile);

    if (!parser.parse(arguments)) {
        options.text = parser.errorText();
        return options;
    }
    if (parser.isSet(help)) {
        options.outcome = Outcome::Help;
        options.text =
            parser.helpText() +
            QStringLiteral(
                "\nOnly ports that the profile's [Ports] section maps (a line such as "
                "COM1=/dev/ttyUSB0) are used; the profile is never written.\n"
                "Status texts go to standard error, each after a UTC time. SIGTERM or SIGINT "
                "stops the relay as the run button does and ends with exit code 0.\n"
                "A port that goes away while the relay runs is opened again, with the same "
                "settings, as soon as its device is back; the relay keeps running meanwhile.\n"
                "Exit code 1: the relay could not start (a port missing or in use, the "
                "listening port taken); 2: the profile cannot be read or names a port it does "
                "not map, or a wrong command line.\n");
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
    options.profilePath = parser.isSet(profile) ? parser.value(profile) : defaultProfilePath();
    options.outcome = Outcome::Run;
    return options;
}
