#pragma once

#include "core/SerialFraming.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The device underneath a serial port control: one open port, its data and its modem lines.
//
// Contract of every implementation:
// - open() returns 0 or a ComError number: 8002 the device does not exist, 8005 another
//   program (or another control) holds it, 8015 the device refused the framing, 8010 any other
//   failure. After a failed open the device is closed and can be opened again.
// - An open device starts with DTR on and RTS off. Devices without modem lines (pseudo-
//   terminals) read CTS and DSR as off and ignore setRts/setDtr without an error.
// - Received bytes are kept until read: read() and readAll() hand each byte out exactly once,
//   in arrival order. dataArrived() is emitted after new bytes were added.
// - write() queues the whole block; outputDrained() is emitted once bytesToWrite() has fallen
//   to 0 after a write.
// - ctsChanged()/dsrChanged() are emitted when an input line changes while open, never for
//   the state found at open.
// - vanished() is emitted once when the device disappears while open (unplugged, peer of a
//   pseudo-terminal closed); the device is closed by then and emits nothing more. It is
//   delivered from the event loop, never from inside a call made on the device.
// - close() discards unread input and unsent output and emits nothing.
class SerialDevice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual int open(const QString& path, const SerialFraming& framing) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Applies a new framing to the open device: 0, or 8015 when the device refuses it (the
    // device then keeps its previous framing).
    virtual int setFraming(const SerialFraming& framing) = 0;

    virtual qint64 bytesAvailable() const = 0;
    // Takes at most maxSize waiting bytes out of the input buffer.
    virtual QByteArray read(qint64 maxSize) = 0;
    QByteArray readAll() { return read(bytesAvailable()); }

    // Queues the block for sending; false when the device cannot take it.
    virtual bool write(const QByteArray& data) = 0;
    virtual qint64 bytesToWrite() const = 0;

    virtual bool cts() const = 0;
    virtual bool dsr() const = 0;
    virtual bool rts() const = 0;
    virtual bool dtr() const = 0;
    virtual void setRts(bool on) = 0;
    virtual void setDtr(bool on) = 0;

signals:
    void dataArrived();
    void outputDrained();
    void ctsChanged(bool on);
    void dsrChanged(bool on);
    void vanished();
};
