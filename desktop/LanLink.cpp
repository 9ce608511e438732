#include "desktop/LanLink.h"

#include "core/LineCodec.h"
#include "core/SerialDevice.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"
#include "core/SocketErrorInfo.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/NirvexMain.h"
#include "desktop/SerialRelay.h"
#include "desktop/ShapeLamp.h"
#include "desktop/StatusBar.h"
#include "desktop/frmMain.h"

#include <QAction>
#include <QLineEdit>
#include <QMetaMethod>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <utility>

namespace {

const QColor lampOff(192, 192, 192);
const QColor lampOn(64, 255, 64);

} // namespace

LanLink::LanLink(NirvexMain& app, frmMain& form) : app(app), form(form) {}

void LanLink::SendLine(const QString& line)
{
    QByteArray wire = line.toUtf8();
    wire.append('\n');
    sendWire(wire);
}

void LanLink::sendWire(const QByteArray& wire)
{
    // After a stop nothing may open the link again.
    if (!app.RelayRunning)
        return;
    if (!stopping)
        OpenLan(false);
    SocketControl* const socket =
        app.DestMode == 2 || app.DestMode == 3 ? form.wsocLan : form.wsocServer;
    if (!socket || socket->State() != SocketControl::Connected)
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
    static const QMetaMethod flushed = QMetaMethod::fromSignal(&LanLink::dataFlushed);
    if (isSignalConnected(flushed))
        emit dataFlushed(QByteArray(reinterpret_cast<const char*>(bytes), count));
    QByteArray wire;
    LineCodec::appendDataLine(wire, bytes, count);
    sendWire(wire);
}

void LanLink::FlushData()
{
    if (app.SendCount <= 0 && backlog.isEmpty())
        return;
    if (app.DestMode == 3 && !form.Authenticated)
        return;
    const Batch batch(*this);
    const int count = std::clamp<int>(app.SendCount, 0, LineCodec::MaxDataBytes);
    if (count > 0)
        sendData(app.SendBuffer.data(), count);
    app.SendCount = 0;
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
    emit controlSent(signal, state);
    SendLine(line);
}

QString LanLink::SplitField(const QString& text, int index)
{
    return LineCodec::SplitField(text, index);
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
        if (!bytes || !form.comSer->PortOpen())
            return;
        SerialRelay::SetLamp(form.lblSend, SerialRelay::LampLit);
        form.comSer->Output(*bytes);
    } else if (keyword == u"CTRL") {
        const QStringView signal = LineCodec::fieldView(text, 2);
        const bool on = LineCodec::fieldView(text, 3) == u"ON";
        if (signal == u"CTS")
            form.comSer->setRTSEnable(on);
        else if (signal == u"DSR")
            form.comSer->setDTREnable(on);
    } else if (keyword == u"AUTH") {
        const QStringView field = LineCodec::fieldView(text, 2);
        const double code = LineCodec::readNumber(field);
        if (code == 0) {
            form.Authenticated = true;
            setLanLamp(true);
            // What was collected while waiting for the login leaves now.
            if (app.RelayRunning && app.DestType == 3 && app.DestMode == 3)
                FlushData();
        } else if (code == 1) {
            showStatus(QStringLiteral("IDが正しくないため、接続を拒否されました。"));
        } else {
            showStatus(QStringLiteral("ホストからエラーが通知されました。[") + field.toString() +
                       QLatin1Char(']'));
        }
    } else if (keyword == u"LIST") {
        emit listRowReceived(LineCodec::SplitField(line, 2), LineCodec::SplitField(line, 3),
                             LineCodec::SplitField(line, 4));
    }
}

void LanLink::OpenLan(bool force)
{
    if (stopping)
        return;
    if (!force && (!app.RelayRunning || (app.DestMode != 2 && app.DestMode != 3)))
        return;
    SocketControl* const lan = form.wsocLan;
    if (lan->State() == SocketControl::ErrorState)
        lan->Close();
    if (lan->State() != SocketControl::Closed)
        return;
    switch (app.DestMode) {
    case 1:
        lan->setLocalPort(PortNumber(form.txtPort->text()));
        lan->Listen();
        break;
    case 2:
        lan->setLocalPort(0);
        lan->setRemoteHost(form.cmbDest->currentText());
        lan->setRemotePort(PortNumber(form.txtServerPort->text()));
        lan->Connect();
        break;
    case 3:
        lan->setLocalPort(0);
        lan->setRemoteHost(relayHost);
        lan->setRemotePort(relayPort);
        lan->Connect();
        break;
    default:
        break;
    }
}

void LanLink::wsocLan_ConnectionRequest(int requestID)
{
    SocketControl* const server = form.wsocServer;
    // A served connection that failed serves nobody: it must not lock out the next peer.
    if (server->State() == SocketControl::ErrorState)
        server->Close();
    if (server->State() != SocketControl::Closed) {
        // One peer at a time: the other learns at once that it is not served.
        SocketControl refusal(QStringLiteral("wsocServer"));
        if (refusal.Accept(requestID))
            refusal.Close();
        return;
    }
    server->setLocalPort(0);
    if (!server->Accept(requestID))
        return;
    form.mnuViewFlipList->setEnabled(true);
    setLanLamp(true);
}

void LanLink::wsocLan_Connect()
{
    form.mnuViewFlipList->setEnabled(true);
    if (app.DestMode == 3)
        SendLine(QStringLiteral("AUTH:") + form.txtID->text() + QLatin1Char(':') +
                 form.txtKey->text());
    else
        setLanLamp(true);
}

void LanLink::wsocLan_DataArrival(qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal);
    receiveFrom(form.wsocLan);
}

bool LanLink::sourceHasRoom() const
{
    const SerialDevice* port = form.comSer->device();
    return !port || port->bytesToWrite() <= SerialRelay::QueueLimit;
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
    if (roomCheckScheduled || !ReceiveHeld())
        return;
    roomCheckScheduled = true;
    QTimer::singleShot(RoomCheckMs, this, [this] {
        roomCheckScheduled = false;
        const SerialDevice* port = form.comSer->device();
        if (!port || port->bytesToWrite() <= SerialRelay::QueueLimit / 2)
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
    peerClosed(form.wsocLan);
}

void LanLink::wsocLan_Error(SocketErrorInfo& e)
{
    showStatus(ErrorText(e));
    e.CancelDisplay = true;
}

void LanLink::wsocServer_Connect()
{
    form.mnuViewFlipList->setEnabled(true);
    setLanLamp(true);
}

void LanLink::wsocServer_DataArrival(qint64 bytesTotal)
{
    Q_UNUSED(bytesTotal);
    receiveFrom(form.wsocServer);
}

void LanLink::wsocServer_Close()
{
    peerClosed(form.wsocServer);
}

void LanLink::wsocServer_Error(SocketErrorInfo& e)
{
    showStatus(ErrorText(e));
    e.CancelDisplay = true;
}

void LanLink::SendListRequest(bool all)
{
    if (app.DestMode == 3)
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
        showStatus(DroppedText(droppedBytes));
    }
}

void LanLink::FlushTail(bool sendTail)
{
    stopping = true;
    if (sendTail)
        FlushData();
    app.SendCount = 0;
    backlog = QByteArray();
    droppedBytes = 0;
    stopping = false;
}

void LanLink::CloseLan()
{
    heldSocket = nullptr;
    unread.clear();
    if (form.wsocLan->State() != SocketControl::Closed)
        form.wsocLan->Close();
    if (form.wsocServer->State() != SocketControl::Closed)
        form.wsocServer->Close();
}

void LanLink::setRelayHostEndpoint(const QString& host, int port)
{
    relayHost = host;
    relayPort = port;
}

int LanLink::PortNumber(const QString& text)
{
    const std::optional<int64_t> number = LineCodec::roundHalfEven(LineCodec::readNumber(text));
    if (!number || *number < std::numeric_limits<int32_t>::min() ||
        *number > std::numeric_limits<int32_t>::max())
        return -1;
    return int(*number);
}

QString LanLink::ErrorText(const SocketErrorInfo& e)
{
    return e.Source + QLatin1Char(':') + QString::number(e.Number) + QLatin1Char(':') +
           e.Description + QLatin1Char(':') + QString::number(e.Scode);
}

QString LanLink::DroppedText(qint64 count)
{
    return QStringLiteral("ホストの認証を待つ間に送信待ちのデータがあふれたため、%1 "
                          "バイトを破棄しました。")
        .arg(count);
}

void LanLink::setLanLamp(bool connected)
{
    form.shpLan->setFillColor(connected ? lampOn : lampOff);
}

void LanLink::connectionEnded()
{
    form.mnuViewFlipList->setEnabled(false);
    setLanLamp(false);
}

void LanLink::showStatus(const QString& text)
{
    form.sbStatusBar->setPanelText(QStringLiteral("status"), text);
}
