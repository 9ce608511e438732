#include "core/LanLink.h"

#include "core/LineCodec.h"
#include "core/RelayCore.h"
#include "core/SerialDevice.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"
#include "core/SocketErrorInfo.h"

#include <QTimer>
#include <algorithm>
#include <utility>

LanLink::LanLink(RelayCore& core) : core(core) {}

bool LanLink::hostRole() const
{
    return core.current.role == LanRole::Host;
}

SocketControl* LanLink::lineSocket() const
{
    const LanRole role = core.current.role;
    return role == LanRole::Client || role == LanRole::Host ? core.lanSocket : core.serverSocket;
}

void LanLink::SendLine(const QString& line)
{
    QByteArray wire = line.toUtf8();
    wire.append('\n');
    sendWire(wire);
}

void LanLink::sendWire(const QByteArray& wire)
{
    // After a stop nothing may open the link again.
    if (!core.running)
        return;
    if (!stopping)
        OpenLan(false);
    SocketControl* const socket = lineSocket();
    if (socket->State() != SocketControl::Connected)
        return;
    if (batchDepth > 0) {
        if (batchSocket != socket)
            sendBatched();
        batchSocket = socket;
        batched.append(wire);
        return;
    }
    socket->SendBytes(wire);
}

void LanLink::endBatch()
{
    if (--batchDepth == 0)
        sendBatched();
}

void LanLink::sendBatched()
{
    SocketControl* const socket = std::exchange(batchSocket, nullptr);
    if (socket && !batched.isEmpty() && socket->State() == SocketControl::Connected)
        socket->SendBytes(batched);
    batched.clear();
}

void LanLink::sendData(const uint8_t* bytes, int count)
{
    QByteArray wire;
    LineCodec::appendDataLine(wire, bytes, count);
    sendWire(wire);
}

void LanLink::FlushData()
{
    if (core.SendCount <= 0 && backlog.isEmpty())
        return;
    if (hostRole() && !core.authenticated)
        return;
    const Batch batch(*this);
    const int count = std::clamp<int>(core.SendCount, 0, LineCodec::MaxDataBytes);
    if (count > 0)
        sendData(core.SendBuffer.data(), count);
    core.SendCount = 0;
    if (backlog.isEmpty())
        return;
    // Everything held back arrived after the bytes of SendBuffer.
    const QByteArray held = std::exchange(backlog, QByteArray());
    droppedBytes = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(held.constData());
    for (qsizetype at = 0; at < held.size(); at += LineCodec::MaxDataBytes)
        sendData(bytes + at, int(std::min<qsizetype>(LineCodec::MaxDataBytes, held.size() - at)));
}

void LanLink::SendControl(int signal, bool state)
{
    FlushData();
    QString line;
    if (signal == 1)
        line = state ? QStringLiteral("CTRL:CTS:ON") : QStringLiteral("CTRL:CTS:OFF");
    else if (signal == 2)
        line = state ? QStringLiteral("CTRL:DSR:ON") : QStringLiteral("CTRL:DSR:OFF");
    else
        return;
    SendLine(line);
}

void LanLink::ReceiveText(const QString& chunk)
{
    receiver.feed(chunk, [this](const QString& line) { HandleMessage(line); });
}

void LanLink::HandleMessage(const QString& line)
{
    const QStringView text(line);
    const QStringView keyword = LineCodec::fieldView(text, 1);
    if (keyword == u"DATA") {
        const std::optional<QByteArray> bytes = LineCodec::decodeDataLine(text);
        // A count that makes no byte array, or a port that cannot take the bytes: ignored.
        if (!bytes || !core.serial->PortOpen())
            return;
        core.writeToSource(*bytes);
    } else if (keyword == u"CTRL") {
        const QStringView signal = LineCodec::fieldView(text, 2);
        const bool on = LineCodec::fieldView(text, 3) == u"ON";
        if (signal == u"CTS")
            core.driveLine(core.serial, ModemLine::RTS, on);
        else if (signal == u"DSR")
            core.driveLine(core.serial, ModemLine::DTR, on);
    } else if (keyword == u"AUTH") {
        const QStringView field = LineCodec::fieldView(text, 2);
        const double code = LineCodec::readNumber(field);
        emit core.loginAnswered(code);
        if (code == 0) {
            core.authenticated = true;
            emit core.lanLampChanged(true);
            // What was collected while waiting for the login leaves now.
            if (core.running && core.current.kind == DestinationKind::Lan && hostRole())
                FlushData();
        } else if (code == 1) {
            core.showStatus(QStringLiteral("IDが正しくないため、接続を拒否されました。"));
        } else {
            core.showStatus(QStringLiteral("ホストからエラーが通知されました。[") +
                            field.toString() + QLatin1Char(']'));
        }
    } else if (keyword == u"LIST") {
        emit core.listRowReceived(LineCodec::SplitField(line, 2), LineCodec::SplitField(line, 3),
                                  LineCodec::SplitField(line, 4));
    }
}

void LanLink::OpenLan(bool force)
{
    if (stopping)
        return;
    const LanRole role = core.current.role;
    if (!force && (!core.running || (role != LanRole::Client && role != LanRole::Host)))
        return;
    SocketControl* const lan = core.lanSocket;
    if (lan->State() == SocketControl::ErrorState)
        lan->Close();
    if (lan->State() != SocketControl::Closed)
        return;
    switch (role) {
    case LanRole::Server:
        lan->setLocalPort(core.current.listenPort);
        lan->Listen();
        break;
    case LanRole::Client:
        lan->setLocalPort(0);
        lan->setRemoteHost(core.current.peerHost);
        lan->setRemotePort(core.current.peerPort);
        lan->Connect();
        break;
    case LanRole::Host:
        lan->setLocalPort(0);
        lan->setRemoteHost(core.current.relayHost.host);
        lan->setRemotePort(core.current.relayHost.port);
        lan->Connect();
        break;
    }
}

QStringList LanLink::SetAllowedPeers(const QString& text)
{
    allowedPeers = PeerAllowList::parse(text);
    QStringList notes;
    if (!allowedPeers.unreadable().isEmpty())
        notes.append(UnreadableEntriesText(allowedPeers.unreadable()));
    if (allowedPeers.restricts() && allowedPeers.networks().isEmpty())
        notes.append(NobodyAllowedText());
    return notes;
}

void LanLink::turnAway(int requestID)
{
    SocketControl refusal(QStringLiteral("wsocServer"));
    if (refusal.Accept(requestID))
        refusal.Close();
}

void LanLink::wsocLan_ConnectionRequest(int requestID)
{
    // Checked before anything else: a peer from elsewhere never touches the served one.
    if (allowedPeers.restricts()) {
        const QHostAddress peer = core.lanSocket->RequestAddress(requestID);
        if (!allowedPeers.allows(peer)) {
            turnAway(requestID);
            if (!peer.isNull()) // else the request is gone already
                core.showStatus(TurnedAwayText(SocketControl::displayAddress(peer)));
            return;
        }
    }
    SocketControl* const server = core.serverSocket;
    // A served connection that failed serves nobody: it must not lock out the next peer.
    if (server->State() == SocketControl::ErrorState)
        server->Close();
    if (server->State() != SocketControl::Closed) {
        // One peer at a time: the other learns at once that it is not served.
        turnAway(requestID);
        return;
    }
    server->setLocalPort(0);
    if (!server->Accept(requestID))
        return;
    emit core.linkChanged(true);
    emit core.lanLampChanged(true);
}

void LanLink::wsocLan_Connect()
{
    emit core.linkChanged(true);
    if (hostRole())
        SendLine(QStringLiteral("AUTH:") + core.current.hostId + QLatin1Char(':') +
                 core.current.hostKey);
    else
        emit core.lanLampChanged(true);
}

void LanLink::wsocLan_DataArrival()
{
    receiveFrom(core.lanSocket);
}

bool LanLink::sourceHasRoom() const
{
    // While the source port's device is away, what the peer sends stays in the socket: TCP holds
    // the peer back, and the lines reach the port once it is open again.
    if (core.sourceAway)
        return false;
    const SerialDevice* port = core.serial->device();
    return !port || port->bytesToWrite() <= RelayCore::QueueLimit;
}

void LanLink::receiveFrom(SocketControl* socket)
{
    if (ReceiveHeld() || !sourceHasRoom()) {
        if (!heldSocket)
            heldSocket = socket;
        checkRoomSoon();
        return;
    }
    take(socket->GetData(), socket);
}

void LanLink::checkRoomSoon()
{
    // The port's send event comes only once its queue is empty, and refilling from empty leaves
    // the port idle while the text is decoded: taking resumes once the queue is down to half.
    if (roomCheckScheduled || !ReceiveHeld() || core.sourceAway)
        return;
    roomCheckScheduled = true;
    QTimer::singleShot(RoomCheckMs, &core, [this] {
        roomCheckScheduled = false;
        const SerialDevice* port = core.serial->device();
        if (!port || port->bytesToWrite() <= RelayCore::QueueLimit / 2)
            ResumeReceiving();
        checkRoomSoon();
    });
}

void LanLink::take(const QString& text, SocketControl* socket)
{
    // One short DATA line may ask for 32767 bytes: the port's queue is looked at after every
    // line, not once per chunk, so a flood of them waits here as text instead of as bytes.
    const qsizetype used = receiver.feed(text, [this](const QString& line) {
        HandleMessage(line);
        return sourceHasRoom();
    });
    if (used < text.size()) {
        unread = text.sliced(used);
        if (socket && !heldSocket)
            heldSocket = socket;
        checkRoomSoon();
    }
}

void LanLink::ResumeReceiving()
{
    if (core.sourceAway)
        return;
    if (!unread.isEmpty()) {
        take(std::exchange(unread, QString()), nullptr);
        if (!unread.isEmpty())
            return;
    }
    if (heldSocket && sourceHasRoom()) {
        SocketControl* const socket = std::exchange(heldSocket, nullptr);
        take(socket->GetData(), socket);
    }
}

void LanLink::peerClosed(SocketControl* socket)
{
    // What came before the close still reaches the port, as room allows.
    if (heldSocket == socket) {
        heldSocket = nullptr;
        unread.append(socket->GetData());
        ResumeReceiving();
    }
    connectionEnded();
    socket->Close();
}

void LanLink::wsocLan_Close()
{
    peerClosed(core.lanSocket);
}

void LanLink::wsocServer_Connect()
{
    emit core.linkChanged(true);
    emit core.lanLampChanged(true);
}

void LanLink::wsocServer_DataArrival()
{
    receiveFrom(core.serverSocket);
}

void LanLink::wsocServer_Close()
{
    peerClosed(core.serverSocket);
}

void LanLink::wsoc_Error(SocketErrorInfo& e, SocketControl::TlsFailure failure)
{
    core.showStatus(failure == SocketControl::TlsFailure::None ? ErrorText(e)
                                                               : TlsFailureText(failure));
    e.CancelDisplay = true;
}

void LanLink::SendListRequest(bool all)
{
    if (hostRole())
        SendLine(all ? QStringLiteral("LIST:ALL") : QStringLiteral("LIST"));
}

void LanLink::HoldBack(const char* bytes, qsizetype count)
{
    if (count <= 0)
        return;
    const qsizetype take = std::clamp<qsizetype>(BacklogLimit - backlog.size(), 0, count);
    backlog.append(bytes, take);
    if (take < count) {
        droppedBytes += count - take;
        core.showStatus(DroppedText(droppedBytes));
    }
}

void LanLink::FlushTail(bool sendTail)
{
    stopping = true;
    if (sendTail)
        FlushData();
    core.SendCount = 0;
    backlog = QByteArray();
    droppedBytes = 0;
    stopping = false;
}

void LanLink::CloseLan()
{
    heldSocket = nullptr;
    unread.clear();
    if (core.lanSocket->State() != SocketControl::Closed)
        core.lanSocket->Close();
    if (core.serverSocket->State() != SocketControl::Closed)
        core.serverSocket->Close();
}

QString LanLink::ErrorText(const SocketErrorInfo& e)
{
    return e.Source + QLatin1Char(':') + QString::number(e.Number) + QLatin1Char(':') +
           e.Description + QLatin1Char(':') + QString::number(e.Scode);
}

QString LanLink::TlsFailureText(SocketControl::TlsFailure failure)
{
    switch (failure) {
    case SocketControl::TlsFailure::Untrusted:
        return QStringLiteral("中継ホストの証明書が信頼できないため、暗号化接続を中止しました。");
    case SocketControl::TlsFailure::NameMismatch:
        return QStringLiteral("中継ホストの証明書が接続先の名前と一致しないため、暗号化接続を中止"
                              "しました。");
    case SocketControl::TlsFailure::FingerprintMismatch:
        return QStringLiteral("中継ホストの証明書のフィンガープリントが設定と一致しないため、暗号化"
                              "接続を中止しました。");
    case SocketControl::TlsFailure::Handshake:
    case SocketControl::TlsFailure::None:
        break;
    }
    return QStringLiteral("中継ホストとの暗号化のハンドシェイクに失敗しました。");
}

QString LanLink::DroppedText(qint64 count)
{
    return QStringLiteral("ホストの認証を待つ間に送信待ちのデータがあふれたため、%1 "
                          "バイトを破棄しました。")
        .arg(count);
}

QString LanLink::TurnedAwayText(const QString& address)
{
    return QStringLiteral("許可されていない %1 からの接続を拒否しました。").arg(address);
}

QString LanLink::UnreadableEntriesText(const QStringList& entries)
{
    return QStringLiteral("接続を許可するアドレスの %1 を読めないため、無視しました。")
        .arg(entries.join(QStringLiteral("、")));
}

QString LanLink::NobodyAllowedText()
{
    return QStringLiteral("接続を許可するアドレスがないため、すべての接続を拒否します。");
}

void LanLink::connectionEnded()
{
    emit core.linkChanged(false);
    emit core.lanLampChanged(false);
}
