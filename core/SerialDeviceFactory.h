#pragma once

#include "core/SerialDevice.h"

#include <QString>
#include <functional>
#include <memory>

// Chooses the device implementation for a device path.
class SerialDeviceFactory {
public:
    // Makes a closed device for a path; nullptr when no device can serve it.
    using Function = std::function<std::unique_ptr<SerialDevice>(const QString& path)>;

    // A QtSerialDevice for any non-empty path.
    static std::unique_ptr<SerialDevice> create(const QString& path);
    // What new port controls use: create, unless a test harness has put its own in place.
    static Function standard();
    // Replaces the factory new port controls use (an empty function restores create). Only a
    // test harness does this, to put in-memory devices behind the ports.
    static void setStandard(Function factory);
};
