#pragma once

#include "core/ComError.h"
#include "core/LanLink.h"
#include "core/ModemLine.h"
#include "core/RelaySettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>

class IntervalTimer;
class PortTable;
class SerialPortControl;
class SocketControl;

// One relay without a window: opens the source port and the destination (a second port, the
// source itself, or the LAN link), moves bytes and modem lines between them with back-pressure
// per side, and reports everything a view shows through its signals.
class RelayCore : public QObject {
    Q_OBJECT
public:
    // Bytes a port or socket may have queued for sending before the side that feeds it is left
    // waiting in its own port, so a destination slower than its source costs no memory; taking
    // resumes once the queue is down to half.
    static constexpr qint64 QueueLimit = 256 * 1024;
    // How often a source waiting for the LAN socket looks at its queue again.
    static constexpr int QueueCheckMs = 10;
    // How long a stop lets the ports send what is queued before closing them.
    static constexpr int DrainMs = 1000;
    // How often a running relay tries again to open a port whose device went away.
    static constexpr int ReopenPollMs = 250;

    // Ports are opened by COM number through ports, which must outlive the core.
    explicit RelayCore(const PortTable& ports, QObject* parent = nullptr);
    ~RelayCore() override;

    // Opens the source port, then the destination the settings name; true when the relay runs.
    // In the host role, relay host settings that cannot be used refuse the start.
    // A refused start closes what it opened and says why on statusChanged. A serial destination
    // on the source's own port becomes an echo, and an echo on another port a serial one.
    bool StartRelay(const RelaySettings& settings);
    // Closes the links at once; a port with bytes still queued stays open, relaying nothing,
    // until they have gone out or DrainMs has passed.
    void StopRelay();
    // Stops a running relay and waits, with the event loop running, until its ports are closed.
    void StopAndWait();
    bool RelayRunning() const { return running; }
    // The settings of the latest start, its destination kind as the start resolved it.
    const RelaySettings& settings() const { return current; }

    // Sends the collected source bytes as DATA lines (see LanLink::FlushData).
    void FlushData() { lan.FlushData(); }
    // The host role's part of the list command: asks the relay host for its rows.
    void SendListRequest(bool all) { lan.SendListRequest(all); }
    // Handles text received on the LAN link as if a socket had delivered it.
    void ReceiveText(const QString& chunk) { lan.ReceiveText(chunk); }
    // The unfinished line received so far.
    const QString& ReceiveBuffer() const { return lan.ReceiveBuffer(); }
    // Set once the relay host has accepted this copy's ID; kept across reconnects.
    bool Authenticated() const { return authenticated; }
    // Source bytes held beyond SendBuffer while the relay host has not accepted this copy.
    qsizetype BacklogSize() const { return lan.BacklogSize(); }

    void comSer_OnComm();
    void comDest_OnComm();
    // A relay port's device went away; the port is closed already. A running relay holds what
    // would go out of it and tries to open it again every ReopenPollMs until it is back.
    void comSer_Vanished();
    void comDest_Vanished();
    // True while the relay waits for the source (or destination) port's device to come back.
    bool SourceAway() const { return sourceAway; }
    bool DestinationAway() const { return destinationAway; }
    void ForwardSerialData(const QByteArray& bytes);
    // The end of a burst on the source port: the collected bytes leave.
    void tmrSer_Timer();

    // Bytes queued for sending where the source port's bytes go (destination port, the source
    // port itself when it echoes, or the LAN socket).
    qint64 DestinationQueue() const;
    // True while the source port's (or destination port's) bytes wait for room.
    bool SourceHeld() const { return sourceHeld; }
    bool DestinationHeld() const { return destinationHeld; }

    SerialPortControl* comSer() const { return serial; }
    SerialPortControl* comDest() const { return destinationPort; }
    SocketControl* wsocLan() const { return lanSocket; }
    SocketControl* wsocServer() const { return serverSocket; }
    IntervalTimer* tmrSer() const { return burstTimer; }

    // "<prefix>[<number>:<description>]".
    static QString ErrorText(const QString& prefix, const ComError& error);
    // The status text for bytes a stop could not send.
    static QString DiscardedText(qint64 count);
    // The status text for a port opened again after its device came back ("COM3").
    static QString ReopenedText(bool source, int comPort);

    // Source bytes waiting for the next DATA line, and their count.
    std::array<uint8_t, 256> SendBuffer{};
    int16_t SendCount = 0;

signals:
    // Every status and error text of the relay.
    void statusChanged(const QString& text);
    // The lamp of bytes from the source to the destination, and the one of the other way.
    void receiveLampChanged(bool lit);
    void sendLampChanged(bool lit);
    // The LAN lamp: on while a peer is connected (in the host role, once the login is accepted).
    void lanLampChanged(bool on);
    // A LAN connection came up or ended: what the connection list can be asked for.
    void linkChanged(bool up);
    // The relay host's answer to the login: 0 accepted, 1 ID refused, else its error code.
    void loginAnswered(double code);
    // A LIST row from the relay host.
    void listRowReceived(const QString& id, const QString& key, const QString& host);
    // Bytes taken from the source port, and bytes written to it; emitted only while connected.
    void sourceBytes(const QByteArray& bytes);
    void destinationBytes(const QByteArray& bytes);
    // A modem line of a relay port changed: CTS or DSR seen, RTS or DTR set by the relay.
    void modemLineChanged(RelayPort port, ModemLine line, bool on);

private:
    friend class LanLink;

    void showStatus(const QString& text);
    // Sets the LAN socket up for the relay host as the settings ask; false, with the reason on
    // statusChanged, when they cannot be used.
    bool prepareRelayHost();
    // Configures and opens a port the way a relay start does; its lastError() tells the outcome.
    static void openPort(SerialPortControl* port, const RelaySettings::Side& side);
    // Sets RTS or DTR of port, telling a watcher when the line changes.
    void driveLine(SerialPortControl* port, ModemLine line, bool on);
    // Writes bytes to the source port, lighting the send lamp.
    void writeToSource(const QByteArray& bytes);
    // Takes and forwards every byte waiting on the source or the destination port.
    void takeSource();
    void takeDestination();
    void checkHeldSoon();
    void resumeHeld();
    qint64 queuedForSending() const;
    // While draining: ends the drain once a send event of port (or a vanished port, null) leaves
    // nothing queued.
    void drainEvent(const SerialPortControl* port);
    // Closes both ports, saying how many queued bytes went with them.
    void finishDrain();
    // One try at opening each port that went away; the watch ends once none is away.
    void reopenAway();
    // Opens port again as the start did; true when it is open.
    bool reopen(SerialPortControl* port, const RelaySettings::Side& side);
    // A CTS (signal 1) or DSR (signal 2) change of a relay port, crossed to the other side.
    void sourceLineChanged(int signal, bool on);
    void destinationLineChanged(int signal, bool on);

    RelaySettings current;
    bool running = false;
    bool authenticated = false;
    bool sourceHeld = false;
    bool destinationHeld = false;
    bool checkScheduled = false;
    // Set while a stopped relay's ports still send what was queued, until drainLimit fires.
    bool draining = false;
    QTimer drainLimit;
    bool sourceAway = false;
    bool destinationAway = false;
    QTimer reopenPoll;
    // CTS and DSR of each port as last seen, to tell what changed while a port was away.
    std::array<bool, 2> sourceInputs{};
    std::array<bool, 2> destinationInputs{};

    SerialPortControl* serial;
    SerialPortControl* destinationPort;
    SocketControl* lanSocket;
    SocketControl* serverSocket;
    IntervalTimer* burstTimer;
    LanLink lan;
};
