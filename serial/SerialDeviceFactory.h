#pragma once

#include "serial/SerialDevice.h"

#include <QString>
#include <functional>
#include <memory>

// Chooses the device implementation for a device path.
class SerialDeviceFactory {
public:
    // Makes a closed device for a path; nullptr when no device can serve it.
    using Function = std::function<std::unique_ptr<SerialDevice>(const QString& path)>;

    // FakeSerialDevice for paths under "fake:" or registered as a FakeSerialPort,
    // QtSerialDevice for everything else.
    static std::unique_ptr<SerialDevice> create(const QString& path);
    static Function standard() { return &SerialDeviceFactory::create; }

    static bool isFakePath(const QString& path);
};
