#include "FakeSerialPort.h"

#include "FakeSerialDevice.h"
#include "core/ComError.h"

#include <QHash>

namespace {

QHash<QString, FakeSerialPort*>& registry()
{
    static QHash<QString, FakeSerialPort*> ports;
    return ports;
}

} // namespace

FakeSerialPort::FakeSerialPort(const QString& path, QObject* parent)
    : QObject(parent), portPath(path)
{
    registry().insert(portPath, this);
}

FakeSerialPort::~FakeSerialPort()
{
    if (device)
        device->portGone();
    auto it = registry().find(portPath);
    if (it != registry().end() && it.value() == this)
        registry().erase(it);
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
    if (!device)
        return false;
    if (!bytes.isEmpty())
        device->lineBytes(bytes);
    return true;
}

QByteArray FakeSerialPort::takeWritten()
{
    QByteArray bytes;
    bytes.swap(sent);
    return bytes;
}

void FakeSerialPort::setCts(bool on)
{
    if (on == ctsOn)
        return;
    ctsOn = on;
    if (device)
        device->lineCts(on);
}

void FakeSerialPort::setDsr(bool on)
{
    if (on == dsrOn)
        return;
    dsrOn = on;
    if (device)
        device->lineDsr(on);
}

void FakeSerialPort::vanish()
{
    present = false;
    if (device) {
        FakeSerialDevice* gone = device;
        detach(gone);
        gone->portGone();
    }
}

int FakeSerialPort::attach(FakeSerialDevice* dev, const SerialFraming& framing)
{
    if (!present)
        return ComError::InvalidPortNumber;
    if (openError != 0)
        return openError;
    if (device)
        return ComError::PortAlreadyOpen;
    if (refuseFraming)
        return ComError::CommStateFailed;
    device = dev;
    lastFraming = framing;
    ++opens;
    return ComError::None;
}

void FakeSerialPort::detach(FakeSerialDevice* dev)
{
    if (device != dev)
        return;
    device = nullptr;
    setOutputLines(false, false);
}

void FakeSerialPort::receiveFromDevice(const QByteArray& bytes)
{
    sent.append(bytes);
    emit dataWritten(bytes);
}

void FakeSerialPort::setOutputLines(bool rts, bool dtr)
{
    if (rts == rtsOn && dtr == dtrOn)
        return;
    rtsOn = rts;
    dtrOn = dtr;
    emit outputLinesChanged(rts, dtr);
}
