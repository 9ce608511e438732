#include "serial/SerialDeviceFactory.h"

#include "serial/FakeSerialDevice.h"
#include "serial/FakeSerialPort.h"
#include "serial/QtSerialDevice.h"

bool SerialDeviceFactory::isFakePath(const QString& path)
{
    return path.startsWith(QLatin1String("fake:")) || FakeSerialPort::find(path) != nullptr;
}

std::unique_ptr<SerialDevice> SerialDeviceFactory::create(const QString& path)
{
    if (path.isEmpty())
        return nullptr;
    if (isFakePath(path))
        return std::make_unique<FakeSerialDevice>();
    return std::make_unique<QtSerialDevice>();
}
