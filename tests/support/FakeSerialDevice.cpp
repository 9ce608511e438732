#include "FakeSerialDevice.h"

#include "FakeSerialPort.h"
#include "core/ComError.h"

FakeSerialDevice::FakeSerialDevice(QObject* parent) : SerialDevice(parent) {}

FakeSerialDevice::~FakeSerialDevice()
{
    close();
}

int FakeSerialDevice::open(const QString& path, const SerialFraming& framing)
{
    if (port)
        return ComError::PortAlreadyOpen;
    FakeSerialPort* target = FakeSerialPort::find(path);
    if (!target)
        return ComError::InvalidPortNumber;
    const int error = target->attach(this, framing);
    if (error != ComError::None)
        return error;
    port = target;
    ++generation;
    input.clear();
    output.clear();
    rtsOn = false;
    dtrOn = true;
    port->setOutputLines(rtsOn, dtrOn);
    return ComError::None;
}

void FakeSerialDevice::close()
{
    ++generation;
    if (port)
        port->detach(this);
    port = nullptr;
    input.clear();
    output.clear();
}

int FakeSerialDevice::setFraming(const SerialFraming& framing)
{
    if (!port)
        return ComError::PortNotOpen;
    if (port->refuseFraming)
        return ComError::CommStateFailed;
    port->lastFraming = framing;
    return ComError::None;
}

QByteArray FakeSerialDevice::read(qint64 maxSize)
{
    if (maxSize <= 0)
        return QByteArray();
    const QByteArray bytes = input.left(maxSize);
    input.remove(0, bytes.size());
    return bytes;
}

bool FakeSerialDevice::write(const QByteArray& data)
{
    if (!port)
        return false;
    output.append(data);
    scheduleDrain();
    return true;
}

bool FakeSerialDevice::cts() const
{
    return port && port->cts();
}

bool FakeSerialDevice::dsr() const
{
    return port && port->dsr();
}

void FakeSerialDevice::setRts(bool on)
{
    rtsOn = on;
    if (port)
        port->setOutputLines(rtsOn, dtrOn);
}

void FakeSerialDevice::setDtr(bool on)
{
    dtrOn = on;
    if (port)
        port->setOutputLines(rtsOn, dtrOn);
}

void FakeSerialDevice::lineBytes(const QByteArray& bytes)
{
    input.append(bytes);
    emit dataArrived();
}

void FakeSerialDevice::portGone()
{
    if (!port)
        return;
    port->detach(this);
    port = nullptr;
    output.clear(); // what arrived before stays readable until the owner closes
    const int openedAs = ++generation;
    QMetaObject::invokeMethod(
        this,
        [this, openedAs] {
            if (generation == openedAs)
                emit vanished();
        },
        Qt::QueuedConnection);
}

void FakeSerialDevice::scheduleDrain()
{
    if (drainScheduled || output.isEmpty())
        return;
    drainScheduled = true;
    QMetaObject::invokeMethod(this, &FakeSerialDevice::drain, Qt::QueuedConnection);
}

void FakeSerialDevice::drain()
{
    drainScheduled = false;
    if (!port || port->outputHeld || output.isEmpty())
        return;
    QByteArray bytes;
    bytes.swap(output);
    port->receiveFromDevice(bytes);
    emit outputDrained();
}
