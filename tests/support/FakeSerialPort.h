#pragma once

#include <QObject>
#include <utility>

class FakeSerialDevice;

// The hardware and peer behind an in-memory serial port, played by a test or benchmark: while it
// lives, a FakeSerialDevice opened on its path ("fake:COM5") attaches to it.
class FakeSerialPort : public QObject {
public:
    explicit FakeSerialPort(const QString& path, QObject* parent = nullptr);
    ~FakeSerialPort() override;

    static FakeSerialPort* find(const QString& path);

    QString path() const { return portPath; }
    bool isOpen() const { return device != nullptr; }
    // Makes the next opens fail with number (0 opens normally); 8005 plays another holder.
    void setOpenError(int number) { openError = number; }
    // While held, written bytes stay in the device's output buffer.
    void setOutputHeld(bool held);

    // Bytes arriving on the line; dropped (false) while the port is closed.
    bool pushBytes(const QByteArray& bytes);
    // Every byte the device has sent so far, and taking them out.
    QByteArray written() const { return sent; }
    QByteArray takeWritten() { return std::exchange(sent, QByteArray()); }

    void setCts(bool on);
    void setDsr(bool on);
    // The output lines as the open device sets them; off while closed.
    bool rts() const;
    bool dtr() const;

    // Unplugs the device: an open device reports vanished, later opens fail with 8002.
    void vanish();
    // Plugs it in again: opens work as before.
    void plugIn() { present = true; }
    // The bit rate of the latest open or framing change.
    qint32 baudRate() const { return rate; }

private:
    friend class FakeSerialDevice;

    QString portPath;
    FakeSerialDevice* device = nullptr;
    QByteArray sent;
    int openError = 0;
    qint32 rate = 0;
    bool outputHeld = false;
    bool present = true;
    bool ctsOn = false;
    bool dsrOn = false;
};
