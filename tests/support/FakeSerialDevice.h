#pragma once

#include "FakeSerialPort.h"
#include "core/SerialDevice.h"

// An in-memory SerialDevice that attaches to the FakeSerialPort registered under its path.
class FakeSerialDevice : public SerialDevice {
    Q_OBJECT
public:
    using SerialDevice::SerialDevice;
    ~FakeSerialDevice() override { close(); }

    int open(const QString& path, const SerialFraming& framing) override;
    void close() override;
    bool isOpen() const override { return port != nullptr; }
    int setFraming(const SerialFraming& framing) override;

    qint64 bytesAvailable() const override { return input.size(); }
    QByteArray read(qint64 maxSize) override;
    bool write(const QByteArray& data) override;
    qint64 bytesToWrite() const override { return output.size(); }

    bool cts() const override { return port && port->ctsOn; }
    bool dsr() const override { return port && port->dsrOn; }
    bool rts() const override { return rtsOn; }
    bool dtr() const override { return dtrOn; }
    void setRts(bool on) override { rtsOn = on; }
    void setDtr(bool on) override { dtrOn = on; }

private:
    friend class FakeSerialPort;

    // The port went away under the open device.
    void unplug();
    void scheduleDrain();

    FakeSerialPort* port = nullptr;
    QByteArray input;
    QByteArray output;
    bool rtsOn = false;
    bool dtrOn = false;
    bool drainScheduled = false;
    // Counts opens and closes, so that a late vanished() of an earlier opening is not sent.
    int generation = 0;
};
