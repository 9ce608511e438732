#include "core/SerialPortControl.h"

#include "core/PortTable.h"
#include "core/SerialDevice.h"

#include <limits>

namespace {

bool isCount(int value)
{
    return value >= 0 && value <= std::numeric_limits<qint16>::max();
}

} // namespace

SerialPortControl::SerialPortControl(QObject* parent)
    : QObject(parent), makeDevice(SerialDeviceFactory::standard())
{
}

SerialPortControl::~SerialPortControl()
{
    if (dev) {
        disconnect(dev, nullptr, this, nullptr);
        dev->close();
    }
}

void SerialPortControl::setDeviceFactory(SerialDeviceFactory::Function factory)
{
    makeDevice = factory ? std::move(factory) : SerialDeviceFactory::standard();
}

bool SerialPortControl::fail(int number)
{
    error = ComError::fromNumber(number);
    return false;
}

bool SerialPortControl::setCommPort(int port)
{
    if (port < std::numeric_limits<qint16>::min() || port > std::numeric_limits<qint16>::max())
        return fail(ComError::InvalidPropertyValue);
    commPort = static_cast<qint16>(port);
    return true;
}

bool SerialPortControl::setSettings(const QString& text)
{
    SerialFraming parsed;
    const int parseError = SerialFraming::parse(text, &parsed);
    if (parseError != ComError::None)
        return fail(parseError);
    if (dev) {
        const int applyError = dev->setFraming(parsed);
        if (applyError != ComError::None)
            return fail(applyError);
    }
    settings = text;
    framing = parsed;
    return true;
}

bool SerialPortControl::setInputMode(int mode)
{
    if (mode != InputModeText && mode != InputModeBinary)
        return fail(ComError::InvalidPropertyValue);
    inputMode = mode;
    return true;
}

bool SerialPortControl::setRThreshold(int count)
{
    if (!isCount(count))
        return fail(ComError::InvalidPropertyValue);
    rThreshold = count;
    return true;
}

bool SerialPortControl::setSThreshold(int count)
{
    if (!isCount(count))
        return fail(ComError::InvalidPropertyValue);
    sThreshold = count;
    return true;
}

bool SerialPortControl::setInputLen(int count)
{
    if (!isCount(count))
        return fail(ComError::InvalidPropertyValue);
    inputLen = count;
    return true;
}

bool SerialPortControl::PortOpen() const
{
    return dev != nullptr;
}

QString SerialPortControl::pathOf(int n, int* number) const
{
    *number = ComError::InvalidPortNumber;
    if (n < PortTable::FirstPort || n > PortTable::LastPort || !portTable)
        return QString();
    const QString path = portTable->devicePath(n);
    if (!path.isEmpty())
        *number = ComError::None;
    return path;
}

bool SerialPortControl::setPortOpen(bool open)
{
    if (!open) {
        closeDevice();
        return true;
    }
    if (dev)
        return fail(ComError::PortAlreadyOpen);

    int number = ComError::None;
    const QString path = pathOf(commPort, &number);
    if (path.isEmpty())
        return fail(number);
    std::unique_ptr<SerialDevice> made = makeDevice(path);
    if (!made)
        return fail(ComError::InvalidPortNumber);
    const int openError = made->open(path, framing);
    if (openError != ComError::None)
        return fail(openError);

    dev = made.release();
    dev->setParent(this);
    connect(dev, &SerialDevice::dataArrived, this, &SerialPortControl::onDataArrived);
    connect(dev, &SerialDevice::outputDrained, this, &SerialPortControl::onOutputDrained);
    connect(dev, &SerialDevice::ctsChanged, this, [this] { queueEvent(EventCts); });
    connect(dev, &SerialDevice::dsrChanged, this, [this] { queueEvent(EventDsr); });
    connect(dev, &SerialDevice::vanished, this, &SerialPortControl::onVanished);
    dev->setRts(rtsEnable);
    dev->setDtr(dtrEnable);
    if (dev->bytesAvailable() > 0)
        onDataArrived();
    return true;
}

void SerialPortControl::closeDevice()
{
    pendingEvents.clear();
    receivePending = sendPending = false;
    if (!dev)
        return;
    SerialDevice* closing = dev;
    dev = nullptr;
    disconnect(closing, nullptr, this, nullptr);
    closing->close();
    // The device may be the sender of the signal being handled.
    closing->deleteLater();
}

QByteArray SerialPortControl::Input()
{
    if (!dev) {
        fail(ComError::PortNotOpen);
        return QByteArray();
    }
    const qint64 waiting = dev->bytesAvailable();
    return dev->read(inputLen > 0 ? qMin<qint64>(inputLen, waiting) : waiting);
}

bool SerialPortControl::Output(const QByteArray& bytes)
{
    if (!dev)
        return fail(ComError::PortNotOpen);
    if (bytes.isEmpty())
        return true;
    if (!dev->write(bytes))
        return fail(ComError::HardwareUnavailable);
    return true;
}

bool SerialPortControl::CTSHolding() const
{
    return dev && dev->cts();
}

bool SerialPortControl::DSRHolding() const
{
    return dev && dev->dsr();
}

bool SerialPortControl::setRTSEnable(bool on)
{
    rtsEnable = on;
    if (dev)
        dev->setRts(on);
    return true;
}

bool SerialPortControl::setDTREnable(bool on)
{
    dtrEnable = on;
    if (dev)
        dev->setDtr(on);
    return true;
}

int SerialPortControl::probe(int n) const
{
    int number = ComError::None;
    const QString path = pathOf(n, &number);
    if (path.isEmpty())
        return number;
    std::unique_ptr<SerialDevice> device = makeDevice(path);
    if (!device)
        return ComError::InvalidPortNumber;
    const int result = device->open(path, SerialFraming());
    if (result == ComError::None)
        device->close();
    return result;
}

void SerialPortControl::queueEvent(qint16 code)
{
    pendingEvents.append(code);
    if (!deliveryScheduled) {
        deliveryScheduled = true;
        QMetaObject::invokeMethod(this, &SerialPortControl::deliverNextEvent, Qt::QueuedConnection);
    }
}

void SerialPortControl::deliverNextEvent()
{
    deliveryScheduled = false;
    if (pendingEvents.isEmpty())
        return;
    const qint16 code = pendingEvents.takeFirst();
    if (code == EventReceive)
        receivePending = false;
    else if (code == EventSend)
        sendPending = false;
    if (!pendingEvents.isEmpty()) {
        // One event per pass of the event loop, so other sources get their turn in between.
        deliveryScheduled = true;
        QMetaObject::invokeMethod(this, &SerialPortControl::deliverNextEvent, Qt::QueuedConnection);
    }
    commEvent = code;
    emit OnComm();
}

void SerialPortControl::onDataArrived()
{
    // One pending receive event covers every byte that arrives before it is handled, since a
    // read takes all waiting bytes.
    if (!dev || rThreshold <= 0 || receivePending || dev->bytesAvailable() < rThreshold)
        return;
    receivePending = true;
    queueEvent(EventReceive);
}

void SerialPortControl::onOutputDrained()
{
    if (sThreshold <= 0 || sendPending)
        return;
    sendPending = true;
    queueEvent(EventSend);
}

void SerialPortControl::onVanished()
{
    closeDevice();
    error = ComError::deviceVanished();
    emit Vanished();
}
