#include "FakeSerialDevice.h"

#include "core/ComError.h"

int FakeSerialDevice::open(const QString& path, const SerialFraming& framing)
{
    FakeSerialPort* target = FakeSerialPort::find(path);
    if (port)
        return ComError::PortAlreadyOpen;
    if (!target || !target->present)
        return ComError::InvalidPortNumber;
    if (target->openError != 0)
        return target->openError;
    if (target->device)
        return ComError::PortAlreadyOpen;
    port = target;
    port->device = this;
    port->rate = framing.baudRate;
    ++generation;
    input.clear();
    output.clear();
    rtsOn = false;
    dtrOn = true;
    return ComError::None;
}

void FakeSerialDevice::close()
{
    ++generation;
    if (port)
        port->device = nullptr;
    port = nullptr;
    input.clear();
    output.clear();
}

int FakeSerialDevice::setFraming(const SerialFraming&)
{
    return port ? ComError::None : ComError::PortNotOpen;
}

QByteArray FakeSerialDevice::read(qint64 maxSize)
{
    const QByteArray bytes = input.left(qMax<qint64>(maxSize, 0));
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

void FakeSerialDevice::unplug()
{
    if (!port)
        return;
    port->device = nullptr;
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

// Output leaves from the event loop, as a real line's does, unless the port holds it.
void FakeSerialDevice::scheduleDrain()
{
    if (drainScheduled || output.isEmpty())
        return;
    drainScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            drainScheduled = false;
            if (!port || port->outputHeld || output.isEmpty())
                return;
            port->sent += std::exchange(output, QByteArray());
            emit outputDrained();
        },
        Qt::QueuedConnection);
}
