#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class FakeSerialDevice;

// The hardware and peer behind an in-memory serial port, played by a test or benchmark.
class FakeSerialPort : public QObject {
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
    // The output lines as the open device sets them; off while closed.
    bool rts() const;
    bool dtr() const;

    // Unplugs the device: an open device reports vanished, later opens fail with 8002.
    void vanish();

private:
    friend class FakeSerialDevice;

    QString portPath;
    FakeSerialDevice* device = nullptr;
    QByteArray sent;
    int openError = 0;
    int opens = 0;
    bool refuseFraming = false;
    bool outputHeld = false;
    bool present = true;
    bool ctsOn = false;
    bool dsrOn = false;
};
