#include "FakeSerialPort.h"

#include "FakeSerialDevice.h"

#include <QHash>
#include <utility>

// Built on first use, so that a port made during static initialisation still finds it.
static QHash<QString, FakeSerialPort*>& registry()
{
    static QHash<QString, FakeSerialPort*> ports;
    return ports;
}

FakeSerialPort::FakeSerialPort(const QString& path, QObject* parent)
    : QObject(parent), portPath(path)
{
    registry().insert(portPath, this);
}

FakeSerialPort::~FakeSerialPort()
{
    if (device)
        device->unplug();
    if (registry().value(portPath) == this)
        registry().remove(portPath);
}

FakeSerialPort* FakeSerialPort::find(const QString& path)
{
    return registry().value(path, nullptr);
}

void FakeSerialPort::setOutputHeld(bool held)
{
    outputHeld = held;
    if (!held && device)
        device->scheduleDrain();
}

bool FakeSerialPort::pushBytes(const QByteArray& bytes)
{
    if (device && !bytes.isEmpty()) {
        device->input.append(bytes);
        emit device->dataArrived();
    }
    return device != nullptr;
}

void FakeSerialPort::setCts(bool on)
{
    if (std::exchange(ctsOn, on) != on && device)
        emit device->ctsChanged(on);
}

void FakeSerialPort::setDsr(bool on)
{
    if (std::exchange(dsrOn, on) != on && device)
        emit device->dsrChanged(on);
}

bool FakeSerialPort::rts() const
{
    return device && device->rts();
}

bool FakeSerialPort::dtr() const
{
    return device && device->dtr();
}

void FakeSerialPort::vanish()
{
    present = false;
    if (device)
        device->unplug();
}
