#pragma once

#include "core/SerialDevice.h"

#include <QSerialPort>
#include <QTimer>

// A serial device under /dev driven through QSerialPort, plus the checks QSerialPort lacks.
class QtSerialDevice : public SerialDevice {
    Q_OBJECT
public:
    // Interval of the CTS/DSR poll while the device is open.
    static constexpr int LinePollMs = 10;
    // Bytes read ahead from the device at most: while the relay leaves them waiting, the rest
    // stays in the kernel, which holds back a pseudo-terminal's writer.
    static constexpr qint64 ReadBufferLimit = 64 * 1024;

    explicit QtSerialDevice(QObject* parent = nullptr);
    ~QtSerialDevice() override;

    int open(const QString& path, const SerialFraming& framing) override;
    void close() override;
    bool isOpen() const override;
    int setFraming(const SerialFraming& framing) override;

    qint64 bytesAvailable() const override;
    QByteArray read(qint64 maxSize) override;
    bool write(const QByteArray& data) override;
    qint64 bytesToWrite() const override;

    bool cts() const override { return ctsOn; }
    bool dsr() const override { return dsrOn; }
    bool rts() const override { return rtsOn; }
    bool dtr() const override { return dtrOn; }
    void setRts(bool on) override;
    void setDtr(bool on) override;

    // True while the modem lines are being polled (false for devices without modem lines).
    bool pollsModemLines() const { return linePoll.isActive(); }
    // True when the open device is the slave side of a pseudo-terminal.
    bool isPseudoTerminal() const { return pseudoTerminal; }

private:
    int openChecked(const QString& devicePath, const SerialFraming& framing);
    int mapOpenFailure(const QString& devicePath) const;
    bool applyFraming(const SerialFraming& framing);
    void setModemBit(int bit, bool on);
    // Reads CTS/DSR; false when the device has no modem lines or has gone.
    bool readModemLines(bool* cts, bool* dsr, bool* gone) const;
    void pollModemLines();
    void onPortError(QSerialPort::SerialPortError error);
    void startVanishing();

    QSerialPort port;
    QTimer linePoll;
    SerialFraming current;
    bool ctsOn = false;
    bool dsrOn = false;
    bool rtsOn = false;
    bool dtrOn = false;
    bool vanishing = false;
    bool pseudoTerminal = false;
};
