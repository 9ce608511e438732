#include "desktop/SerialRelay.h"

#include "core/CharacterTime.h"
#include "core/ExtractNumber.h"
#include "core/IntervalTimer.h"
#include "core/PortAccess.h"
#include "core/PortTable.h"
#include "core/SerialDevice.h"
#include "core/SerialPortControl.h"
#include "core/SocketControl.h"
#include "desktop/ColorButton.h"
#include "desktop/DropDownComboBox.h"
#include "desktop/LanLink.h"
#include "desktop/NirvexMain.h"
#include "desktop/ShapeLamp.h"
#include "desktop/StatusBar.h"
#include "desktop/TagLabel.h"
#include "desktop/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const QString sourceErrorPrefix = QStringLiteral("シリアルポートエラー ");
const QString destinationErrorPrefix = QStringLiteral("転送先シリアルポートエラー ");
const QString statusKey = QStringLiteral("status");

qint64 queuedOn(const SerialPortControl* port)
{
    return port && port->device() ? port->device()->bytesToWrite() : 0;
}

} // namespace

SerialRelay::SerialRelay(frmMain& form, NirvexMain& app, LanLink& lan)
    : Beep([] { QApplication::beep(); }), form(form), app(app), lan(lan)
{
    drainLimit.setSingleShot(true);
    drainLimit.setInterval(DrainMs);
    QObject::connect(&drainLimit, &QTimer::timeout, &drainLimit, [this] { finishDrain(); });
}

QString SerialRelay::PortItemText(int n, int probeError, bool otherSide, Picker picker)
{
    if (probeError != ComError::None && probeError != ComError::PortAlreadyOpen)
        return QString();
    QString text = QStringLiteral("COM") + QString::number(n);
    if (otherSide)
        text +=
            picker == Picker::Source ? QStringLiteral(" (転送先)") : QStringLiteral(" (転送元)");
    if (probeError == ComError::PortAlreadyOpen)
        text += QStringLiteral(" (使用中)");
    return text;
}

void SerialRelay::FillPortList(DropDownComboBox* list, const SerialPortControl* probing,
                               const QComboBox* other, Picker picker)
{
    const QString remembered = list->currentText();
    QStringList items;
    deniedGroups.clear();
    for (int n = PortTable::FirstPort; n <= PortTable::LastPort; ++n) {
        const int result = probing->probe(n);
        const QString item =
            PortItemText(n, result, n == ExtractNumber(other->currentText()), picker);
        if (!item.isEmpty())
            items.append(item);
        else if (result == ComError::HardwareUnavailable && probing->table())
            deniedGroups.append(PortAccess::DeniedGroup(probing->table()->devicePath(n)));
    }
    list->clear();
    list->addItems(items);
    // A remembered text that no item carries any more leaves the picker without a selection.
    list->setCurrentIndex(list->findText(remembered, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

void SerialRelay::cmbComPort_DropDown()
{
    FillPortList(form.cmbComPort, form.comSer, form.cmbComPort2, Picker::Source);
}

void SerialRelay::cmbComPort2_DropDown()
{
    FillPortList(form.cmbComPort2, form.comDest, form.cmbComPort, Picker::Destination);
}

void SerialRelay::PortListDropDown(Picker picker)
{
    app.Ports.numberNewDevices();
    picker == Picker::Source ? cmbComPort_DropDown() : cmbComPort2_DropDown();
    const QString note = PortAccess::Note(deniedGroups);
    if (accessNoted || note.isEmpty())
        return;
    accessNoted = true;
    showStatus(note);
}

void SerialRelay::optSerial_Click()
{
    if (!form.optSerial->isChecked())
        return;
    form.frmSerial->show();
    form.frmLan->hide();
    app.DestType = 1;
}

void SerialRelay::optLan_Click()
{
    if (!form.optLan->isChecked())
        return;
    form.frmLan->show();
    form.frmSerial->hide();
    app.DestType = 3;
}

void SerialRelay::optServer_Click()
{
    if (!form.optServer->isChecked())
        return;
    form.frmServer->show();
    form.frmClient->hide();
    form.frmHost->hide();
    app.DestMode = 1;
}

void SerialRelay::optClient_Click()
{
    if (!form.optClient->isChecked())
        return;
    form.frmClient->show();
    form.frmServer->hide();
    form.frmHost->hide();
    app.DestMode = 2;
}

void SerialRelay::optHost_Click()
{
    if (!form.optHost->isChecked())
        return;
    form.frmHost->show();
    form.frmServer->hide();
    form.frmClient->hide();
    app.DestMode = 3;
}

QStringList SerialRelay::HistoryWith(const QStringList& items, const QString& text)
{
    QStringList history = items;
    const qsizetype found = history.indexOf(text); // exact and case-sensitive
    if (found >= 0)
        history.removeAt(found);
    history.prepend(text);
    while (history.size() > MaxHistory)
        history.removeLast();
    return history;
}

void SerialRelay::cmdRun_Click()
{
    if (app.RelayRunning) {
        StopRelay();
        form.cmdRun->setText(QStringLiteral("<=接続=>"));
        form.cmdRun->setBackColor(QColor(255, 192, 192));
        form.frmSer->setEnabled(true);
        form.frmDest->setEnabled(true);
        app.RelayRunning = false;
        return;
    }

    app.RelayRunning = StartRelay();
    if (!app.RelayRunning) {
        StopRelay();
        if (Beep)
            Beep();
        return;
    }

    const QString text = form.cmbDest->currentText();
    QStringList items;
    for (int i = 0; i < form.cmbDest->count(); ++i)
        items.append(form.cmbDest->itemText(i));
    form.cmbDest->clear();
    form.cmbDest->addItems(HistoryWith(items, text));
    form.cmbDest->setCurrentIndex(0);

    form.cmdRun->setText(QStringLiteral("<=切断=>"));
    form.cmdRun->setBackColor(QColor(192, 255, 192));
    form.frmSer->setEnabled(false);
    form.frmDest->setEnabled(false);
}

QString SerialRelay::FramingText(const QString& speed, const QString& parity, const QString& bits,
                                 const QString& stopBits)
{
    return speed + QLatin1Char(',') + parity.left(1) + QLatin1Char(',') + bits + QLatin1Char(',') +
           stopBits;
}

QString SerialRelay::ErrorText(const QString& prefix, const ComError& error)
{
    return prefix + QLatin1Char('[') + QString::number(error.Number) + QLatin1Char(':') +
           error.Description + QLatin1Char(']');
}

void SerialRelay::openPort(SerialPortControl* port, const QComboBox* comPort,
                           const QComboBox* speed, const QComboBox* parity, const QComboBox* bits,
                           const QComboBox* stopBits)
{
    // Every step runs; a failing one leaves its error pending and the most recent one counts.
    port->setCommPort(ExtractNumber(comPort->currentText()));
    port->setSettings(FramingText(speed->currentText(), parity->currentText(), bits->currentText(),
                                  stopBits->currentText()));
    port->setInputMode(SerialPortControl::InputModeBinary);
    port->setRThreshold(1);
    port->setSThreshold(1);
    port->setPortOpen(true);
}

void SerialRelay::showStatus(const QString& text)
{
    form.sbStatusBar->setPanelText(statusKey, text);
}

bool SerialRelay::StartRelay()
{
    // A new start does not wait for the last stop's ports.
    if (draining)
        finishDrain();
    form.comSer->clearError();
    openPort(form.comSer, form.cmbComPort, form.cmbBPS, form.cmbParity, form.cmbBits,
             form.cmbStopBits);
    if (form.comSer->lastError().isError()) {
        showStatus(ErrorText(sourceErrorPrefix, form.comSer->lastError()));
        return false;
    }

    form.tmrSer->setInterval(CharacterTime::timerInterval(
        form.cmbBPS->currentText(), form.cmbBits->currentText(), form.cmbStopBits->currentText()));

    if (app.DestType == 1 || app.DestType == 2)
        app.DestType =
            form.comSer->CommPort() == ExtractNumber(form.cmbComPort2->currentText()) ? 2 : 1;

    switch (app.DestType) {
    case 1:
        form.comDest->clearError();
        openPort(form.comDest, form.cmbComPort2, form.cmbBPS2, form.cmbParity2, form.cmbBits2,
                 form.cmbStopBits2);
        if (form.comDest->lastError().isError()) {
            showStatus(ErrorText(destinationErrorPrefix, form.comDest->lastError()));
            return false;
        }
        break;
    case 3:
        lan.OpenLan(true);
        break;
    default:
        break;
    }

    showStatus(QStringLiteral("接続しました！"));
    return true;
}

void SerialRelay::StopRelay()
{
    sourceHeld = destinationHeld = false;
    // The burst in progress ends with the relay: no tick may come after the ports are closed.
    if (form.tmrSer->Enabled()) {
        form.tmrSer->setEnabled(false);
        SetLamp(form.lblRecv, LampDark);
    }
    // The tail of the last burst still goes to a peer that is connected now; nothing reopens
    // the link and nothing is kept for a later relay.
    lan.FlushTail(app.RelayRunning && app.DestType == 3);

    lan.CloseLan();
    form.shpLan->setFillColor(QColor(192, 192, 192));
    form.mnuViewFlipList->setEnabled(false);
    // A port with bytes still queued gets DrainMs to send them; the others close now.
    for (SerialPortControl* port : {form.comSer, form.comDest})
        if (port->PortOpen() && queuedOn(port) == 0)
            port->setPortOpen(false);
    draining = queuedForSending() > 0;
    if (draining)
        drainLimit.start();
}

void SerialRelay::StopAndWait()
{
    if (app.RelayRunning)
        cmdRun_Click();
    // The limit's own tick ends the wait; the deadline only guards against a lost tick.
    for (QDeadlineTimer limit(2 * DrainMs); draining && !limit.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (draining)
        finishDrain();
}

qint64 SerialRelay::queuedForSending() const
{
    return queuedOn(form.comSer) + queuedOn(form.comDest);
}

void SerialRelay::drainEvent(const SerialPortControl* port)
{
    // A send event, or a port gone, may leave nothing queued: the drain is then over.
    const bool sent = !port || port->CommEvent() == SerialPortControl::EventSend;
    if (draining && sent && queuedForSending() == 0)
        finishDrain();
}

void SerialRelay::finishDrain()
{
    drainLimit.stop();
    const bool wasDraining = std::exchange(draining, false);
    const qint64 dropped = queuedForSending();
    if (form.comSer->PortOpen())
        form.comSer->setPortOpen(false);
    if (form.comDest->PortOpen())
        form.comDest->setPortOpen(false);
    if (wasDraining && dropped > 0)
        showStatus(DiscardedText(dropped));
}

QString SerialRelay::DiscardedText(qint64 count)
{
    return QStringLiteral("未送信の %1 バイトを破棄しました。").arg(count);
}

void SerialRelay::SetLamp(TagLabel* label, int state)
{
    if (!label || label->Tag.isEmpty())
        return;
    const QChar family = label->Tag.back();
    QColor lit;
    QColor dark;
    if (family == QLatin1Char('1')) {
        lit = QColor(64, 255, 64);
        dark = QColor(0, 64, 0);
    } else if (family == QLatin1Char('2')) {
        lit = QColor(255, 64, 64);
        dark = QColor(64, 0, 0);
    } else {
        return;
    }
    QString tag;
    QColor color;
    if (state == LampLit) {
        tag = QLatin1Char('1') + family;
        color = lit;
    } else if (state == LampDark) {
        tag = family;
        color = dark;
    } else {
        return;
    }
    // Runs for every block of data: repaint only on a change.
    if (label->Tag != tag)
        label->Tag = tag;
    if (label->BackColor() != color)
        label->setBackColor(color);
}

void SerialRelay::comSer_OnComm()
{
    SerialPortControl* const ser = form.comSer;
    if (draining) {
        drainEvent(ser);
        return;
    }
    switch (ser->CommEvent()) {
    case SerialPortControl::EventReceive:
        if (sourceHeld || DestinationQueue() > QueueLimit) {
            sourceHeld = true;
            checkHeldSoon();
        } else {
            takeSource();
        }
        break;
    case SerialPortControl::EventSend:
        SetLamp(form.lblSend, LampDark);
        // Room again for what waits to be sent out of this port.
        resumeHeld();
        lan.ResumeReceiving();
        break;
    case SerialPortControl::EventCts:
        if (app.DestType == 1)
            form.comDest->setRTSEnable(ser->CTSHolding());
        else if (app.DestType == 2)
            ser->setRTSEnable(ser->CTSHolding());
        else if (app.DestType == 3)
            lan.SendControl(1, ser->CTSHolding());
        break;
    case SerialPortControl::EventDsr:
        if (app.DestType == 1)
            form.comDest->setDTREnable(ser->DSRHolding());
        else if (app.DestType == 2)
            ser->setDTREnable(ser->DSRHolding());
        else if (app.DestType == 3)
            lan.SendControl(2, ser->DSRHolding());
        break;
    default:
        break;
    }
}

void SerialRelay::comDest_OnComm()
{
    SerialPortControl* const dest = form.comDest;
    if (draining) {
        drainEvent(dest);
        return;
    }
    switch (dest->CommEvent()) {
    case SerialPortControl::EventReceive:
        if (destinationHeld || queuedOn(form.comSer) > QueueLimit) {
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
        form.comSer->setRTSEnable(dest->CTSHolding());
        break;
    case SerialPortControl::EventDsr:
        form.comSer->setDTREnable(dest->DSRHolding());
        break;
    default:
        break;
    }
}

void SerialRelay::takeSource()
{
    SerialPortControl* const ser = form.comSer;
    form.tmrSer->setEnabled(false);
    SetLamp(form.lblRecv, LampLit);
    ser->setInputLen(0);
    const QByteArray bytes = ser->Input();
    if (!bytes.isEmpty())
        ForwardSerialData(bytes);
    form.tmrSer->setEnabled(true);
}

void SerialRelay::takeDestination()
{
    const QByteArray bytes = form.comDest->Input();
    if (bytes.isEmpty())
        return;
    SetLamp(form.lblSend, LampLit);
    form.comSer->Output(bytes);
}

qint64 SerialRelay::DestinationQueue() const
{
    switch (app.DestType) {
    case 1:
        return queuedOn(form.comDest);
    case 2:
        return queuedOn(form.comSer);
    case 3: {
        const SocketControl* socket =
            app.DestMode == 2 || app.DestMode == 3 ? form.wsocLan : form.wsocServer;
        return socket ? socket->bytesToWrite() : 0;
    }
    default:
        return 0;
    }
}

void SerialRelay::checkHeldSoon()
{
    // A port's send event says when its queue has emptied; a socket says nothing, so a source
    // that waits for the LAN looks again now and then.
    if (checkScheduled || !sourceHeld || app.DestType != 3)
        return;
    checkScheduled = true;
    QTimer::singleShot(QueueCheckMs, &form, [this] {
        checkScheduled = false;
        resumeHeld();
    });
}

void SerialRelay::resumeHeld()
{
    if (sourceHeld && DestinationQueue() <= QueueLimit / 2) {
        sourceHeld = false;
        if (form.comSer->PortOpen() && form.comSer->device()->bytesAvailable() > 0)
            takeSource();
    }
    if (destinationHeld && queuedOn(form.comSer) <= QueueLimit / 2) {
        destinationHeld = false;
        if (form.comDest->PortOpen() && form.comDest->device()->bytesAvailable() > 0)
            takeDestination();
    }
    checkHeldSoon();
}

void SerialRelay::comSer_Vanished()
{
    drainEvent(nullptr);
    resumeHeld();
    lan.ResumeReceiving();
    showStatus(ErrorText(sourceErrorPrefix, form.comSer->lastError()));
}

void SerialRelay::comDest_Vanished()
{
    drainEvent(nullptr);
    resumeHeld();
    showStatus(ErrorText(destinationErrorPrefix, form.comDest->lastError()));
}

void SerialRelay::ForwardSerialData(const QByteArray& bytes)
{
    switch (app.DestType) {
    case 1:
        form.comDest->Output(bytes);
        break;
    case 2:
        SetLamp(form.lblSend, LampLit);
        form.comSer->Output(bytes);
        break;
    case 3: {
        const LanLink::Batch batch(lan);
        constexpr int capacity = int(std::tuple_size_v<decltype(app.SendBuffer)>);
        if (app.SendCount < 0 || app.SendCount > capacity)
            app.SendCount = 0;
        const char* next = bytes.constData();
        qsizetype left = bytes.size();
        while (left > 0) {
            if (app.SendCount >= capacity || lan.HasBacklog()) {
                lan.FlushData();
                // A link that keeps its bytes (a host that has not accepted this copy yet)
                // leaves no room: the rest of the block waits in the link's backlog.
                if (app.SendCount >= capacity || lan.HasBacklog()) {
                    lan.HoldBack(next, left);
                    break;
                }
            }
            const int room = capacity - app.SendCount;
            const int take = int(std::min<qsizetype>(room, left));
            std::memcpy(app.SendBuffer.data() + app.SendCount, next, size_t(take));
            app.SendCount = int16_t(app.SendCount + take);
            next += take;
            left -= take;
        }
        if (app.SendCount >= capacity)
            lan.FlushData();
        break;
    }
    default:
        break;
    }
}

void SerialRelay::tmrSer_Timer()
{
    form.tmrSer->setEnabled(false);
    SetLamp(form.lblRecv, LampDark);
    // Only a running relay sends: a tick can never reopen a link that a stop has closed.
    if (app.SendCount > 0 && app.RelayRunning)
        lan.FlushData();
}
