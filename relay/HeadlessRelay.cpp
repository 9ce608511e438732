#include "relay/HeadlessRelay.h"

#include "core/LanLink.h"
#include "core/LogLine.h"
#include "core/RelaySettings.h"
#include "core/SocketControl.h"

#include <QFile>

HeadlessRelay::HeadlessRelay(QObject* parent) : QObject(parent), core(ports)
{
    // The profile's own lines only: a device that happened to be found first at boot must never
    // take the place of the one the profile names.
    ports.setDeviceLister([] { return QList<PortTable::Device>(); });
    statusLog = connect(&core, &RelayCore::statusChanged, this, &LogLine::write);
    connect(&core, &RelayCore::lanLampChanged, this, &HeadlessRelay::lanLamp);
}

QString HeadlessRelay::unmappedText(int comPort, const QString& side, const QString& key) const
{
    if (comPort == 0)
        return QStringLiteral("%1 names no %2 port (key %3 in [%4])")
            .arg(profile, side, key, RelaySettings::Section);
    if (!ports.devicePath(comPort).isEmpty())
        return QString();
    return QStringLiteral("COM%1, the %2 port, is not mapped in the [%3] section of %4: add a "
                          "line such as COM%1=/dev/ttyUSB0")
        .arg(QString::number(comPort), side, PortTable::Section, profile);
}

int HeadlessRelay::start(const QString& profilePath)
{
    profile = profilePath;
    QFile file(profile);
    if (!file.open(QIODevice::ReadOnly)) {
        LogLine::write(
            QStringLiteral("cannot read the profile %1: %2").arg(profile, file.errorString()));
        return ProfileUnusable;
    }
    file.close();
    LogLine::write(QStringLiteral("profile %1").arg(profile));

    ports.load(profile);
    const RelaySettings settings = RelaySettings::fromProfile(profile);
    QString refusal =
        unmappedText(settings.source.comPort, QStringLiteral("source"), RelaySettings::PortKey);
    // A serial destination on the source's own number opens nothing more.
    const bool serialDestination =
        settings.kind == DestinationKind::Serial || settings.kind == DestinationKind::Echo;
    if (refusal.isEmpty() && serialDestination &&
        settings.destination.comPort != settings.source.comPort)
        refusal = unmappedText(settings.destination.comPort, QStringLiteral("destination"),
                               RelaySettings::PortKey + RelaySettings::DestinationSuffix);
    if (!refusal.isEmpty()) {
        LogLine::write(refusal);
        return ProfileUnusable;
    }

    if (!core.StartRelay(settings))
        return StartFailed;
    // A socket that failed at once (the listening port taken, an address that cannot be used)
    // will not come up by itself: a service manager must see that the start failed.
    if (core.wsocLan()->State() == SocketControl::ErrorState) {
        disconnect(statusLog);
        LogLine::write(LanLink::ErrorText(core.wsocLan()->lastError()));
        core.StopAndWait();
        return StartFailed;
    }
    return 0;
}

void HeadlessRelay::stop(const QString& reason)
{
    if (stopping)
        return;
    stopping = true;
    LogLine::write(QStringLiteral("stopping on %1").arg(reason));
    core.StopAndWait();
    LogLine::write(QStringLiteral("stopped"));
    emit finished(0);
}

void HeadlessRelay::lanLamp(bool on)
{
    if (on == linkUp)
        return;
    linkUp = on;
    LogLine::write(on ? QStringLiteral("LAN link up") : QStringLiteral("LAN link down"));
}
