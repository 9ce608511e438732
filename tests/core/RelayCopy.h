#pragma once

#include "FakeSerialPort.h"
#include "PtyPair.h"
#include "ScriptedPeer.h"

#include "core/IntervalTimer.h"
#include "core/PortTable.h"
#include "core/RelayCore.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"

#include <QHostAddress>
#include <QMap>

// One copy's relay without a window: its own port table with COM numbers mapped by hand, source
// COM1 and destination COM2 at 8N1, sockets on 127.0.0.1, and what its signals said last.
struct RelayCopy {
    PortTable ports;
    RelayCore core{ports};
    RelaySettings settings;
    QString status;
    bool lanLamp = false;
    bool link = false;
    bool receiveLit = false;
    bool sendLit = false;

    explicit RelayCopy(const QMap<int, QString>& map,
                       DestinationKind kind = DestinationKind::Serial,
                       LanRole role = LanRole::Client, const QString& speed = "9600")
    {
        ports.setDeviceLister([] { return QList<PortTable::Device>(); });
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            ports.setEntry(it.key(), it.value());
        settings.source = {1, speed, "None", "8", "1"};
        settings.destination = {2, "9600", "None", "8", "1"};
        settings.kind = kind;
        settings.role = role;
        settings.listenPort = 0;
        core.wsocLan()->setBindAddress(QHostAddress(QHostAddress::LocalHost));
        const auto keep = [this](auto signal, auto* field) {
            QObject::connect(&core, signal, &core, [field](auto value) { *field = value; });
        };
        keep(&RelayCore::statusChanged, &status);
        keep(&RelayCore::lanLampChanged, &lanLamp);
        keep(&RelayCore::linkChanged, &link);
        keep(&RelayCore::receiveLampChanged, &receiveLit);
        keep(&RelayCore::sendLampChanged, &sendLit);
    }
    bool start() { return core.StartRelay(settings); }
    // Keeps the source timer from ending the burst until its interval is set again.
    void holdBurst() { core.tmrSer()->setInterval(3600 * 1000); }
    int listeningPort() const { return core.wsocLan()->LocalPort(); }
    bool portsClosed() const { return !core.comSer()->PortOpen() && !core.comDest()->PortOpen(); }
};

// A LAN copy on a fake source port, started against a scripted peer: a relay host (host role,
// 110 bit/s so a burst stays open) or a server copy (client role).
struct PeerCopy {
    FakeSerialPort port{QStringLiteral("fake:lanCopy")};
    ScriptedPeer peer;
    RelayCopy c;

    explicit PeerCopy(LanRole role)
        : c({{1, port.path()}}, DestinationKind::Lan, role, QStringLiteral("110"))
    {
        c.settings.relayHost.host = c.settings.peerHost = QStringLiteral("127.0.0.1");
        c.settings.relayHost.port = c.settings.peerPort = peer.port();
        c.start();
    }
    // The nth connection (1-based) has sent its login.
    bool loggedIn(int n) const
    {
        return peer.connections() == n && peer.lines().value(0) == "AUTH:Guest:Vorm";
    }
};
