#pragma once

#include "core/SerialDevice.h"

class FakeSerialPort;

// An in-memory SerialDevice that attaches to the FakeSerialPort registered under its path.
class FakeSerialDevice : public SerialDevice {
    Q_OBJECT
public:
    explicit FakeSerialDevice(QObject* parent = nullptr);
    ~FakeSerialDevice() override;

    int open(const QString& path, const SerialFraming& framing) override;
    void close() override;
    bool isOpen() const override { return port != nullptr; }
    int setFraming(const SerialFraming& framing) override;

    qint64 bytesAvailable() const override { return input.size(); }
    QByteArray read(qint64 maxSize) override;
    bool write(const QByteArray& data) override;
    qint64 bytesToWrite() const override { return output.size(); }

    bool cts() const override;
    bool dsr() const override;
    bool rts() const override { return rtsOn; }
    bool dtr() const override { return dtrOn; }
    void setRts(bool on) override;
    void setDtr(bool on) override;

private:
    friend class FakeSerialPort;

    // Calls from the port.
    void lineBytes(const QByteArray& bytes);
    void lineCts(bool on) { emit ctsChanged(on); }
    void lineDsr(bool on) { emit dsrChanged(on); }
    void portGone();
    void scheduleDrain();
    void drain();

    FakeSerialPort* port = nullptr;
    QByteArray input;
    QByteArray output;
    bool rtsOn = false;
    bool dtrOn = false;
    bool drainScheduled = false;
    int generation = 0;
};
