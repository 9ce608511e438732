#include "core/SerialDeviceFactory.h"

#include "core/QtSerialDevice.h"

#include <utility>

namespace {

SerialDeviceFactory::Function& installed()
{
    static SerialDeviceFactory::Function factory;
    return factory;
}

} // namespace

std::unique_ptr<SerialDevice> SerialDeviceFactory::create(const QString& path)
{
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<QtSerialDevice>();
}

SerialDeviceFactory::Function SerialDeviceFactory::standard()
{
    return installed() ? installed() : Function(&SerialDeviceFactory::create);
}

void SerialDeviceFactory::setStandard(Function factory)
{
    installed() = std::move(factory);
}
