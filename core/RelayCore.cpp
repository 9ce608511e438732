#include "core/RelayCore.h"

#include "core/CharacterTime.h"
#include "core/IntervalTimer.h"
#include "core/SerialDevice.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"
#include "core/SocketErrorInfo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaMethod>
#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const QString sourceErrorPrefix = QStringLiteral("シリアルポートエラー ");
const QString destinationErrorPrefix = QStringLiteral("転送先シリアルポートエラー ");

qint64 queuedOn(const SerialPortControl* port)
{
    return port && port->device() ? port->device()->bytesToWrite() : 0;
}

} // namespace

RelayCore::RelayCore(const PortTable& ports, QObject* parent)
    : QObject(parent), serial(new SerialPortControl(this)),
      destinationPort(new SerialPortControl(this)),
      lanSocket(new SocketControl(QStringLiteral("wsocLan"), this)),
      serverSocket(new SocketControl(QStringLiteral("wsocServer"), this)),
      burstTimer(new IntervalTimer(this)), lan(*this)
{
    serial->setObjectName(QStringLiteral("comSer"));
    destinationPort->setObjectName(QStringLiteral("comDest"));
    lanSocket->setObjectName(QStringLiteral("wsocLan"));
    serverSocket->setObjectName(QStringLiteral("wsocServer"));
    for (SerialPortControl* port : {serial, destinationPort}) {
        port->setPortTable(&ports);
        port->setDTREnable(true);
        port->setRTSEnable(false);
    }
    drainLimit.setSingleShot(true);
    drainLimit.setInterval(DrainMs);
    connect(&drainLimit, &QTimer::timeout, this, [this] { finishDrain(); });
    reopenPoll.setInterval(ReopenPollMs);
    connect(&reopenPoll, &QTimer::timeout, this, &RelayCore::reopenAway);

    connect(serial, &SerialPortControl::OnComm, this, &RelayCore::comSer_OnComm);
    connect(serial, &SerialPortControl::Vanished, this, &RelayCore::comSer_Vanished);
    connect(destinationPort, &SerialPortControl::OnComm, this, &RelayCore::comDest_OnComm);
    connect(destinationPort, &SerialPortControl::Vanished, this, &RelayCore::comDest_Vanished);
    connect(burstTimer, &IntervalTimer::Timer, this, &RelayCore::tmrSer_Timer);

    connect(lanSocket, &SocketControl::ConnectionRequest, this,
            [this](int requestID) { lan.wsocLan_ConnectionRequest(requestID); });
    connect(lanSocket, &SocketControl::ConnectEvent, this, [this] { lan.wsocLan_Connect(); });
    connect(lanSocket, &SocketControl::DataArrival, this, [this] { lan.wsocLan_DataArrival(); });
    connect(lanSocket, &SocketControl::CloseEvent, this, [this] { lan.wsocLan_Close(); });
    connect(serverSocket, &SocketControl::ConnectEvent, this, [this] { lan.wsocServer_Connect(); });
    connect(serverSocket, &SocketControl::DataArrival, this,
            [this] { lan.wsocServer_DataArrival(); });
    connect(serverSocket, &SocketControl::CloseEvent, this, [this] { lan.wsocServer_Close(); });
    for (SocketControl* socket : {lanSocket, serverSocket})
        connect(socket, &SocketControl::Error, this,
                [this, socket](SocketErrorInfo& e) { lan.wsoc_Error(e, socket->tlsFailure()); });
}

RelayCore::~RelayCore() = default;

QString RelayCore::ErrorText(const QString& prefix, const ComError& error)
{
    return prefix + QLatin1Char('[') + QString::number(error.Number) + QLatin1Char(':') +
           error.Description + QLatin1Char(']');
}

QString RelayCore::DiscardedText(qint64 count)
{
    return QStringLiteral("未送信の %1 バイトを破棄しました。").arg(count);
}

QString RelayCore::ReopenedText(bool source, int comPort)
{
    return QStringLiteral("%1シリアルポート COM%2 を開き直しました。")
        .arg(source ? QString() : QStringLiteral("転送先"), QString::number(comPort));
}

void RelayCore::showStatus(const QString& text)
{
    emit statusChanged(text);
}

void RelayCore::openPort(SerialPortControl* port, const RelaySettings::Side& side)
{
    // Every step runs; a failing one leaves its error pending and the most recent one counts.
    port->setCommPort(side.comPort);
    port->setSettings(side.framingText());
    port->setInputMode(SerialPortControl::InputModeBinary);
    port->setRThreshold(1);
    port->setSThreshold(1);
    port->setPortOpen(true);
}

bool RelayCore::StartRelay(const RelaySettings& settings)
{
    if (running)
        return true;
    current = settings;
    const auto refuse = [this](const QString& prefix, const SerialPortControl* port) {
        showStatus(ErrorText(prefix, port->lastError()));
        StopRelay();
        return false;
    };
    // A new start does not wait for the last stop's ports.
    if (draining)
        finishDrain();
    if (!prepareRelayHost()) {
        StopRelay();
        return false;
    }
    serial->clearError();
    openPort(serial, current.source);
    if (serial->lastError().isError())
        return refuse(sourceErrorPrefix, serial);

    sourceInputs = {serial->CTSHolding(), serial->DSRHolding()};
    burstTimer->setInterval(CharacterTime::timerInterval(current.source.speed, current.source.bits,
                                                         current.source.stopBits));

    if (current.kind == DestinationKind::Serial || current.kind == DestinationKind::Echo)
        current.kind = serial->CommPort() == current.destination.comPort ? DestinationKind::Echo
                                                                         : DestinationKind::Serial;

    QStringList accessNotes;
    switch (current.kind) {
    case DestinationKind::Serial:
        destinationPort->clearError();
        openPort(destinationPort, current.destination);
        if (destinationPort->lastError().isError())
            return refuse(destinationErrorPrefix, destinationPort);
        destinationInputs = {destinationPort->CTSHolding(), destinationPort->DSRHolding()};
        break;
    case DestinationKind::Lan:
        // Only a copy that others connect to chooses whom it serves.
        accessNotes =
            lan.SetAllowedPeers(current.role == LanRole::Server ? current.allowedPeers : QString());
        lan.OpenLan(true);
        break;
    default:
        break;
    }

    showStatus(QStringLiteral("接続しました！"));
    // What the allow list cannot admit is said after the start, so that it stays in view.
    for (const QString& note : accessNotes)
        showStatus(note);
    running = true;
    return true;
}

bool RelayCore::prepareRelayHost()
{
    const bool hostLink = current.kind == DestinationKind::Lan && current.role == LanRole::Host;
    lanSocket->setTls(false);
    if (!hostLink)
        return true;
    if (!current.relayHost.problem.isEmpty()) {
        showStatus(current.relayHost.problem);
        return false;
    }
    if (!current.relayHost.tls)
        return true;
    QList<QSslCertificate> cas;
    if (!current.relayHost.caFile.isEmpty()) {
        cas = QSslCertificate::fromPath(current.relayHost.caFile, QSsl::Pem,
                                        QSslCertificate::PatternSyntax::FixedString);
        if (cas.isEmpty()) {
            showStatus(QStringLiteral("中継ホストの CA 証明書ファイル「%1」を読み込めません。")
                           .arg(current.relayHost.caFile));
            return false;
        }
    }
    lanSocket->setTls(true, current.relayHost.fingerprint, cas);
    return true;
}

void RelayCore::StopRelay()
{
    sourceHeld = destinationHeld = false;
    reopenPoll.stop();
    sourceAway = destinationAway = false;
    // The burst in progress ends with the relay: no tick may come after the ports are closed.
    if (burstTimer->Enabled()) {
        burstTimer->setEnabled(false);
        emit receiveLampChanged(false);
    }
    // The tail of the last burst still goes to a peer that is connected now; nothing reopens
    // the link and nothing is kept for a later relay.
    lan.FlushTail(running && current.kind == DestinationKind::Lan);

    lan.CloseLan();
    emit lanLampChanged(false);
    emit linkChanged(false);
    // A port with bytes still queued gets DrainMs to send them; the others close now.
    for (SerialPortControl* port : {serial, destinationPort})
        if (port->PortOpen() && queuedOn(port) == 0)
            port->setPortOpen(false);
    draining = queuedForSending() > 0;
    if (draining)
        drainLimit.start();
    running = false;
}

void RelayCore::StopAndWait()
{
    if (running)
        StopRelay();
    // The limit's own tick ends the wait; the deadline only guards against a lost tick.
    for (QDeadlineTimer limit(2 * DrainMs); draining && !limit.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (draining)
        finishDrain();
}

qint64 RelayCore::queuedForSending() const
{
    return queuedOn(serial) + queuedOn(destinationPort);
}

void RelayCore::drainEvent(const SerialPortControl* port)
{
    // A send event, or a port gone, may leave nothing queued: the drain is then over.
    const bool sent = !port || port->CommEvent() == SerialPortControl::EventSend;
    if (draining && sent && queuedForSending() == 0)
        finishDrain();
}

void RelayCore::finishDrain()
{
    drainLimit.stop();
    const bool wasDraining = std::exchange(draining, false);
    const qint64 dropped = queuedForSending();
    if (serial->PortOpen())
        serial->setPortOpen(false);
    if (destinationPort->PortOpen())
        destinationPort->setPortOpen(false);
    if (wasDraining && dropped > 0)
        showStatus(DiscardedText(dropped));
}

void RelayCore::comSer_OnComm()
{
    if (draining) {
        drainEvent(serial);
        return;
    }
    switch (serial->CommEvent()) {
    case SerialPortControl::EventReceive:
        if (sourceHeld || destinationAway || DestinationQueue() > QueueLimit) {
            sourceHeld = true;
            checkHeldSoon();
        } else {
            takeSource();
        }
        break;
    case SerialPortControl::EventSend:
        emit sendLampChanged(false);
        // Room again for what waits to be sent out of this port.
        resumeHeld();
        lan.ResumeReceiving();
        break;
    case SerialPortControl::EventCts:
        sourceLineChanged(1, serial->CTSHolding());
        break;
    case SerialPortControl::EventDsr:
        sourceLineChanged(2, serial->DSRHolding());
        break;
    default:
        break;
    }
}

void RelayCore::comDest_OnComm()
{
    if (draining) {
        drainEvent(destinationPort);
        return;
    }
    switch (destinationPort->CommEvent()) {
    case SerialPortControl::EventReceive:
        if (destinationHeld || sourceAway || queuedOn(serial) > QueueLimit) {
            destinationHeld = true;
            checkHeldSoon();
        } else {
            takeDestination();
        }
        break;
    case SerialPortControl::EventSend:
        resumeHeld();
        break;
    case SerialPortControl::EventCts:
        destinationLineChanged(1, destinationPort->CTSHolding());
        break;
    case SerialPortControl::EventDsr:
        destinationLineChanged(2, destinationPort->DSRHolding());
        break;
    default:
        break;
    }
}

void RelayCore::sourceLineChanged(int signal, bool on)
{
    sourceInputs[signal - 1] = on;
    emit modemLineChanged(RelayPort::Source, signal == 1 ? ModemLine::CTS : ModemLine::DSR, on);
    // The source's CTS drives RTS and its DSR drives DTR wherever its bytes go.
    if (current.kind == DestinationKind::Lan) {
        lan.SendControl(signal, on);
        return;
    }
    SerialPortControl* const out =
        current.kind == DestinationKind::Serial ? destinationPort : serial;
    driveLine(out, signal == 1 ? ModemLine::RTS : ModemLine::DTR, on);
}

void RelayCore::destinationLineChanged(int signal, bool on)
{
    destinationInputs[signal - 1] = on;
    emit modemLineChanged(RelayPort::Destination, signal == 1 ? ModemLine::CTS : ModemLine::DSR,
                          on);
    driveLine(serial, signal == 1 ? ModemLine::RTS : ModemLine::DTR, on);
}

void RelayCore::driveLine(SerialPortControl* port, ModemLine line, bool on)
{
    const bool rts = line == ModemLine::RTS;
    const bool was = rts ? port->RTSEnable() : port->DTREnable();
    if (rts)
        port->setRTSEnable(on);
    else
        port->setDTREnable(on);
    const bool now = rts ? port->RTSEnable() : port->DTREnable();
    if (was != now)
        emit modemLineChanged(port == serial ? RelayPort::Source : RelayPort::Destination, line,
                              now);
}

void RelayCore::writeToSource(const QByteArray& bytes)
{
    emit sendLampChanged(true);
    static const QMetaMethod watched = QMetaMethod::fromSignal(&RelayCore::destinationBytes);
    if (isSignalConnected(watched))
        emit destinationBytes(bytes);
    serial->Output(bytes);
}

void RelayCore::takeSource()
{
    burstTimer->setEnabled(false);
    emit receiveLampChanged(true);
    serial->setInputLen(0);
    const QByteArray bytes = serial->Input();
    if (!bytes.isEmpty()) {
        static const QMetaMethod watched = QMetaMethod::fromSignal(&RelayCore::sourceBytes);
        if (isSignalConnected(watched))
            emit sourceBytes(bytes);
        ForwardSerialData(bytes);
    }
    burstTimer->setEnabled(true);
}

void RelayCore::takeDestination()
{
    const QByteArray bytes = destinationPort->Input();
    if (!bytes.isEmpty())
        writeToSource(bytes);
}

qint64 RelayCore::DestinationQueue() const
{
    switch (current.kind) {
    case DestinationKind::Serial:
        return queuedOn(destinationPort);
    case DestinationKind::Echo:
        return queuedOn(serial);
    case DestinationKind::Lan:
        return lan.lineSocket()->bytesToWrite();
    }
    return 0;
}

void RelayCore::checkHeldSoon()
{
    // A port's send event says when its queue has emptied; a socket says nothing, so a source
    // that waits for the LAN looks again now and then.
    if (checkScheduled || !sourceHeld || current.kind != DestinationKind::Lan)
        return;
    checkScheduled = true;
    QTimer::singleShot(QueueCheckMs, this, [this] {
        checkScheduled = false;
        resumeHeld();
    });
}

void RelayCore::resumeHeld()
{
    // Nothing is taken for a port that is away: it waits where it is until the port is back.
    if (sourceHeld && !destinationAway && DestinationQueue() <= QueueLimit / 2) {
        sourceHeld = false;
        if (serial->PortOpen() && serial->device()->bytesAvailable() > 0)
            takeSource();
    }
    if (destinationHeld && !sourceAway && queuedOn(serial) <= QueueLimit / 2) {
        destinationHeld = false;
        if (destinationPort->PortOpen() && destinationPort->device()->bytesAvailable() > 0)
            takeDestination();
    }
    checkHeldSoon();
}

void RelayCore::comSer_Vanished()
{
    sourceAway = running;
    drainEvent(nullptr);
    resumeHeld();
    lan.ResumeReceiving();
    showStatus(ErrorText(sourceErrorPrefix, serial->lastError()));
    if (sourceAway)
        reopenPoll.start();
}

void RelayCore::comDest_Vanished()
{
    destinationAway = running;
    drainEvent(nullptr);
    resumeHeld();
    showStatus(ErrorText(destinationErrorPrefix, destinationPort->lastError()));
    if (destinationAway)
        reopenPoll.start();
}

bool RelayCore::reopen(SerialPortControl* port, const RelaySettings::Side& side)
{
    // RTS and DTR were kept by the control while it was closed and are set again at the open.
    port->clearError();
    openPort(port, side);
    const bool open = port->PortOpen();
    port->clearError();
    if (open)
        showStatus(ReopenedText(port == serial, side.comPort));
    return open;
}

void RelayCore::reopenAway()
{
    if (!running) {
        reopenPoll.stop();
        return;
    }
    // A missing device, one still held by another program or not yet readable is simply
    // tried again at the next tick. Input lines that differ from before the loss count as
    // changes, so the other side follows the device as it is now.
    const auto back = [this](SerialPortControl* port, const RelaySettings::Side& side,
                             std::array<bool, 2> before) {
        if (!reopen(port, side))
            return false;
        const std::array<bool, 2> now = {port->CTSHolding(), port->DSRHolding()};
        for (int signal : {1, 2}) {
            if (before[signal - 1] == now[signal - 1])
                continue;
            if (port == serial)
                sourceLineChanged(signal, now[signal - 1]);
            else
                destinationLineChanged(signal, now[signal - 1]);
        }
        return true;
    };
    if (sourceAway && back(serial, current.source, sourceInputs))
        sourceAway = false;
    if (destinationAway && current.kind == DestinationKind::Serial &&
        back(destinationPort, current.destination, destinationInputs))
        destinationAway = false;
    if (sourceAway || destinationAway)
        return;
    reopenPoll.stop();
    resumeHeld();
    lan.ResumeReceiving();
}

void RelayCore::ForwardSerialData(const QByteArray& bytes)
{
    switch (current.kind) {
    case DestinationKind::Serial:
        destinationPort->Output(bytes);
        break;
    case DestinationKind::Echo:
        writeToSource(bytes);
        break;
    case DestinationKind::Lan: {
        const LanLink::Batch batch(lan);
        constexpr int capacity = int(std::tuple_size_v<decltype(SendBuffer)>);
        if (SendCount < 0 || SendCount > capacity)
            SendCount = 0;
        const char* next = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            if (SendCount >= capacity || lan.HasBacklog()) {
                lan.FlushData();
                // A link that keeps its bytes (a host that has not accepted this copy yet)
                // leaves no room: the rest of the block waits in the link's backlog.
                if (SendCount >= capacity || lan.HasBacklog()) {
                    lan.HoldBack(next, left);
                    break;
                }
            }
            const int room = capacity - SendCount;
            const int take = int(std::min<qsizetype>(room, left));
            std::memcpy(SendBuffer.data() + SendCount, next, size_t(take));
            SendCount = int16_t(SendCount + take);
            next += take;
            left -= take;
        }
        if (SendCount >= capacity)
            lan.FlushData();
        break;
    }
    }
}

void RelayCore::tmrSer_Timer()
{
    burstTimer->setEnabled(false);
    emit receiveLampChanged(false);
    // Only a running relay sends: a tick can never reopen a link that a stop has closed.
    if (SendCount > 0 && running)
        lan.FlushData();
}
