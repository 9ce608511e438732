#pragma once

#include "core/SerialFraming.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class FakeSerialDevice;

// The hardware and peer behind an in-memory serial port, played by a test or benchmark.
class FakeSerialPort : public QObject {
    Q_OBJECT
public:
    // Registers the port under path (for example "fake:COM5") for as long as it lives, so that
    // a FakeSerialDevice opened on that path, by any control, attaches to it.
    explicit FakeSerialPort(const QString& path, QObject* parent = nullptr);
    ~FakeSerialPort() override;

    // The port registered under path, or nullptr.
    static FakeSerialPort* find(const QString& path);

    QString path() const { return portPath; }
    // True while a device has the port open.
    bool isOpen() const { return device != nullptr; }
    int openCount() const { return opens; }
    // The framing most recently applied by the device.
    SerialFraming framing() const { return lastFraming; }

    // Makes the next opens fail with number (0 opens normally); 8005 plays another program
    // holding the port.
    void setOpenError(int number) { openError = number; }
    // Makes opening and re-framing refuse every framing (8015).
    void setRefuseFraming(bool refuse) { refuseFraming = refuse; }
    // While held, written bytes stay in the device's output buffer.
    void setOutputHeld(bool held);

    // Bytes arriving on the line; dropped (false) while the port is closed.
    bool pushBytes(const QByteArray& bytes);
    // Every byte the device has sent so far, and taking them out.
    QByteArray written() const { return sent; }
    QByteArray takeWritten();

    void setCts(bool on);
    void setDsr(bool on);
    bool cts() const { return ctsOn; }
    bool dsr() const { return dsrOn; }
    bool rts() const { return rtsOn; }
    bool dtr() const { return dtrOn; }

    // Unplugs the device: an open device reports vanished, later opens fail with 8002.
    void vanish();
    // Plugs it back in.
    void reappear() { present = true; }
    bool isPresent() const { return present; }

signals:
    void dataWritten(const QByteArray& bytes);
    void outputLinesChanged(bool rts, bool dtr);

private:
    friend class FakeSerialDevice;

    int attach(FakeSerialDevice* dev, const SerialFraming& framing);
    void detach(FakeSerialDevice* dev);
    void receiveFromDevice(const QByteArray& bytes);
    void setOutputLines(bool rts, bool dtr);

    QString portPath;
    FakeSerialDevice* device = nullptr;
    SerialFraming lastFraming;
    QByteArray sent;
    int openError = 0;
    int opens = 0;
    bool refuseFraming = false;
    bool outputHeld = false;
    bool present = true;
    bool ctsOn = false;
    bool dsrOn = false;
    bool rtsOn = false;
    bool dtrOn = false;
};
